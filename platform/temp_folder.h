#pragma once
// The private per-user temporary folder.
#include <string>

namespace platform {

// `$TMPDIR` (or /tmp, when that is not set or names no folder) + "orvane-<uid>/", mode 0700, created on first
// use. When that name is a symbolic link, not a folder, or belongs to someone else, a fresh folder made by
// mkdtemp beside it is used instead (and kept while $TMPDIR stays the same). Always ends with '/'; empty only
// when no folder could be had at all.
std::string PrivateTempFolder();

}  // namespace platform
