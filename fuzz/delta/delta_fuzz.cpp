// Any bytes offered as the difference of a small fixed base either rebuild a file or fail with EDeltaError. The
// input passes the offered size and SHA-256 (they are its own), so every input reaches the decoder; the size it
// must rebuild is the one its frame names, capped at 1 MB as an entry's size would be.
#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "catalogue/catalogue.h"
#include "delta/delta.h"
#include "signing/signing.h"

namespace {

const std::string kFolder = "/tmp/delta_fuzz_" + std::to_string(getpid()) + "_";

// The run's files go when the fuzzer exits.
struct RemovedAtExit {
    ~RemovedAtExit() {
        for (const char* name : {"base", "delta", "rebuilt"}) std::remove((kFolder + name).c_str());
    }
} removedAtExit;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// 2,000 numbered lines: scripts can make the same base to make seeds against it
// (seq -f 'record %05g of the fuzzing base' 0 1999).
std::string FixedBase() {
    std::string base;
    char line[64];
    for (int i = 0; i < 2000; ++i) {
        std::snprintf(line, sizeof line, "record %05d of the fuzzing base\n", i);
        base += line;
    }
    return base;
}

int32_t SizeToRebuild(const std::string& delta) {
    constexpr unsigned long long kCap = 1 << 20;
    const unsigned long long named = ZSTD_getFrameContentSize(delta.data(), delta.size());
    if (named == ZSTD_CONTENTSIZE_ERROR || named == ZSTD_CONTENTSIZE_UNKNOWN) return static_cast<int32_t>(delta.size());
    return static_cast<int32_t>(named < kCap ? named : kCap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string baseFile = [] {
        Write(kFolder + "base", FixedBase());
        return kFolder + "base";
    }();
    if (size == 0 || size > INT32_MAX) return 0;
    const std::string delta(reinterpret_cast<const char*>(data), size);
    Write(kFolder + "delta", delta);
    const TDeltaRef offered{0, "", static_cast<int32_t>(size), Sha256Hex(delta), "delta"};
    try {
        RebuildFromDelta(offered, baseFile, kFolder + "delta", kFolder + "rebuilt", SizeToRebuild(delta), true);
    } catch (const EDeltaError&) {
    }
    return 0;
}
