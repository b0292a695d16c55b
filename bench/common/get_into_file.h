#pragma once
// The bare HTTP client's download: one GET into a new file on the calling thread, with no event attached.
#include <string>

#include "http/http.h"

namespace benchsupport {

inline void GetIntoFile(const std::string& url, const std::string& file) {
    TFileStream output(file, TFileStream::Mode::Create);
    TIdHTTP http;
    http.Get(url, output);
}

}  // namespace benchsupport
