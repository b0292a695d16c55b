// One GET of a URL into a file with the HTTP client: the measured side of the download comparison.
#include <cstdio>

#include "bench/common/get_into_file.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL OUTPUT-FILE\n", argv[0]);
        return 2;
    }
    try {
        benchsupport::GetIntoFile(argv[1], argv[2]);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
