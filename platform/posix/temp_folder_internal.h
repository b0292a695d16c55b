#pragma once
// The temporary-folder rule over a given base folder and user, so tests can use their own.
#include <string>
#include <sys/types.h>

namespace platform {

// base + "/orvane-<uid>/" when that is (or can be made) a real folder of `uid` with mode 0700; otherwise a fresh
// mkdtemp folder "base/orvane-<uid>-XXXXXX/", removed when the process ends. Raises Exception when neither can
// be had.
std::string PrivateTempFolderIn(const std::string& base, uid_t uid);

}  // namespace platform
