#include "platform/console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>

#include "platform/win32/console_handles.h"
#include "platform/win32/system.h"

namespace platform {

namespace win32 {

bool GoesSomewhere(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace win32

namespace {

// Points the standard handle, the C runtime's descriptor and its stream at the attached console.
bool UseConsoleFor(DWORD standard, int descriptor, FILE* stream) {
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return false;
    const int opened = _open_osfhandle(reinterpret_cast<intptr_t>(console), _O_BINARY);
    if (opened < 0) {
        CloseHandle(console);
        return false;
    }
    const bool moved = opened == descriptor || _dup2(opened, descriptor) == 0;
    if (opened != descriptor) _close(opened);
    if (!moved) return false;
#ifdef _UCRT
    if (_fileno(stream) != descriptor && !std::freopen("CONOUT$", "w", stream)) return false;
#else
    // The runtime of a GUI program may leave the stream without a descriptor, and freopen then refuses it.
    if (_fileno(stream) != descriptor) stream->_file = descriptor;
#endif
    std::clearerr(stream);
    SetStdHandle(standard, reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
    return true;
}

}  // namespace

// Only a console has a mode; a file or pipe in its place has none.
bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? columns : 80;
}

// ConnectStandardError asks for them; a console that refused keeps its mode without the flag.
bool TerminalTakesControlSequences() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0 &&
           (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool ConnectStandardError() {
    // A redirected standard error (a script's pipe or log file) reaches a GUI program as it does a console one,
    // and the C runtime has already taken it up.
    if (!win32::GoesSomewhere(GetStdHandle(STD_ERROR_HANDLE))) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) || !UseConsoleFor(STD_ERROR_HANDLE, 2, stderr)) return false;
        if (!win32::GoesSomewhere(GetStdHandle(STD_OUTPUT_HANDLE))) UseConsoleFor(STD_OUTPUT_HANDLE, 1, stdout);
    }
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode)) {
        // The program's text is UTF-8, and the progress line is rewritten in place with control sequences where
        // the console takes them (Windows 10 and later); an older one refuses the mode and gets plain text.
        SetConsoleOutputCP(CP_UTF8);
        if (!SetConsoleMode(error, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
            SetConsoleMode(error, mode | ENABLE_PROCESSED_OUTPUT);
        // The bytes as they are, for the console to read as UTF-8: a text-mode stream may recode them first.
        _setmode(_fileno(stderr), _O_BINARY);
        // The console decodes each write on its own, and the runtime's printf writes an unbuffered stream byte by
        // byte: a character split so would show as two wrong ones. Every writer flushes at the end of its line.
        std::setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
    }
    return true;
}

}  // namespace platform
