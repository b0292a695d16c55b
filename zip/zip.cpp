#include "zip/zip.h"

#include <zlib.h>

#include <algorithm>
#include <future>
#include <memory>
#include <string_view>

#include "platform/stream.h"

namespace {

constexpr std::string_view kLocalHeaderSignature("PK\x03\x04", 4);
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
// Reads of the archive file: large enough that a package is read in a few calls.
constexpr int64_t kFileReadBlock = int64_t{64} << 20;
// Output is produced in slices, so the buffer can grow and the CRC-32 be taken between them.
constexpr size_t kInflateSlice = size_t{4} << 20;
constexpr size_t kFirstOutput = size_t{64} << 10;
constexpr double kMaxGrowth = 16.0;
// The slices of a member written to a stream.
constexpr size_t kStreamSlice = size_t{1} << 20;
// Slices from this size on have their CRC-32 taken on a helper thread while the next one is inflated.
constexpr size_t kBackgroundCrcSlice = size_t{1} << 20;

// The whole file. The size the file reports only bounds each read; the bytes that really arrive decide.
std::string ReadWholeFile(const std::string& fileName) {
    TFileStream file(fileName, TFileStream::Mode::OpenRead);
    const int64_t expected = file.Size();
    std::string bytes;
    for (;;) {
        const int64_t block = std::clamp<int64_t>(expected - static_cast<int64_t>(bytes.size()), 1, kFileReadBlock);
        const size_t start = bytes.size();
        bytes.resize(start + static_cast<size_t>(block) + 1);  // one spare byte notices a file that grew
        const int64_t got = file.Read(bytes.data() + start, block + 1);
        bytes.resize(start + static_cast<size_t>(got));
        if (got <= block) return bytes;
    }
}

// Little-endian fields read from a position; bytes beyond the end read as zero and mark the read as cut.
class FieldReader {
public:
    FieldReader(const std::string& bytes, size_t position) : bytes_(bytes), position_(position) {}

    uint16_t U16() {
        const unsigned low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | static_cast<uint32_t>(U16()) << 16;
    }
    // Moves past a variable part and returns where it starts.
    size_t Skip(size_t length) {
        const size_t start = position_;
        const size_t available = bytes_.size() - std::min(position_, bytes_.size());
        cut_ = cut_ || length > available;
        position_ += std::min(length, available);
        return start;
    }
    size_t Position() const { return position_; }
    bool Cut() const { return cut_; }

private:
    unsigned Byte() {
        if (position_ >= bytes_.size()) {
            cut_ = true;
            return 0;
        }
        return static_cast<unsigned char>(bytes_[position_++]);
    }

    const std::string& bytes_;
    size_t position_;
    bool cut_ = false;
};

bool LocalHeaderAt(const std::string& bytes, size_t position) {
    return std::string_view(bytes).substr(std::min(position, bytes.size()), 4) == kLocalHeaderSignature;
}

// Reads the header that starts at position (after its signature was seen) and returns where the next one starts.
size_t ReadLocalFile(const std::string& bytes, size_t position, TLocalFile& entry) {
    FieldReader reader(bytes, position + kLocalHeaderSignature.size());
    entry.VersionNeeded = reader.U16();
    entry.Flags = reader.U16();
    entry.CompressionMethod = reader.U16();
    entry.LastModTime = reader.U16();
    entry.LastModDate = reader.U16();
    entry.Crc32 = reader.U32();
    entry.CompressedSize = reader.U32();
    entry.UncompressedSize = reader.U32();
    entry.FileNameLength = reader.U16();
    entry.ExtraFieldLength = reader.U16();
    entry.NameOffset = reader.Skip(entry.FileNameLength);
    entry.ExtraOffset = reader.Skip(entry.ExtraFieldLength);
    entry.DataOffset = reader.Skip(entry.CompressedSize);
    entry.Truncated = reader.Cut();
    return reader.Position();
}

// The next size of a full output buffer: the output so far extrapolated over the input still to come, with a
// margin, at least twice and at most kMaxGrowth times the output that really arrived, and never beyond the
// stated size. A stated size that the data does not bear out never decides an allocation, and honest data
// needs only a few steps.
size_t NextOutputSize(size_t current, size_t wanted, size_t consumed, size_t remainingInput) {
    const double arrived = static_cast<double>(current);
    const double rate = arrived / static_cast<double>(std::max<size_t>(consumed, 1));
    const double expected = arrived + rate * static_cast<double>(remainingInput) * 1.25;
    const double next = std::clamp(expected, 2.0 * arrived, kMaxGrowth * arrived);
    return next >= static_cast<double>(wanted) ? wanted : static_cast<size_t>(next);
}

// The CRC-32 of output produced slice by slice. A large slice is checked on a helper thread while the next one
// is inflated; Wait() must be called before the bytes of a slice move or go away.
class SliceCrc {
public:
    ~SliceCrc() { Wait(); }

