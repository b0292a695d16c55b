#include "platform/process.h"

#include "platform/win32/system.h"

#include <objbase.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <map>
#include <mutex>

#include "platform/files.h"
#include "platform/process_exit.h"
#include "platform/win32/text.h"

namespace platform {

namespace {

// The processes this one started and still has to wait for, by id: Windows waits on handles, callers on ids.
class StartedProcesses {
public:
    void Add(ProcessId id, HANDLE process) {
        const std::lock_guard<std::mutex> lock(mutex_);
        handles_[id] = process;
    }
    HANDLE Take(ProcessId id) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = handles_.find(id);
        if (found == handles_.end()) return nullptr;
        const HANDLE process = found->second;
        handles_.erase(found);
        return process;
    }

private:
    std::mutex mutex_;
    std::map<ProcessId, HANDLE> handles_;
};

StartedProcesses& Started() {
    static StartedProcesses started;
    return started;
}

HANDLE Handle(const ProcessHandle& process) { return reinterpret_cast<HANDLE>(process.Native()); }

// The snapshot functions are looked up by name: systems without them simply list nothing.
struct Toolhelp {
    using Snapshot = HANDLE(WINAPI*)(DWORD, DWORD);
    using Walk = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
    Snapshot createSnapshot = nullptr;
    Walk first = nullptr;
    Walk next = nullptr;
};

Toolhelp LoadToolhelp() {
    Toolhelp functions;
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return functions;
    functions.createSnapshot = reinterpret_cast<Toolhelp::Snapshot>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
    functions.first = reinterpret_cast<Toolhelp::Walk>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32FirstW")));
    functions.next = reinterpret_cast<Toolhelp::Walk>(reinterpret_cast<void*>(GetProcAddress(kernel, "Process32NextW")));
    return functions;
}

bool SameName(std::string_view a, std::string_view b, LetterCase letterCase) {
    if (letterCase == LetterCase::Significant) return a == b;
    return CompareStringOrdinal(win32::Wide(a).c_str(), -1, win32::Wide(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::string ImagePath(HANDLE process) {
    wchar_t path[MAX_PATH * 4] = {};
    DWORD length = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process, 0, path, &length)) return {};
    return win32::Utf8(std::wstring_view(path, length));
}

// The entry for a listed process, held for waiting from now on; nothing when it has ended. A process this one
// may not open at all (an elevated program, a service) still runs: it is listed by name, without a handle.
std::optional<ProcessEntry> HoldProcess(const PROCESSENTRY32W& listed) {
    ProcessEntry entry;
    entry.pid = listed.th32ProcessID;
    entry.exeName = win32::Utf8(listed.szExeFile);
    const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, listed.th32ProcessID);
    if (process == nullptr) {
        if (GetLastError() == ERROR_ACCESS_DENIED) return entry;
        return std::nullopt;
    }
    entry.executablePath = ImagePath(process);
    entry.process = ProcessHandle(reinterpret_cast<std::intptr_t>(process));
    if (ProcessHasEnded(entry.process)) return std::nullopt;
    return entry;
}

// The shell's handlers of some documents are COM objects, which want COM started on the calling thread.
class ComForThisThread {
public:
    ComForThisThread() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComForThisThread() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComForThisThread(const ComForThisThread&) = delete;
    ComForThisThread& operator=(const ComForThisThread&) = delete;

private:
    HRESULT result_;
};

std::string QuotedArguments(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) line += (line.empty() ? "" : " ") + QuoteArgument(argument);
    return line;
}

// A document (no executable image) is opened by the shell with its default action. Without zone checks, a file
// on a network path does not stop at a security prompt that nobody may be there to answer.
HANDLE OpenDocument(const std::wstring& file, const std::wstring& parameters) {
    const ComForThisThread com;
    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
    start.lpFile = file.c_str();
    start.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    start.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&start)) return nullptr;
    return start.hProcess;
}

// Starts the file with exactly these arguments: an executable directly, anything else through the shell.
HANDLE Launch(const std::string& file, const std::vector<std::string>& arguments) {
    const std::wstring wideFile = win32::Wide(file);
    const std::wstring parameters = win32::Wide(QuotedArguments(arguments));
    std::wstring commandLine = win32::Wide(QuoteArgument(file)) + (parameters.empty() ? L"" : L" " + parameters);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(wideFile.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &started)) {
        CloseHandle(started.hThread);
        return started.hProcess;
    }
    return GetLastError() == ERROR_BAD_EXE_FORMAT ? OpenDocument(wideFile, parameters) : nullptr;
}

