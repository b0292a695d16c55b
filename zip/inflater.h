#pragma once
// Raw deflate decoding and the zip CRC-32, from whichever library the build chose: ISA-L where it is
// available (about twice as fast on typical data), zlib elsewhere.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace zipinflate {

// What one call to Inflate achieved.
enum class Step {
    Progress,  // the output room was filled; there may be more
    End,       // the deflate data ended
    Stalled,   // the input ran out before the data ended
};

class RawInflater {
public:
    RawInflater();  // raises ECompressionError when the library cannot start
    ~RawInflater();
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // The compressed bytes; they must stay in place while inflating.
    void SetInput(std::string_view input);
    // Fills up to room bytes at output and adds what it wrote to made; raises ECompressionError on bad data.
    Step Inflate(char* output, size_t room, size_t& made);
    size_t Consumed() const;
    size_t Remaining() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The running CRC-32 of zip and zlib: start from 0, feed the bytes in order.
uint32_t Crc32Update(uint32_t crc, const char* bytes, size_t length);

}  // namespace zipinflate
