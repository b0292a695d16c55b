// Unpacking and testing a downloaded package before it is stored.
#include <algorithm>
#include <memory>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "platform/files.h"
#include "platform/stream.h"
#include "signing/signing.h"
#include "zip/zip.h"

namespace {

// Members land flat, under the last component of their stored name; a name without one cannot be written. They
// go to the file as they are inflated: a database of many megabytes is never held in memory whole.
// A new file that takes the CRC, and when asked the SHA-256, of every byte written to it, so that it need not be
// read back for its test.
class CrcTakingFile : public TFileStream {
public:
    CrcTakingFile(const std::string& fileName, bool takeSha256) : TFileStream(fileName, Mode::Create) {
        if (takeSha256) sha256_.emplace();
    }
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t written = TFileStream::Write(buffer, count);
        const auto length = static_cast<size_t>(std::max<int64_t>(written, 0));
        crc_ = CrcUpdate(crc_, buffer, length);
        if (sha256_) sha256_->Update(buffer, length);
        return written;
    }
    TFileDigest Digest() const { return {crc_, sha256_ ? std::optional(sha256_->HexDigest()) : std::nullopt}; }

private:
    uint32_t crc_ = 0;
    std::optional<TSha256> sha256_;
};

// The digests of what was written; the member is only ever written front to back.
TFileDigest WriteMember(const std::string& fileName, const TZipFile& archive, int index, bool takeSha256) {
    CrcTakingFile out(fileName, takeSha256);
    archive.ExtractTo(index, out);
    return out.Digest();
}

// Every member into the folder, flat by file name; the candidate is the one named as the entry's file.
TPreparedPackage UnpackMembers(const TZipFile& archive, const std::string& folder, const std::string& entryFileName,
                               bool takeSha256) {
    TPreparedPackage package;
    package.UnpackFolder = folder;
    TFileDigest last;
    for (int i = 0; i < archive.Count(); ++i)
        last = WriteMember(folder + FileNamePart(archive.MemberName(i)), archive, i, takeSha256);
    if (archive.Count() > 0) package.Candidate = folder + FileNamePart(entryFileName);
    // With several members, names that differ only in letter case may have landed in one file on some file
    // systems; only a lone member is surely the candidate as written.
    if (archive.Count() == 1 && FileNamePart(archive.MemberName(0)) == FileNamePart(entryFileName)) {
        package.CandidateCrc = last.Crc;
        package.CandidateSha256 = last.Sha256;
    }
    return package;
}

// A package that is not a zip archive, written from memory as its own candidate.
TPreparedPackage WrittenCandidate(const std::string& bytes, const std::string& fileName, bool takeSha256) {
    CrcTakingFile out(fileName, takeSha256);
    out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    const TFileDigest digest = out.Digest();
    return {"", fileName, digest.Crc, digest.Sha256, {}};
}

// A verifying installation installs only what its signed catalogue names: every member of a zip but one named as
// the entry's own file is unsigned content.
std::vector<std::string> MembersNotSigned(const TZipFile& archive, const std::string& entryFileName) {
    std::vector<std::string> names;
    for (int i = 0; i < archive.Count(); ++i)
        if (i > 0 || FileNamePart(archive.MemberName(i)) != FileNamePart(entryFileName))
            names.push_back(archive.MemberName(i));
    return names;
}

// A package refused for its members, before anything of it is written.
TPreparedPackage RefusedForMembers(std::vector<std::string> members) {
    TPreparedPackage package;
    package.UnsignedMembers = std::move(members);
    return package;
}

}  // namespace

// The CRC and SHA-256 of a file in one read.
TFileDigest ReadFileDigest(platform::File& file) {
    constexpr size_t BlockSize = 64 * 1024;
    const std::unique_ptr<unsigned char[]> block(new unsigned char[BlockSize]);
    TFileDigest digest;
    TSha256 sha256;
    std::ptrdiff_t count = 0;
    do {
        count = file.Read(block.get(), BlockSize);
        if (count <= 0) break;
        digest.Crc = CrcUpdate(digest.Crc, block.get(), static_cast<size_t>(count));
        sha256.Update(block.get(), static_cast<size_t>(count));
    } while (count == static_cast<std::ptrdiff_t>(BlockSize));
    digest.Sha256 = sha256.HexDigest();
    return digest;
}

namespace {

// Closes the archive read from a received file, then deletes the file (a file still open cannot be deleted
// everywhere).
struct TReceivedFileRemoval {
    TZipFile& archive;
    const std::string& file;
    ~TReceivedFileRemoval() {
        archive.Close();
        if (!file.empty()) platform::DeleteFile(file);
    }
};

}  // namespace

