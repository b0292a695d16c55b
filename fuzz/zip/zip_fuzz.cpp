// Any file loads, and every member either extracts (into memory or a stream) or fails with the reader's own
// exceptions.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/stream.h"
#include "zip/zip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/zip_fuzz_" + std::to_string(getpid()) + ".zip";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));
    TZipFile zip;
    zip.LoadFromFile(path);
    for (int index = 0; index < zip.Count(); ++index) {
        zip.MemberName(index);
        try {
            zip.Extract(index);
        } catch (const ECompressionError&) {
        } catch (const EZipFileCRCError&) {
        }
        try {
            TMemoryStream streamed;
            zip.ExtractTo(index, streamed);
        } catch (const ECompressionError&) {
        } catch (const EZipFileCRCError&) {
        }
    }
    return 0;
}
