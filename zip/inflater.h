#pragma once
// Raw deflate decoding and the zip CRC-32, from whichever library the build chose: ISA-L where it is
// available (about twice as fast on typical data), zlib elsewhere.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace zipinflate {

class RawInflater {
public:
    RawInflater();  // raises ECompressionError when the library cannot start
    ~RawInflater();
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // The next compressed bytes, once the previous ones are used up (Remaining() is 0); they must stay in place
    // while inflating. The data may come in any number of pieces.
    void SetInput(std::string_view input);
    // Fills up to room bytes at output (at most 4 GiB - 1 a call, more than any zip member holds) and adds what
    // it wrote to made; stops short when the data has ended or the input ran out. Raises ECompressionError on bad
    // data.
    void Inflate(char* output, size_t room, size_t& made);
    // True once the end of the deflate data was reached.
    bool Ended() const;
    // The bytes of the last input not yet used.
    size_t Remaining() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The running CRC-32 of zip and zlib: start from 0, feed the bytes in order.
uint32_t Crc32Update(uint32_t crc, const char* bytes, size_t length);

}  // namespace zipinflate