std::optional<ProcessId> Start(const std::string& file, const std::vector<std::string>& arguments, Reaping reaping) {
    if (!FileExists(file)) return std::nullopt;
    const HANDLE process = Launch(file, arguments);
    if (process == nullptr) return std::nullopt;
    const ProcessId id = GetProcessId(process);
    if (reaping == Reaping::Automatically) {
        CloseHandle(process);  // a process needs nobody to wait for it on Windows
    } else {
        Started().Add(id, process);
    }
    return id;
}

// Top-level windows of the process get WM_CLOSE, as when a person closes them.
BOOL CALLBACK CloseWindowOf(HWND window, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

namespace win32 {

void OpenWithShell(const std::string& file) {
    if (const HANDLE process = OpenDocument(Wide(file), L"")) CloseHandle(process);
}

}  // namespace win32

// argv is in the ANSI code page, which cannot hold every character of a file name, and the C runtime's rules
// read a backslash before a quote as an escape: SFLD="C:\Share\" would swallow the arguments after it.
std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
    return SplitProgramCommandLine(win32::Utf8(GetCommandLineW()));
}

std::string ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return win32::Utf8(std::wstring_view(path.data(), length));
        path.resize(path.size() * 2);
    }
}

std::optional<ProcessId> StartProcess(const std::string& file, const std::string& parameters, Reaping reaping) {
    return Start(file, SplitCommandLine(parameters), reaping);
}

int WaitForProcess(ProcessId pid) {
    const HANDLE process = Started().Take(pid);
    if (process == nullptr) return -1;
    DWORD exitCode = 0;
    const bool ended = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    return ended ? static_cast<int>(exitCode) : -1;
}

ProcessHandle::~ProcessHandle() {
    if (!IsEmpty()) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        if (!IsEmpty()) CloseHandle(reinterpret_cast<HANDLE>(native_));
        native_ = other.Release();
    }
    return *this;
}

std::vector<ProcessEntry> ProcessSnapshot(std::string_view exeName, LetterCase letterCase) {
    std::vector<ProcessEntry> entries;
    static const Toolhelp toolhelp = LoadToolhelp();
    if (toolhelp.createSnapshot == nullptr || toolhelp.first == nullptr || toolhelp.next == nullptr) return entries;
    const HANDLE snapshot = toolhelp.createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return entries;
    PROCESSENTRY32W listed{};
    listed.dwSize = sizeof listed;
    for (BOOL more = toolhelp.first(snapshot, &listed); more; more = toolhelp.next(snapshot, &listed)) {
        if (!SameName(win32::Utf8(listed.szExeFile), exeName, letterCase)) continue;
        if (auto entry = HoldProcess(listed)) entries.push_back(std::move(*entry));
    }
    CloseHandle(snapshot);
    return entries;
}

// Terminate rights are asked for only here: a process held for waiting may refuse them. While it is held, its
// id names no other process.
bool TerminateProcess(const ProcessHandle& process) {
    if (process.IsEmpty() || ProcessHasEnded(process)) return false;
    const HANDLE terminable = OpenProcess(PROCESS_TERMINATE, FALSE, GetProcessId(Handle(process)));
    if (terminable == nullptr) return false;
    const bool terminated = ::TerminateProcess(terminable, 0) != 0;
    CloseHandle(terminable);
    return terminated;
}

bool AskProcessToClose(const ProcessHandle& process) {
    if (process.IsEmpty() || ProcessHasEnded(process)) return false;
    return EnumWindows(CloseWindowOf, static_cast<LPARAM>(GetProcessId(Handle(process)))) != 0;
}

bool ProcessHasEnded(const ProcessHandle& process) {
    return process.IsEmpty() || WaitForSingleObject(Handle(process), 0) == WAIT_OBJECT_0;
}

void ReplaceProcess(const std::string& file, const std::vector<std::string>& arguments) {
    const std::vector<std::string> passed(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
    const std::optional<ProcessId> started = Start(file, passed, Reaping::ByCaller);
    if (started) EndProcessNow(WaitForProcess(*started));
}

}  // namespace platform
