#pragma once
// The test process's environment, set so that both the C library and the system's own calls see it.
#include <string>

namespace testsupport {

// An empty value removes the variable on Windows; tests that need a variable set give it a value.
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

// The variable that moves the system's temporary folder (and so the program's private one) elsewhere.
extern const char* const kTempFolderVariable;

}  // namespace testsupport
