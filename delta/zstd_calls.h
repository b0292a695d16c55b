#pragma once
// What making and applying a difference share; the program that only applies differences links no compressor.
#include <zstd.h>

#include <string>

#include "delta/delta.h"
#include "platform/mapped_file.h"

namespace delta_internal {

inline platform::MappedFile MapOrRaise(const std::string& path) {
    platform::MappedFile file;
    std::string why;
    if (!file.MapForReading(path, why)) throw EDeltaError(why);
    return file;
}

inline void Check(size_t result, const std::string& doing) {
    if (ZSTD_isError(result)) throw EDeltaError(doing + ": " + ZSTD_getErrorName(result));
}

}  // namespace delta_internal
