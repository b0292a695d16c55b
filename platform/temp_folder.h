#pragma once
// The private per-user temporary folder.
#include <string>

namespace platform {

// `$TMPDIR` (or /tmp, when that is not set or names no folder) + "orvane-<uid>/", mode 0700, created on first
// use. When that name is a symbolic link, not a folder, or belongs to someone else, a fresh folder made by
// mkdtemp beside it is used instead (and kept while $TMPDIR stays the same). Always ends with '/'. Raises
// Exception, naming the folder, when no folder can be had at all.
std::string PrivateTempFolder();

// Removes, with everything in them, the fallback folders this process made. Runs by itself when the process
// ends normally; a process that ends at once, without exit handlers, calls it first.
void RemoveTempFallbackFolders();

}  // namespace platform
