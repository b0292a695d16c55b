#pragma once
// What the Win32 platform layer shares about standard handles.
#include "platform/win32/system.h"

namespace platform::win32 {

// True when the handle leads somewhere: a console, file or pipe. A GUI program started without a console or
// redirection has none, or an invalid one.
bool GoesSomewhere(HANDLE handle);

}  // namespace platform::win32
