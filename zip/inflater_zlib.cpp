#include <zlib.h>

#include <algorithm>
#include <limits>

#include "zip/inflater.h"
#include "zip/zip.h"

namespace zipinflate {

namespace {
// zlib counts in uInt.
constexpr size_t kLargestRoom = std::numeric_limits<uInt>::max();
}  // namespace

struct RawInflater::State {
    z_stream stream{};
    bool ended = false;
};

RawInflater::RawInflater() : state_(std::make_unique<State>()) {
    if (inflateInit2(&state_->stream, -MAX_WBITS) != Z_OK) throw ECompressionError();
}

RawInflater::~RawInflater() { inflateEnd(&state_->stream); }

void RawInflater::SetInput(std::string_view input) {
    // A zip member's compressed size is a 32-bit field, so its data always fits.
    state_->stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    state_->stream.avail_in = static_cast<uInt>(std::min<size_t>(input.size(), kLargestRoom));
}

void RawInflater::Inflate(char* output, size_t room, size_t& made) {
    z_stream& stream = state_->stream;
    stream.next_out = reinterpret_cast<Bytef*>(output);
    stream.avail_out = static_cast<uInt>(std::min(room, kLargestRoom));
    const uInt offered = stream.avail_out;
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) throw ECompressionError();
    made += offered - stream.avail_out;
    state_->ended = status == Z_STREAM_END;
}

bool RawInflater::Ended() const { return state_->ended; }

size_t RawInflater::Remaining() const { return state_->stream.avail_in; }

uint32_t Crc32Update(uint32_t crc, const char* bytes, size_t length) {
    return static_cast<uint32_t>(crc32_z(crc, reinterpret_cast<const Bytef*>(bytes), length));
}

}  // namespace zipinflate