TPreparedPackage PreparePackage(const std::string& downloadFile, const std::string& entryFileName,
                                const std::string& unpackFolder, bool verifying) {
    TPreparedPackage package;
    if (!IsZipFile(downloadFile)) {
        package.Candidate = downloadFile;
        return package;
    }
    {
        TZipFile archive;
        archive.LoadFromFile(downloadFile);
        if (verifying) package.UnsignedMembers = MembersNotSigned(archive, entryFileName);
        if (package.UnsignedMembers.empty()) {
            const std::string folder = unpackFolder.empty() ? TempFolderPath() + "BR/" : unpackFolder;
            // Kept from the last package, it only needs emptying; otherwise it is made.
            if (!DeleteFolderContents(folder)) platform::ForceDirectories(folder);
            package = UnpackMembers(archive, folder, entryFileName, verifying);
        }
    }
    platform::DeleteFile(downloadFile);
    return package;
}

TPreparedPackage PrepareReceivedPackage(TReceivedPackage received, const std::string& entryFileName,
                                        const std::string& candidateFile, const std::string& unpackFolder,
                                        bool verifying) {
    TZipFile archive;
    if (received.File.empty()) {
        if (received.Bytes.compare(0, 2, "PK") != 0) return WrittenCandidate(received.Bytes, candidateFile, verifying);
        archive.LoadFromBytes(std::move(received.Bytes));
    } else {
        if (!IsZipFile(received.File)) return {"", received.File, std::nullopt, std::nullopt, {}};
        archive.LoadFromFile(received.File);
    }
    // A received file goes once its members are out, or failed to come out; the archive lets go of it first.
    const TReceivedFileRemoval removal{archive, received.File};
    if (verifying)
        if (std::vector<std::string> members = MembersNotSigned(archive, entryFileName); !members.empty())
            return RefusedForMembers(std::move(members));
    if (archive.Count() == 1 && FileNamePart(archive.MemberName(0)) == FileNamePart(entryFileName)) {
        const TFileDigest digest = WriteMember(candidateFile, archive, 0, verifying);
        return {"", candidateFile, digest.Crc, digest.Sha256, {}};
    }
    platform::ForceDirectories(unpackFolder);
    return UnpackMembers(archive, unpackFolder, entryFileName, verifying);
}

TCandidateCheck CheckCandidate(const TPreparedPackage& package, int32_t size, int32_t crc,
                               const std::optional<std::string>& sha256) {
    if (!package.UnsignedMembers.empty()) return TCandidateCheck::UnsignedMembers;
    // One open serves both tests; a file that cannot be read has size 0 and CRC 0, as FileSizeOf and FileCrc say.
    platform::File file;
    int64_t fileSize = 0;
    const bool readable = file.OpenRead(package.Candidate, fileSize);
    if ((readable ? std::max<int64_t>(fileSize, 0) : 0) != size) return TCandidateCheck::SizeDiffers;
    // A digest not taken while the file was written is taken in one read, the SHA-256 only when it is checked.
    TFileDigest actual{0, package.CandidateSha256};
    if (!readable)
        actual.Sha256.reset();
    else if (package.CandidateCrc && (!sha256 || package.CandidateSha256))
        actual.Crc = *package.CandidateCrc;
    else if (sha256)
        actual = ReadFileDigest(file);
    else
        actual.Crc = FileCrc(file);
    if (actual.Crc != static_cast<uint32_t>(crc)) return TCandidateCheck::CrcDiffers;
    if (sha256 && (sha256->empty() || actual.Sha256 != *sha256)) return TCandidateCheck::Sha256Differs;
    return TCandidateCheck::Matches;
}

void FinishStoredPackage(const TPreparedPackage& package, const std::string& entryFileName) {
    platform::DeleteFile(package.Candidate);
    if (!package.UnpackFolder.empty()) CopyFolderFiles(package.UnpackFolder, FolderOf(entryFileName));
}

void RemoveUnpackFolder(const TPreparedPackage& package) {
    if (!package.UnpackFolder.empty()) DeleteFolderTree(package.UnpackFolder);
}

void DiscardPreparedPackage(const TPreparedPackage& package) {
    if (!package.Candidate.empty()) platform::DeleteFile(package.Candidate);
    RemoveUnpackFolder(package);
}

void EmptyUnpackFolder(const TPreparedPackage& package) {
    if (!package.UnpackFolder.empty()) DeleteFolderContents(package.UnpackFolder);
}