    void Add(const char* bytes, size_t length) {
        Wait();
        if (length < kBackgroundCrcSlice) {
            crc_ = crc32_z(crc_, reinterpret_cast<const Bytef*>(bytes), length);
            return;
        }
        pendingLength_ = length;
        // The default policy falls back to a deferred call when no thread can be started.
        pending_ = std::async([bytes, length] { return crc32_z(0, reinterpret_cast<const Bytef*>(bytes), length); });
    }
    void Wait() {
        if (!pending_.valid()) return;
        crc_ = crc32_combine(crc_, pending_.get(), static_cast<z_off_t>(pendingLength_));
    }
    uint32_t Value() {
        Wait();
        return static_cast<uint32_t>(crc_);
    }

private:
    uLong crc_ = 0;
    std::future<uLong> pending_;
    size_t pendingLength_ = 0;
};

// Raw deflate into a string that grows as output really arrives, never beyond the stated size. Returns the
// empty string when the data ends before the stated size; raises ECompressionError on data zlib rejects.
class MemberInflater {
public:
    MemberInflater() {
        if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) throw ECompressionError();
    }
    ~MemberInflater() { inflateEnd(&stream_); }
    MemberInflater(const MemberInflater&) = delete;
    MemberInflater& operator=(const MemberInflater&) = delete;

    // The output and its CRC-32.
    std::string Inflate(std::string_view input, size_t wanted, uint32_t& crc) {
        SetInput(input);
        std::string output(std::min(wanted, kFirstOutput), '\0');
        SliceCrc sliceCrc;  // after output: its helper is done before the output goes away
        size_t produced = 0;
        while (produced < wanted) {
            if (produced == output.size()) {
                sliceCrc.Wait();
                output.resize(NextOutputSize(produced, wanted, stream_.total_in, stream_.avail_in));
            }
            const size_t slice = std::min(kInflateSlice, output.size() - produced);
            stream_.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
            stream_.avail_out = static_cast<uInt>(slice);
            const int status = inflate(&stream_, Z_NO_FLUSH);
            const size_t made = slice - stream_.avail_out;
            sliceCrc.Add(output.data() + produced, made);
            produced += made;
            if (status == Z_STREAM_END || status == Z_BUF_ERROR) break;
            if (status != Z_OK) throw ECompressionError();
        }
        crc = produced < wanted ? 0 : sliceCrc.Value();
        if (produced < wanted) return {};
        return output;
    }

