#include <cstdlib>

#include "tests/support/environment.h"

namespace testsupport {

// _putenv_s changes the system's environment block as well, which GetTempPathW and the like read.
void SetEnvironment(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());
}

void UnsetEnvironment(const std::string& name) { _putenv_s(name.c_str(), ""); }

const char* const kTempFolderVariable = "TMP";

}  // namespace testsupport
