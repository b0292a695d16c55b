#pragma once
// <windows.h> without the A/W macros whose names the platform layer uses for its own functions.
#include <winsock2.h>
#include <windows.h>

#undef CreateDirectory
#undef DeleteFile
#undef ExpandEnvironmentStrings
#undef RemoveDirectory
#undef ReplaceFile
