#pragma once
// Ending the process at once, or handing it over to another program.
#include <string>
#include <vector>

namespace platform {

// Flushes standard output and error (the C++ streams and the C streams beneath them), then ends the process
// with the exit code without running exit handlers or destroying static objects: other threads may still be
// using those objects.
[[noreturn]] void EndProcessNow(int exitCode);

// Runs `file` in this process's place with `arguments` (element 0 included), after flushing the standard
// streams: the same process, environment and open files. Where a process cannot change its program, `file` is
// started, waited for, and this process ends with its status. Returns only when `file` cannot be started.
void ReplaceProcess(const std::string& file, const std::vector<std::string>& arguments);

}  // namespace platform