    // The output written to the stream a slice at a time; the CRC-32 of what was written, or 0 when the data ended
    // before the stated size. Each slice's CRC-32 is taken on a helper thread while the slice is written.
    uint32_t InflateTo(std::string_view input, size_t wanted, TStream& output) {
        SetInput(input);
        const std::unique_ptr<char[]> slices(new char[2 * kStreamSlice]);
        SliceCrc sliceCrc;  // after the slices: its helper is done before they go away
        size_t produced = 0;
        for (size_t turn = 0; produced < wanted; turn ^= 1) {
            char* slice = slices.get() + turn * kStreamSlice;
            stream_.next_out = reinterpret_cast<Bytef*>(slice);
            stream_.avail_out = static_cast<uInt>(std::min(kStreamSlice, wanted - produced));
            const uInt room = stream_.avail_out;
            const int status = inflate(&stream_, Z_NO_FLUSH);
            const size_t made = room - stream_.avail_out;
            sliceCrc.Add(slice, made);  // waits for the other slice's CRC-32 first, so it can be refilled next
            output.WriteBuffer(slice, static_cast<int64_t>(made));
            produced += made;
            if (status == Z_STREAM_END || status == Z_BUF_ERROR) break;
            if (status != Z_OK) throw ECompressionError();
        }
        return produced < wanted ? 0 : sliceCrc.Value();
    }

private:
    void SetInput(std::string_view input) {
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        stream_.avail_in = static_cast<uInt>(input.size());
    }

    z_stream stream_{};
};

}  // namespace

void TZipFile::LoadFromFile(const std::string& fileName) {
    std::string archive = ReadWholeFile(fileName);
    std::vector<TLocalFile> entries;
    // Bytes before the first header (a self-extractor's program, for instance) are skipped.
    size_t position = std::string_view(archive).find(kLocalHeaderSignature);
    while (position != std::string_view::npos && LocalHeaderAt(archive, position)) {
        position = ReadLocalFile(archive, position, entries.emplace_back());
    }
    // What follows the members (central directory, end record) is not needed to extract them.
    archive_ = std::move(archive);
    entries_ = std::move(entries);
}

const TLocalFile& TZipFile::Entry(int index) const {
    if (index < 0 || index >= Count()) throw Exception("Index out of range.");
    return entries_[static_cast<size_t>(index)];
}

std::string TZipFile::Bytes(size_t offset, size_t length) const {
    return archive_.substr(std::min(offset, archive_.size()), length);
}

std::string TZipFile::MemberName(int index) const {
    const TLocalFile& entry = Entry(index);
    return Bytes(entry.NameOffset, entry.FileNameLength);
}

std::string_view TZipFile::MemberData(const TLocalFile& entry) const {
    return std::string_view(archive_).substr(entry.DataOffset, entry.CompressedSize);
}

std::string TZipFile::Extract(int index) const {
    const TLocalFile& entry = Entry(index);
    uint32_t crc = 0;
    std::string result;
    if (!entry.Truncated && entry.UncompressedSize > 0) {
        const std::string_view data = MemberData(entry);
        if (entry.CompressionMethod == kMethodDeflated) {
            result = MemberInflater().Inflate(data, entry.UncompressedSize, crc);
        } else if (entry.CompressionMethod == kMethodStored) {
            result = data.size() == entry.UncompressedSize ? std::string(data) : std::string();
            crc = ZipCrc32(result);
        } else {
            throw ECompressionError();
        }
    }
    if (entry.Truncated || crc != entry.Crc32) throw EZipFileCRCError(MemberName(index));
    return result;
}

void TZipFile::ExtractTo(int index, TStream& output) const {
    const TLocalFile& entry = Entry(index);
    uint32_t crc = 0;
    if (!entry.Truncated && entry.UncompressedSize > 0) {
        const std::string_view data = MemberData(entry);
        if (entry.CompressionMethod == kMethodDeflated) {
            crc = MemberInflater().InflateTo(data, entry.UncompressedSize, output);
        } else if (entry.CompressionMethod == kMethodStored) {
            // A stored member whose sizes disagree gives nothing, as Extract gives it.
            const std::string_view stored = data.size() == entry.UncompressedSize ? data : std::string_view();
            output.WriteBuffer(stored.data(), static_cast<int64_t>(stored.size()));
            crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(stored.data()), stored.size()));
        } else {
            throw ECompressionError();
        }
    }
    if (entry.Truncated || crc != entry.Crc32) throw EZipFileCRCError(MemberName(index));
}

uint32_t ZipCrc32(const std::string& data) {
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}
