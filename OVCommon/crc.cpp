#include <zlib.h>

#include <memory>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "OVCommon/OVCommon.h"
#include "platform/files.h"

namespace {

uint32_t ZlibCrc(uint32_t crc, const unsigned char* bytes, size_t length) {
    // zlib keeps the register inverted on both sides; undo that to get the plain register.
    return ~static_cast<uint32_t>(crc32_z(~crc & 0xFFFFFFFFUL, bytes, length));
}

#if defined(__x86_64__)
// zlib's table-driven CRC reads about 4 GB/s, so checking a large shared file cost more than reading it.
// Carry-less multiplication folds 64 bytes a step into four 128-bit lanes, then reduces them to the 32-bit
// register with the folding constants and Barrett reduction of the reflected polynomial 0xEDB88320.
#define ORVANE_CLMUL __attribute__((target("pclmul,sse4.1")))

ORVANE_CLMUL __m128i Load(const unsigned char* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// The lane carried over the distance the constants stand for, plus the bytes that follow there.
ORVANE_CLMUL __m128i Fold(__m128i lane, __m128i constants, __m128i next) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(lane, constants, 0x00), _mm_clmulepi64_si128(lane, constants, 0x11)),
        next);
}

// The length is at least 64 and a multiple of 16.
ORVANE_CLMUL uint32_t ClmulCrc(uint32_t crc, const unsigned char* bytes, size_t length) {
    const __m128i by64 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i by16 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i by4 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i a = _mm_xor_si128(Load(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i b = Load(bytes + 16), c = Load(bytes + 32), d = Load(bytes + 48);
    for (bytes += 64, length -= 64; length >= 64; bytes += 64, length -= 64) {
        a = Fold(a, by64, Load(bytes));
        b = Fold(b, by64, Load(bytes + 16));
        c = Fold(c, by64, Load(bytes + 32));
        d = Fold(d, by64, Load(bytes + 48));
    }
    a = Fold(Fold(Fold(a, by16, b), by16, c), by16, d);
    for (; length >= 16; bytes += 16, length -= 16) a = Fold(a, by16, Load(bytes));
    // 128 bits to 64, 64 to 32, then the register.
    a = _mm_xor_si128(_mm_srli_si128(a, 8), _mm_clmulepi64_si128(a, by16, 0x10));
    a = _mm_xor_si128(_mm_srli_si128(a, 4), _mm_clmulepi64_si128(_mm_and_si128(a, low32), by4, 0x00));
    __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(a, low32), barrett, 0x10);
    quotient = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), barrett, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(a, quotient), 1));
}

bool HasClmul() {
    static const bool supported = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return supported;
}
#endif

}  // namespace

uint32_t CrcUpdate(uint32_t crc, const void* buffer, size_t length) {
    if (buffer == nullptr || length == 0) return crc;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
#if defined(__x86_64__)
    if (length >= 64 && HasClmul()) {
        const size_t folded = length & ~size_t{15};
        crc = ClmulCrc(crc, bytes, folded);
        bytes += folded;
        length -= folded;
    }
#endif
    return ZlibCrc(crc, bytes, length);
}
uint32_t FileCrc(const std::string& fileName) {
    platform::File file;
    if (!file.OpenRead(fileName)) return 0;
    return FileCrc(file);
}

uint32_t FileCrc(platform::File& file) {
    constexpr size_t BlockSize = 64 * 1024;
    // Not zero-filled, and kept for the thread's next file: a run over many small files would otherwise spend
    // its time clearing and allocating the buffer.
    thread_local const std::unique_ptr<unsigned char[]> block(new unsigned char[BlockSize]);
    uint32_t crc = 0;
    std::ptrdiff_t count = 0;
    // A short read ends the file: the end was reached or the device failed.
    do {
        count = file.Read(block.get(), BlockSize);
        if (count > 0) crc = CrcUpdate(crc, block.get(), static_cast<size_t>(count));
    } while (count == static_cast<std::ptrdiff_t>(BlockSize));
    return crc;
}
