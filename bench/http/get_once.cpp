// One GET of a URL into a file with the HTTP client: the measured side of the download comparison.
#include <cstdio>

#include "http/http.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL OUTPUT-FILE\n", argv[0]);
        return 2;
    }
    try {
        TFileStream output(argv[2], TFileStream::Mode::Create);
        TIdHTTP http;
        http.Get(argv[1], output);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
