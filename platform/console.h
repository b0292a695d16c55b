#pragma once
// What the windowless modes may know of the console they run on.

namespace platform {

// True when standard error is a terminal a person reads, not a file, pipe or nothing.
bool StandardErrorIsTerminal();
// The width of that terminal in columns; 80 when it cannot be had.
int TerminalColumns();
// True when that terminal takes the control sequences that rewrite a line in place. A Windows console before
// Windows 10 refuses them and would show them as text.
bool TerminalTakesControlSequences();

// Called once at start: lets standard error reach the console the program was started from. A Windows program
// of the GUI subsystem gets no console of its own, only its parent's by attaching to it; a standard error that
// already goes to a file or pipe is kept. A console then takes UTF-8 text and the terminal's control sequences.
// Returns true when standard error goes somewhere (a console, file or pipe).
bool ConnectStandardError();

}  // namespace platform
