// Unpacking and testing a downloaded package before it is stored.
#include <algorithm>

#include "OVCommon/OVCommon.h"
#include "catalogue/catalogue.h"
#include "platform/files.h"
#include "platform/stream.h"
#include "zip/zip.h"

namespace {

// Members land flat, under the last component of their stored name; a name without one cannot be written. They
// go to the file as they are inflated: a database of many megabytes is never held in memory whole.
// A new file that takes the CRC of every byte written to it, so that it need not be read back for its test.
class CrcTakingFile : public TFileStream {
public:
    explicit CrcTakingFile(const std::string& fileName) : TFileStream(fileName, Mode::Create) {}
    int64_t Write(const void* buffer, int64_t count) override {
        const int64_t written = TFileStream::Write(buffer, count);
        crc_ = CrcUpdate(crc_, buffer, static_cast<size_t>(std::max<int64_t>(written, 0)));
        return written;
    }
    uint32_t Crc() const { return crc_; }

private:
    uint32_t crc_ = 0;
};

// Returns the CRC of what was written; the member is only ever written front to back.
uint32_t WriteMember(const std::string& folder, const TZipFile& archive, int index) {
    CrcTakingFile out(folder + FileNamePart(archive.MemberName(index)));
    archive.ExtractTo(index, out);
    return out.Crc();
}

}  // namespace

TPreparedPackage PreparePackage(const std::string& downloadFile, const std::string& entryFileName,
                                const std::string& unpackFolder) {
    TPreparedPackage package;
    if (!IsZipFile(downloadFile)) {
        package.Candidate = downloadFile;
        return package;
    }
    package.UnpackFolder = unpackFolder.empty() ? TempFolderPath() + "BR/" : unpackFolder;
    // Kept from the last package, it only needs emptying; otherwise it is made.
    if (!DeleteFolderContents(package.UnpackFolder)) platform::ForceDirectories(package.UnpackFolder);
    {
        TZipFile archive;
        archive.LoadFromFile(downloadFile);
        uint32_t lastCrc = 0;
        for (int i = 0; i < archive.Count(); ++i) lastCrc = WriteMember(package.UnpackFolder, archive, i);
        if (archive.Count() > 0) package.Candidate = package.UnpackFolder + FileNamePart(entryFileName);
        // With several members, names that differ only in letter case may have landed in one file on some file
        // systems; only a lone member is surely the candidate as written.
        if (archive.Count() == 1 && FileNamePart(archive.MemberName(0)) == FileNamePart(entryFileName))
            package.CandidateCrc = lastCrc;
    }
    platform::DeleteFile(downloadFile);
    return package;
}

TCandidateCheck CheckCandidate(const TPreparedPackage& package, int32_t size, int32_t crc) {
    // One open serves both tests; a file that cannot be read has size 0 and CRC 0, as FileSizeOf and FileCrc say.
    platform::File file;
    int64_t fileSize = 0;
    const bool readable = file.OpenRead(package.Candidate, fileSize);
    if ((readable ? std::max<int64_t>(fileSize, 0) : 0) != size) return TCandidateCheck::SizeDiffers;
    const uint32_t actual = !readable ? 0 : package.CandidateCrc ? *package.CandidateCrc : FileCrc(file);
    if (actual != static_cast<uint32_t>(crc)) return TCandidateCheck::CrcDiffers;
    return TCandidateCheck::Matches;
}

void FinishStoredPackage(const TPreparedPackage& package, const std::string& entryFileName) {
    platform::DeleteFile(package.Candidate);
    if (!package.UnpackFolder.empty()) CopyFolderFiles(package.UnpackFolder, FolderOf(entryFileName));
}

void RemoveUnpackFolder(const TPreparedPackage& package) {
    if (!package.UnpackFolder.empty()) DeleteFolderTree(package.UnpackFolder);
}

void EmptyUnpackFolder(const TPreparedPackage& package) {
    if (!package.UnpackFolder.empty()) DeleteFolderContents(package.UnpackFolder);
}
