#include "zip/zip.h"

#include <algorithm>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/stream.h"
#include "zip/inflater.h"

// The archive's bytes by position: an archive in memory hands out views of itself, one in a file reads them.
class TZipFile::Source {
public:
    virtual ~Source() = default;
    virtual uint64_t Size() const = 0;
    // Up to length bytes from offset, fewer only at the end; a file source reads them into buffer.
    virtual std::string_view Read(uint64_t offset, size_t length, std::string& buffer) const = 0;
};

namespace {

constexpr std::string_view kLocalHeaderSignature("PK\x03\x04", 4);
constexpr size_t kFixedHeader = 30;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
// A member's data is read from its file in blocks of this size as it is inflated, and the first header is looked
// for in blocks of it: big enough to cost few reads, small beside a database.
constexpr size_t kFileReadBlock = size_t{1} << 20;
constexpr size_t kFirstOutput = size_t{64} << 10;
constexpr double kMaxGrowth = 16.0;
// The slices of a member written to a stream.
constexpr size_t kStreamSlice = size_t{1} << 20;
// Slices from this size on are written on a helper thread while the next one is inflated.
constexpr size_t kBackgroundSlice = size_t{1} << 20;

class MemorySource : public TZipFile::Source {
public:
    explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    std::string_view Read(uint64_t offset, size_t length, std::string&) const override {
        return std::string_view(bytes_).substr(static_cast<size_t>(std::min<uint64_t>(offset, bytes_.size())), length);
    }

private:
    const std::string bytes_;
};

// The file stays open while the archive is in use; reads from several threads take turns at its one position.
class FileSource : public TZipFile::Source {
public:
    explicit FileSource(const std::string& fileName)
        : file_(fileName, TFileStream::Mode::OpenRead), size_(static_cast<uint64_t>(file_.Size())) {}
    uint64_t Size() const override { return size_; }
    std::string_view Read(uint64_t offset, size_t length, std::string& buffer) const override {
        buffer.resize(static_cast<size_t>(std::min<uint64_t>(length, size_ - std::min(offset, size_))));
        if (buffer.empty()) return {};
        std::lock_guard guard(lock_);
        file_.SetPosition(static_cast<int64_t>(offset));
        buffer.resize(static_cast<size_t>(file_.Read(buffer.data(), static_cast<int64_t>(buffer.size()))));
        return buffer;
    }

private:
    mutable std::mutex lock_;
    mutable TFileStream file_;
    const uint64_t size_;
};

uint16_t U16(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}
uint32_t U32(std::string_view bytes, size_t at) { return U16(bytes, at) | static_cast<uint32_t>(U16(bytes, at + 2)) << 16; }

// Where the first local header starts: bytes before it (a self-extractor's program, say) are skipped.
std::optional<uint64_t> FirstHeader(const TZipFile::Source& source) {
    std::string buffer;
    const size_t overlap = kLocalHeaderSignature.size() - 1;
    for (uint64_t offset = 0; offset < source.Size(); offset += kFileReadBlock - overlap) {
        const std::string_view block = source.Read(offset, kFileReadBlock, buffer);
        const size_t found = block.find(kLocalHeaderSignature);
        if (found != std::string_view::npos) return offset + found;
        if (block.size() < kFileReadBlock) break;
    }
    return std::nullopt;
}

bool LocalHeaderAt(const TZipFile::Source& source, uint64_t position) {
    std::string buffer;
    return source.Read(position, kLocalHeaderSignature.size(), buffer) == kLocalHeaderSignature;
}

// Reads the header that starts at position (after its signature was seen), and its name; returns where the next
// header starts. Fields beyond the end of the archive read as zero and mark the member as cut short.
uint64_t ReadLocalFile(const TZipFile::Source& source, uint64_t position, TLocalFile& entry, std::string& name) {
    std::string buffer;
    std::string fixed(source.Read(position, kFixedHeader, buffer));
    const bool headerCut = fixed.size() < kFixedHeader;
    fixed.resize(kFixedHeader, '\0');
    entry.VersionNeeded = U16(fixed, 4);
    entry.Flags = U16(fixed, 6);
    entry.CompressionMethod = U16(fixed, 8);
    entry.LastModTime = U16(fixed, 10);
    entry.LastModDate = U16(fixed, 12);
    entry.Crc32 = U32(fixed, 14);
    entry.CompressedSize = U32(fixed, 18);
    entry.UncompressedSize = U32(fixed, 22);
    entry.FileNameLength = U16(fixed, 26);
    entry.ExtraFieldLength = U16(fixed, 28);
    entry.NameOffset = position + kFixedHeader;
    entry.ExtraOffset = entry.NameOffset + entry.FileNameLength;
    entry.DataOffset = entry.ExtraOffset + entry.ExtraFieldLength;
    name = source.Read(entry.NameOffset, entry.FileNameLength, buffer);
    const uint64_t end = entry.DataOffset + entry.CompressedSize;
    entry.Truncated = headerCut || end > source.Size();
    return std::min(end, source.Size());
}

// A member's compressed data a block at a time: views of an archive in memory, reads of one in its file.
class DataPieces {
public:
    DataPieces(const TZipFile::Source& source, const TLocalFile& entry)
        : source_(source), next_(entry.DataOffset), end_(entry.DataOffset + entry.CompressedSize) {}

