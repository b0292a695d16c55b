#pragma once
// Differences between two versions of a file, made and applied with libzstd's patch mode: the new version is
// compressed against the old one as its prefix, with long-distance matching, so a difference costs about the bytes
// that really changed. Applying maps the old version and the rebuilt file rather than holding either in memory.
// Knows nothing of catalogues.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/exception.h"

// A difference that cannot be made or applied: damaged, made from another base, rebuilding another size than
// expected, or too large for the program's address space. The message says which, in one line.
class EDeltaError : public Exception {
public:
    using Exception::Exception;
};

// The level differences are made at unless the publisher is told otherwise; see the README's table of sizes and
// times measured on a 64 MB database.
constexpr int DefaultDeltaLevel = 9;

// Writes into `deltaFile` a difference that rebuilds `newFile` from `baseFile`. Raises EDeltaError.
void MakeDelta(const std::string& baseFile, const std::string& newFile, const std::string& deltaFile,
               int level = DefaultDeltaLevel);

// Sees the rebuilt file's bytes once, in order, so that its digests need no second read.
using TRebuiltBytes = std::function<void(const char* bytes, std::size_t length)>;
// Rebuilds into `outputFile` (made afresh) the file that `deltaFile` makes from `baseFile`; it must come out at
// exactly `expectedSize` bytes. `seen` gets every byte of the result. Raises EDeltaError; the output file is the
// caller's to remove on every way out.
void ApplyDelta(const std::string& baseFile, const std::string& deltaFile, const std::string& outputFile,
                std::int64_t expectedSize, const TRebuiltBytes& seen);
