#pragma once
// Reading zip packages: members are found by walking the local file headers from the start of the file and
// extracted one at a time, into memory or a piece at a time into a stream, checked against the CRC-32 of their
// header. An archive read from a file stays in its file: only the headers are read up front, and a member's data
// is read in blocks as it is inflated, so that memory does not grow with the package.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"

// Raised when the compressed data of a member cannot be decompressed.
class ECompressionError : public Exception {
public:
    ECompressionError() : Exception("Error") {}
};

// Raised when an extracted member does not match the CRC-32 of its header.
class EZipFileCRCError : public Exception {
public:
    explicit EZipFileCRCError(const std::string& memberName) : Exception("CRC Error in \"" + memberName + "\".") {}
};

// One local file header as stored; the variable parts are kept as positions in the archive.
struct TLocalFile {
    uint16_t VersionNeeded = 0;
    uint16_t Flags = 0;
    uint16_t CompressionMethod = 0;
    uint16_t LastModTime = 0;
    uint16_t LastModDate = 0;
    uint32_t Crc32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t ExtraFieldLength = 0;
    uint64_t NameOffset = 0;
    uint64_t ExtraOffset = 0;
    uint64_t DataOffset = 0;
    // The file ended inside this member: its header, name, extra field or data is cut short.
    bool Truncated = false;
};

class TStream;

class TZipFile {
public:
    // Reads the archive's headers and keeps the file open, denying writes, for the members' data while this
    // object (or a copy) lives; raises EFOpenError when the file cannot be opened. Replaces the member list.
    void LoadFromFile(const std::string& fileName);
    // The same from the archive's bytes, already in memory.
    void LoadFromBytes(std::string archive);
    // Lets go of the archive (its file is closed); the member list is emptied.
    void Close();

    int Count() const { return static_cast<int>(entries_.size()); }
    const std::vector<TLocalFile>& Entries() const { return entries_; }
    // The stored name of a member (0-based); raises Exception "Index out of range." outside the list.
    std::string MemberName(int index) const;
    // The uncompressed bytes of a member, checked against its CRC-32.
    std::string Extract(int index) const;
    // The same bytes written to the stream slice by slice as they are inflated, so that a large member never
    // has to be held in memory whole. They are checked at the end: on a CRC-32 mismatch they have been written
    // and EZipFileCRCError follows.
    void ExtractTo(int index, TStream& output) const;

    // Where the archive's bytes are: in memory or in its file.
    class Source;

private:
    const TLocalFile& Entry(int index) const;
    void ReadEntries(std::shared_ptr<const Source> source);

    std::shared_ptr<const Source> source_;
    std::vector<TLocalFile> entries_;
    std::vector<std::string> names_;
};

// The CRC-32 of zip and zlib (reflected 0xEDB88320, initial and final inversion); 0 for empty data.
uint32_t ZipCrc32(const std::string& data);