    // Empty once the data is used up.
    std::string_view Next() {
        const auto length = static_cast<size_t>(std::min<uint64_t>(end_ - next_, kFileReadBlock));
        const std::string_view piece = source_.Read(next_, length, buffer_);
        next_ += piece.size();
        return piece;
    }
    // The bytes not yet handed out.
    uint64_t Left() const { return end_ - next_; }

private:
    const TZipFile::Source& source_;
    uint64_t next_;
    const uint64_t end_;
    std::string buffer_;
};

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

// A member's uncompressed bytes, a room at a time: deflated data inflated, stored data copied, its data taken
// piece by piece as it is used. Raises ECompressionError for another method and on data the inflater rejects.
class MemberReader {
public:
    MemberReader(const TZipFile::Source& source, const TLocalFile& entry)
        : pieces_(source, entry), compressedSize_(entry.CompressedSize) {
        if (entry.CompressionMethod == kMethodDeflated) inflater_.emplace();
        else if (entry.CompressionMethod != kMethodStored) throw ECompressionError();
        // A stored member whose sizes disagree gives nothing.
        ended_ = !inflater_ && entry.CompressedSize != entry.UncompressedSize;
    }

    // Fills up to room bytes at output; fewer only once the data has ended.
    size_t Fill(char* output, size_t room) {
        size_t made = 0;
        while (made < room && !ended_) {
            if (input_.empty() && !exhausted_) TakeNextPiece();
            if (inflater_) Inflate(output, room, made);
            else if (exhausted_) ended_ = true;  // the data ends before the member does
            else Copy(output, room, made);
        }
        return made;
    }
    uint64_t Consumed() const { return compressedSize_ - InputLeft(); }
    uint64_t InputLeft() const { return pieces_.Left() + input_.size(); }

private:
    void TakeNextPiece() {
        input_ = pieces_.Next();
        exhausted_ = input_.empty();
        if (inflater_ && !exhausted_) inflater_->SetInput(input_);
    }
    // Once the input is used up, the inflater may still hold output that did not fit before.
    void Inflate(char* output, size_t room, size_t& made) {
        const size_t before = made;
        const size_t left = input_.size();
        inflater_->Inflate(output + made, room - made, made);
        input_.remove_prefix(left - inflater_->Remaining());
        // Data that neither ends nor moves would hold the loop for ever: cut short, or damaged.
        ended_ = inflater_->Ended() || (made == before && input_.size() == left);
    }
    void Copy(char* output, size_t room, size_t& made) {
        const size_t count = std::min(room - made, input_.size());
        std::copy_n(input_.data(), count, output + made);
        input_.remove_prefix(count);
        made += count;
    }

