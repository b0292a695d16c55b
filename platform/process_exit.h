#pragma once
// Ending the process at once.

namespace platform {

// Flushes standard output and error (the C++ streams and the C streams beneath them), then ends the process
// with the exit code without running exit handlers or destroying static objects: other threads may still be
// using those objects.
[[noreturn]] void EndProcessNow(int exitCode);

}  // namespace platform
