#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/console.h"

namespace platform {

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

bool TerminalTakesControlSequences() { return true; }

// A POSIX program inherits its standard error as it is; there is nothing to attach to.
bool ConnectStandardError() { return ::fcntl(STDERR_FILENO, F_GETFD) != -1; }

}  // namespace platform
