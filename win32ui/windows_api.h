#pragma once
// <windows.h> and the common controls for the wizard's window. Include it after UnitOrvane's headers: their
// message box constants and the names MessageBox and GetMessage would otherwise be taken by Windows' macros.
#include "UnitOrvane/UnitOrvane.h"

#include <windows.h>
#include <commctrl.h>

#undef MessageBox
#undef GetMessage
