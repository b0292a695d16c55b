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
void WriteMember(const std::string& folder, const TZipFile& archive, int index) {
    TFileStream out(folder + FileNamePart(archive.MemberName(index)), TFileStream::Mode::Create);
    archive.ExtractTo(index, out);
}

}  // namespace

TPreparedPackage PreparePackage(const std::string& downloadFile, const std::string& entryFileName) {
    if (!IsZipFile(downloadFile)) return {"", downloadFile};
    TPreparedPackage package;
    package.UnpackFolder = TempFolderPath() + "BR/";
    // Kept from the last package, it only needs emptying; otherwise it is made.
    if (!DeleteFolderContents(package.UnpackFolder)) platform::ForceDirectories(package.UnpackFolder);
    {
        TZipFile archive;
        archive.LoadFromFile(downloadFile);
        for (int i = 0; i < archive.Count(); ++i) WriteMember(package.UnpackFolder, archive, i);
        if (archive.Count() > 0) package.Candidate = package.UnpackFolder + FileNamePart(entryFileName);
    }
    platform::DeleteFile(downloadFile);
    return package;
}

TCandidateCheck CheckCandidate(const std::string& candidate, int32_t size, int32_t crc) {
    // One open serves both tests; a file that cannot be read has size 0 and CRC 0, as FileSizeOf and FileCrc say.
    platform::File file;
    int64_t fileSize = 0;
    const bool readable = file.OpenRead(candidate, fileSize);
    if ((readable ? std::max<int64_t>(fileSize, 0) : 0) != size) return TCandidateCheck::SizeDiffers;
    if ((readable ? FileCrc(file) : 0) != static_cast<uint32_t>(crc)) return TCandidateCheck::CrcDiffers;
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