    DataPieces pieces_;
    const uint64_t compressedSize_;
    std::optional<zipinflate::RawInflater> inflater_;
    std::string_view input_;
    bool exhausted_ = false;  // every piece of the data was handed out
    bool ended_ = false;
};

// The member whole in memory, in a string that grows as output really arrives, never beyond the stated size; the
// empty string when the data ends before it. Its CRC-32 is taken slice by slice while the slice is fresh.
std::string ReadWhole(MemberReader& reader, size_t wanted, uint32_t& crc) {
    std::string output(std::min(wanted, kFirstOutput), '\0');
    size_t produced = 0;
    crc = 0;
    for (;;) {
        const size_t made = reader.Fill(output.data() + produced, output.size() - produced);
        crc = zipinflate::Crc32Update(crc, output.data() + produced, made);
        produced += made;
        if (produced < output.size() || produced == wanted) break;
        output.resize(NextOutputSize(produced, wanted, static_cast<size_t>(reader.Consumed()),
                                     static_cast<size_t>(reader.InputLeft())));
    }
    if (produced < wanted) {
        crc = 0;
        return {};
    }
    return output;
}

// The member written to the stream a slice at a time; the CRC-32 of what was written, or 0 when the data ended
// before the stated size.
uint32_t WriteInSlices(MemberReader& reader, size_t wanted, TStream& output) {
    const std::unique_ptr<char[]> slices(new char[2 * kStreamSlice]);
    SliceWriter writer(output);  // after the slices: its helper is done before they go away
    size_t produced = 0;
    for (size_t turn = 0; produced < wanted; turn ^= 1) {
        char* slice = slices.get() + turn * kStreamSlice;
        const size_t room = std::min(kStreamSlice, wanted - produced);
        const size_t made = reader.Fill(slice, room);
        writer.Add(slice, made);  // waits for the other slice first, so that it can be refilled next
        produced += made;
        if (made < room) break;
    }
    const uint32_t crc = writer.Crc();
    return produced < wanted ? 0 : crc;
}

}  // namespace

void TZipFile::LoadFromFile(const std::string& fileName) { ReadEntries(std::make_shared<FileSource>(fileName)); }

void TZipFile::LoadFromBytes(std::string archive) { ReadEntries(std::make_shared<MemorySource>(std::move(archive))); }

void TZipFile::ReadEntries(std::shared_ptr<const Source> source) {
    std::vector<TLocalFile> entries;
    std::vector<std::string> names;
    std::optional<uint64_t> position = FirstHeader(*source);
    while (position && LocalHeaderAt(*source, *position))
        position = ReadLocalFile(*source, *position, entries.emplace_back(), names.emplace_back());
    // What follows the members (central directory, end record) is not needed to extract them.
    source_ = std::move(source);
    entries_ = std::move(entries);
    names_ = std::move(names);
}

void TZipFile::Close() {
    source_.reset();
    entries_.clear();
    names_.clear();
}

const TLocalFile& TZipFile::Entry(int index) const {
    if (index < 0 || index >= Count()) throw Exception("Index out of range.");
    return entries_[static_cast<size_t>(index)];
}

std::string TZipFile::MemberName(int index) const {
    Entry(index);
    return names_[static_cast<size_t>(index)];
}

std::string TZipFile::Extract(int index) const {
    const TLocalFile& entry = Entry(index);
    uint32_t crc = 0;
    std::string result;
    if (!entry.Truncated && entry.UncompressedSize > 0) {
        MemberReader reader(*source_, entry);
        result = ReadWhole(reader, entry.UncompressedSize, crc);
    }
    if (entry.Truncated || crc != entry.Crc32) throw EZipFileCRCError(MemberName(index));
    return result;
}

void TZipFile::ExtractTo(int index, TStream& output) const {
    const TLocalFile& entry = Entry(index);
    uint32_t crc = 0;
    if (!entry.Truncated && entry.UncompressedSize > 0) {
        MemberReader reader(*source_, entry);
        crc = WriteInSlices(reader, entry.UncompressedSize, output);
    }
    if (entry.Truncated || crc != entry.Crc32) throw EZipFileCRCError(MemberName(index));
}

uint32_t ZipCrc32(const std::string& data) {
    return zipinflate::Crc32Update(0, data.data(), data.size());
}
