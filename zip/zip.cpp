#include "zip/zip.h"

#include <algorithm>
#include <future>
#include <memory>
#include <string_view>

#include "platform/stream.h"
#include "zip/inflater.h"

namespace {

constexpr std::string_view kLocalHeaderSignature("PK\x03\x04", 4);
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
// Reads of the archive file: large enough that a package is read in a few calls.
constexpr int64_t kFileReadBlock = int64_t{64} << 20;
constexpr size_t kFirstOutput = size_t{64} << 10;
constexpr double kMaxGrowth = 16.0;
// The slices of a member written to a stream.
constexpr size_t kStreamSlice = size_t{1} << 20;
// Slices from this size on are written on a helper thread while the next one is inflated.
constexpr size_t kBackgroundSlice = size_t{1} << 20;

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

// Writes the slices of a large member on a helper thread, with their CRC-32, while the next slice is inflated.
// Slices are handed over one at a time, in order; Wait() must be called before a handed slice is refilled.
class SliceWriter {
public:
    explicit SliceWriter(TStream& output) : output_(output) {}
    ~SliceWriter() {
        if (pending_.valid()) pending_.wait();  // a failure is already on its way out
    }

    void Add(const char* bytes, size_t length) {
        Wait();
        if (length < kBackgroundSlice) {
            Write(bytes, length);
            return;
        }
        // The default policy falls back to a deferred call when no thread can be started.
        pending_ = std::async([this, bytes, length] { Write(bytes, length); });
    }
    // Raises what the write raised.
    void Wait() {
        if (pending_.valid()) pending_.get();
    }
    uint32_t Crc() {
        Wait();
        return crc_;
    }

private:
    void Write(const char* bytes, size_t length) {
        crc_ = zipinflate::Crc32Update(crc_, bytes, length);
        output_.WriteBuffer(bytes, static_cast<int64_t>(length));
    }

    TStream& output_;
    uint32_t crc_ = 0;
    std::future<void> pending_;
};

// Raw deflate into a string that grows as output really arrives, never beyond the stated size, or into a stream.
// Raises ECompressionError on data the inflater rejects.
class MemberInflater {
public:
    explicit MemberInflater(std::string_view input) { inflater_.SetInput(input); }

    // The output and its CRC-32; the empty string when the data ends before the stated size.
    std::string Inflate(size_t wanted, uint32_t& crc) {
        std::string output(std::min(wanted, kFirstOutput), '\0');
        size_t produced = 0;
        crc = 0;
        for (;;) {
            const size_t start = produced;
            const bool more = inflater_.Inflate(output.data() + produced, output.size() - produced, produced);
            crc = zipinflate::Crc32Update(crc, output.data() + start, produced - start);
            if (!more || produced == wanted) break;
            output.resize(NextOutputSize(produced, wanted, inflater_.Consumed(), inflater_.Remaining()));
        }
        if (produced < wanted) {
            crc = 0;
            return {};
        }
        return output;
    }

    // The output written to the stream a slice at a time; the CRC-32 of what was written, or 0 when the data ended
    // before the stated size.
    uint32_t InflateTo(size_t wanted, TStream& output) {
        const std::unique_ptr<char[]> slices(new char[2 * kStreamSlice]);
        SliceWriter writer(output);  // after the slices: its helper is done before they go away
        size_t produced = 0;
        for (size_t turn = 0; produced < wanted; turn ^= 1) {
            char* slice = slices.get() + turn * kStreamSlice;
            size_t made = 0;
            const bool more = inflater_.Inflate(slice, std::min(kStreamSlice, wanted - produced), made);
            writer.Add(slice, made);  // waits for the other slice first, so that it can be refilled next
            produced += made;
            if (!more) break;
        }
        const uint32_t crc = writer.Crc();
        return produced < wanted ? 0 : crc;
    }

private:
    zipinflate::RawInflater inflater_;
};

}  // namespace

void TZipFile::LoadFromFile(const std::string& fileName) { LoadFromBytes(ReadWholeFile(fileName)); }

void TZipFile::LoadFromBytes(std::string archive) {
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
            result = MemberInflater(data).Inflate(entry.UncompressedSize, crc);
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
            crc = MemberInflater(data).InflateTo(entry.UncompressedSize, output);
        } else if (entry.CompressionMethod == kMethodStored) {
            // A stored member whose sizes disagree gives nothing, as Extract gives it.
            const std::string_view stored = data.size() == entry.UncompressedSize ? data : std::string_view();
            output.WriteBuffer(stored.data(), static_cast<int64_t>(stored.size()));
            crc = zipinflate::Crc32Update(0, stored.data(), stored.size());
        } else {
            throw ECompressionError();
        }
    }
    if (entry.Truncated || crc != entry.Crc32) throw EZipFileCRCError(MemberName(index));
}

uint32_t ZipCrc32(const std::string& data) {
    return zipinflate::Crc32Update(0, data.data(), data.size());
}
