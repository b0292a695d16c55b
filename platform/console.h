#pragma once
// What the windowless modes may know of the console they run on.

namespace platform {

// True when standard error is a terminal a person reads, not a file, pipe or nothing.
bool StandardErrorIsTerminal();
// The width of that terminal in columns; 80 when it cannot be had.
int TerminalColumns();

}  // namespace platform
