#pragma once
// What the stand-in program does in each system's own way.
#include <string>

#include "platform/process.h"

platform::ProcessId OwnProcessId();
// Starts `self` again without arguments, detached from this process and its output; 0, or 1 when that failed.
int StartInBackground(const std::string& self);
// Waits until the program is asked to close; its exit code.
int RunUntilAskedToClose();
