#include "platform/process_exit.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace platform {

void EndProcessNow(int exitCode) {
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(exitCode);
}

}  // namespace platform
