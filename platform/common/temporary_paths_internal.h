#pragma once
// What each system supplies to the registry of temporary paths.
#include <cstddef>

#include "platform/temporary_paths.h"

namespace platform {

inline constexpr std::size_t kMaxTemporaryPath = 4096;

// Removes what a temporary path of that kind stands for. On POSIX only calls that are safe in a signal handler.
void RemoveTemporary(const char* path, TemporaryPath::Kind kind);
// Installs the handler that removes the registered paths when the process is told to end.
void InstallTerminationHandler();
// Removes every registered path; safe in that handler.
void RemoveRegisteredPaths();

}  // namespace platform
