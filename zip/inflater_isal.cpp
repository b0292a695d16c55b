#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>

#include "zip/inflater.h"
#include "zip/zip.h"

namespace zipinflate {

namespace {
// The library counts in 32 bits.
constexpr size_t kLargestRoom = std::numeric_limits<uint32_t>::max();
}  // namespace

struct RawInflater::State {
    inflate_state stream;
};

RawInflater::RawInflater() : state_(std::make_unique<State>()) {
    isal_inflate_init(&state_->stream);
    state_->stream.crc_flag = ISAL_DEFLATE;  // raw deflate, no wrapper and no checksum
}

RawInflater::~RawInflater() = default;

void RawInflater::SetInput(std::string_view input) {
    // A zip member's compressed size is a 32-bit field, so its data always fits.
    state_->stream.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(input.data()));
    state_->stream.avail_in = static_cast<uint32_t>(std::min<size_t>(input.size(), kLargestRoom));
}

void RawInflater::Inflate(char* output, size_t room, size_t& made) {
    inflate_state& stream = state_->stream;
    stream.next_out = reinterpret_cast<uint8_t*>(output);
    stream.avail_out = static_cast<uint32_t>(std::min(room, kLargestRoom));
    const uint32_t offered = stream.avail_out;
    if (isal_inflate(&stream) != ISAL_DECOMP_OK) throw ECompressionError();
    made += offered - stream.avail_out;
}

bool RawInflater::Ended() const { return state_->stream.block_state == ISAL_BLOCK_FINISH; }

size_t RawInflater::Remaining() const { return state_->stream.avail_in; }

uint32_t Crc32Update(uint32_t crc, const char* bytes, size_t length) {
    return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(bytes), length);
}

}  // namespace zipinflate
