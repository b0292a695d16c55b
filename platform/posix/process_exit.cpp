#include "platform/process_exit.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace platform {

void EndProcessNow(int exitCode) {
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(exitCode);
}

}  // namespace platform
