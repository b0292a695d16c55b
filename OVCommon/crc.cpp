#include <zlib.h>

#include <memory>

#include "OVCommon/OVCommon.h"
#include "platform/files.h"

uint32_t CrcUpdate(uint32_t crc, const void* buffer, size_t length) {
    if (buffer == nullptr || length == 0) return crc;
    // zlib keeps the register inverted on both sides; undo that to get the plain register.
    return ~static_cast<uint32_t>(crc32_z(~crc & 0xFFFFFFFFUL, static_cast<const Bytef*>(buffer), length));
}

uint32_t FileCrc(const std::string& fileName) {
    platform::File file;
    if (!file.OpenRead(fileName)) return 0;
    return FileCrc(file);
}

uint32_t FileCrc(platform::File& file) {
    constexpr size_t BlockSize = 64 * 1024;
    // Not zero-filled: a run over many small files would otherwise spend its time clearing the buffer.
    const std::unique_ptr<unsigned char[]> block(new unsigned char[BlockSize]);
    uint32_t crc = 0;
    std::ptrdiff_t count = 0;
    // A short read ends the file: the end was reached or the device failed.
    do {
        count = file.Read(block.get(), BlockSize);
        if (count > 0) crc = CrcUpdate(crc, block.get(), static_cast<size_t>(count));
    } while (count == static_cast<std::ptrdiff_t>(BlockSize));
    return crc;
}
