#pragma once
// Another local user, for tests that run as root and need someone else's processes or files.
#include <sys/types.h>

namespace testsupport {

// The unprivileged "nobody".
constexpr uid_t kNobody = 65534;

}  // namespace testsupport
