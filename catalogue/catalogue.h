#pragma once
// The update catalogue and everything every mode does with it the same way: entry kinds and records, walking
// a loaded catalogue, the paths its entries name, whether an installed file is current, unpacking a downloaded
// package, the requests to the update server, and the run log. Knows no window and no data module.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "signing/signing.h"
#include "xml/dom.h"

class TIdHTTP;
class TStream;
namespace platform {
class File;
}

enum TUpdateKind : std::uint8_t { ukDatabase = 0, ukProgram = 1, ukTools = 2, ukCustom = 3 };

// A difference the catalogue offers beside an entry's package: it rebuilds the entry's file from an older
// version of it, the base.
struct TDeltaRef {
    int64_t BaseSize = 0;
    std::string BaseSha256;  // lower-case hex
    int32_t Size = 0;        // of the difference, as fetched
    std::string Sha256;      // of the difference; empty when the catalogue gives none
    std::string Download;
};

// One catalogue entry as the wizard holds it. FileName becomes the full local path while the entry is built.
class TUpdateElement {
public:
    std::string Name;
    std::string FileName;
    int32_t Crc = 0;
    std::string Download;
    int32_t Size = 0;  // 0: the file is to be removed
    std::string Action;
    TUpdateKind Kind = ukTools;
    int32_t DownloadSize = 0;
    std::string Destination;
    std::string Sha256;  // of the installed file, in hex: what a verifying installation checks
    std::vector<TDeltaRef> Deltas;   // offered beside the package
    std::optional<TDeltaRef> Delta;  // the offered one whose base the installed file is, when the wizard found one
};

// One catalogue entry as the windowless modes hold it, filled afresh for each entry element.
struct TUpdateElementRec {
    std::string Name;
    std::string FileName;
    int32_t Crc = 0;
    std::string Download;
    int32_t Size = 0;
    std::string Action;
    TUpdateKind Kind = ukDatabase;
    int32_t DownloadSize = 0;
    std::string Sha256;
};

// Raised when a folder a catalogue entry needs cannot be made or entered.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// --- Walking a loaded catalogue ---

struct TCatalogueGroup {
    const char* Name;
    TUpdateKind Kind;
};
// The groups in the order in which their entries are listed and installed, whatever the document's order.
inline constexpr TCatalogueGroup CatalogueGroups[] = {
    {"database", ukDatabase}, {"tools", ukTools}, {"program", ukProgram}, {"custom", ukCustom}};

// Raised for a catalogue text that ends inside an element: a body cut short, which must not be acted on.
class ECatalogueCutShort : public Exception {
public:
    using Exception::Exception;
};
// Loads a catalogue text; raises the XML reader's errors, and ECatalogueCutShort.
void LoadCatalogue(TXmlDDocument* catalogue, std::string_view text);
// True when the text loads as XML but ends inside an element. A text that is no XML at all is not judged here.
bool IsCutShortCatalogue(std::string_view text);
// The `error` and `update` children of the document element; null when absent or when the text held no element.
TXmlDNode* FindErrorElement(const TXmlDDocument* catalogue);
TXmlDNode* FindUpdateElement(const TXmlDDocument* catalogue);
// The `run` element among the document's own top-level nodes (never inside the document element).
TXmlDNode* FindRunElement(const TXmlDDocument* catalogue);
// Visits each group present in `update`, in the fixed order.
void ForEachGroup(const TXmlDNode* update, const std::function<void(TXmlDNode* group, TUpdateKind kind)>& visit);
// Visits every child node of every group present in `update`: groups in the fixed order, children by index.
void ForEachEntryCandidate(const TXmlDNode* update,
                           const std::function<void(TXmlDNode* candidate, TUpdateKind kind)>& visit);
// The text of the named child; nothing when there is no such child.
std::optional<std::string> ChildText(const TXmlDNode* node, std::string_view name);

// --- Paths ---

// A catalogue file name may name sub-folders but never leave its folder: one that is absolute, that has a ".."
// segment once '\' is read as a separator, or that names a folder (empty, ".", a trailing separator) counts as
// missing.
bool IsSafeEntryFileName(const std::string& fileName);
// The entry's file below a folder (ending with a separator): tools entries live in its "Tools/" sub-folder.
std::string EntryPath(const std::string& folder, TUpdateKind kind, const std::string& fileName);
// The folder part of a path, with its trailing separator.
std::string FolderOf(const std::string& path);
// The last component of a path; '/' and '\' both separate.
std::string FileNamePart(const std::string& path);

// Reads an entry element for the windowless modes: numbers as TextToInt with default 0, FileName the
// catalogue's text as written. False when the element is no entry (no `name`, no usable `filename`, or a `size`
// that is present but does not convert).
bool ReadEntryRecord(const TXmlDNode* entry, TUpdateKind kind, TUpdateElementRec& record);

// --- Wizard entries ---

// Called for an entry's `killtask` element, with the entry's name.
using TKillTaskHook = std::function<void(const std::string& entryName, const TXmlDNode* killTask)>;
struct TBuiltEntry {
    std::unique_ptr<TUpdateElement> Element;
    bool Required = false;
};
// Builds a wizard entry of the given kind below the program folder. Nothing when the element is no entry.
// A number that does not convert raises EConvertError; a custom destination that cannot be made raises
// EInOutError. killTask is called when the entry names a program to close.
TBuiltEntry BuildUpdateElement(const TXmlDNode* entry, TUpdateKind kind, const std::string& programFolder,
                               const TKillTaskHook& killTask);
// The absolute folder of a custom entry, with a trailing separator, created when missing. Environment
// references are expanded; a relative destination lies below the program folder; empty means the program folder.
std::string ResolveDestinationFolder(const std::string& destination, const std::string& programFolder);

// --- Installed-file identification ---

// True when work is needed: for size 0, when the file exists (to delete it); otherwise when the file is
// missing, unreadable, of another size, or of another CRC. The CRC is read only when the size matches.
bool NeedsUpdate(const std::string& path, int32_t size, int32_t crc);
inline bool NeedsUpdate(const TUpdateElement& entry) { return NeedsUpdate(entry.FileName, entry.Size, entry.Crc); }
inline bool NeedsUpdate(const TUpdateElementRec& entry) {
    return NeedsUpdate(entry.FileName, entry.Size, entry.Crc);
}
// The same for a verifying installation's copy of a file, which must also have the entry's SHA-256 (an entry
// without one never matches); both digests come from one read. Without a SHA-256, as above.
bool NeedsUpdate(const std::string& path, int32_t size, int32_t crc, const std::optional<std::string>& sha256);
struct TFileDigest {
    uint32_t Crc = 0;
    std::optional<std::string> Sha256;
};
// The CRC-32 and SHA-256 of the rest of an open file, in one read.
TFileDigest ReadFileDigest(platform::File& file);
// The "FileVersion" text of a file's version resource without blanks or control characters; empty when none.
std::string FileVersionString(const std::string& fileName);
// The text without any character of code 32 or below.
std::string StripBlanks(const std::string& text);

// --- Packages ---

// A downloaded package made ready for its test. A zip package is unpacked, flat by member file name, into the
// unpack folder (by default TempFolderPath() + "BR/") and the download is deleted; any other file is its own
// candidate.
struct TPreparedPackage {
    std::string UnpackFolder;  // empty when the download was not a zip archive
    std::string Candidate;     // the file to test: empty when the archive held no member
    // The candidate's CRC-32 when it was written whole as the package's only member or from a package held in
    // memory, taken as it was written: it need not be read back.
    std::optional<uint32_t> CandidateCrc;
    // Its SHA-256 the same way, when asked for.
    std::optional<std::string> CandidateSha256;
    // A verifying installation's zip that holds more than the entry's own file: those members, none of them written.
    std::vector<std::string> UnsignedMembers;
};
// Raises the zip reader's errors, and EFOpenError when a member cannot be written (one without a file name).
// For a verifying installation members are hashed as they are written, and a zip holding any member but the
// entry's own file is refused (UnsignedMembers) with nothing written.
TPreparedPackage PreparePackage(const std::string& downloadFile, const std::string& entryFileName,
                                const std::string& unpackFolder = "", bool verifying = false);
// A downloaded package as it was received: its bytes in memory, or a large one in a file.
struct TReceivedPackage {
    std::string Bytes;  // the whole package, when File is empty
    std::string File;
};
// Makes a received package ready for its test with as few new files as it can. A package that is not a zip
// archive, or a zip whose only member is the entry's file, becomes the file candidateFile, its digests taken as
// it is written (a received file that is not a zip is its own candidate, untouched). Any other zip is unpacked as
// PreparePackage unpacks it, into unpackFolder, made for it. A received file is deleted once read. Raises what
// PreparePackage raises.
TPreparedPackage PrepareReceivedPackage(TReceivedPackage received, const std::string& entryFileName,
                                        const std::string& candidateFile, const std::string& unpackFolder,
                                        bool verifying);
enum class TCandidateCheck { Matches, SizeDiffers, CrcDiffers, Sha256Differs, UnsignedMembers };
// The candidate's size, then its CRC-32, against the entry's; for a verifying installation (a SHA-256 given,
// empty when the entry has none) then its SHA-256, which an entry without one never matches.
TCandidateCheck CheckCandidate(const TPreparedPackage& package, int32_t size, int32_t crc,
                               const std::optional<std::string>& sha256 = std::nullopt);
// After the candidate is stored (copied, or moved into place): deletes it when it is still there, and copies the
// package's other members beside the entry's file.
void FinishStoredPackage(const TPreparedPackage& package, const std::string& entryFileName);
// Removes the unpack folder, when there is one.
void RemoveUnpackFolder(const TPreparedPackage& package);
// Deletes the candidate, when it is still there, and the unpack folder.
void DiscardPreparedPackage(const TPreparedPackage& package);
// Empties the unpack folder but keeps it for the next package: across the thousands of packages of a mirror run,
// making and removing a folder for each costs the file system more than the packages' own files.
void EmptyUnpackFolder(const TPreparedPackage& package);

// --- Differences ---

// The entry's `delta` children with a usable base size, base SHA-256, size and `download`; any other is skipped.
std::vector<TDeltaRef> ReadDeltas(const TXmlDNode* entry);
// The offered difference whose base the local file is: sizes are compared first, and the file's SHA-256 is read
// only when one matches. Nothing when the file is missing, unreadable or another version.
std::optional<TDeltaRef> DeltaForLocalFile(const std::vector<TDeltaRef>& deltas, const std::string& localFile);
// Rebuilds the entry's file from its base and a fetched difference into candidateFile, ready for its test as an
// unpacked package is: its CRC-32, and for a verifying installation its SHA-256, taken as it is written. The
// difference must have the offered size and, when the catalogue gives one, SHA-256; a verifying installation
// takes none without a SHA-256, since only a hashed difference is covered by the catalogue's signature. Raises
// EDeltaError, which names what failed.
TPreparedPackage RebuildFromDelta(const TDeltaRef& delta, const std::string& baseFile, const std::string& deltaFile,
                                  const std::string& candidateFile, int32_t entrySize, bool verifying);

// Why a rebuilt file failed its test, for the line that says the package is fetched instead.
std::string RebuiltFileFault(TCandidateCheck check);

// --- Requests to the update server ---

// Host names (with an optional ":port") of the update server and of the demonstration server: build settings,
// which the environment variables ORVANE_UPDATE_SERVER and ORVANE_DEMO_SERVER override.
std::string UpdateServerHost();
std::string DemoServerHost();
std::string ProductRequestUrl(const std::string& host, const std::string& product, const std::string& version,
                              const std::string& code);
std::string QueryRequestUrl(const std::string& host, const std::string& queryText);
// The catalogue request of the launch settings: the product request on productHost when Product, Code and
// Version are all given, else the query request on the update server followed by the query text.
std::string CatalogueRequestUrl(const std::string& productHost, const std::string& queryText);
// The product line the catalogue request of the launch settings names, which a signed answer must name too: the
// product request's product, version and code, or the product setting and the query text's version and code.
TProductLine RequestedProductLine(const std::string& queryText);
// The request settings made before a catalogue request and before a package download.
void PrepareCatalogueRequest(TIdHTTP& http);
void PrepareDownloadRequest(TIdHTTP& http);
// Copies the launch settings' proxy into the component; nothing changes when no proxy server is set.
void ApplyProxySettings(TIdHTTP& http);
// Bounds every wait of an unattended run's transfers, the connect and each read: "ReadTimeout" in section
// "general" of common.ini, in seconds, default 60; 0 waits without end.
void ApplyUnattendedReadTimeout(TIdHTTP& http);
// The failure's message, and for a silent server which host it was and how long it stayed silent.
std::string TransferFailureText(const std::exception& failure, TIdHTTP& http);

// --- Busy servers ---

// How often one connection asks again for a package that a busy server turns away.
constexpr int BusyRetries = 3;
// The longest pause a server's Retry-After buys.
constexpr std::chrono::seconds MaxBusyPause{30};
// When the failure is a busy server turning the request away (503, 429, or a refused or reset connection before
// any answer): the pause it asks for (Retry-After, in seconds, at most MaxBusyPause), else one that grows with
// the attempt (1 s, 2 s, ...). Nothing for any other failure.
std::optional<std::chrono::milliseconds> BusyServerPause(const std::exception& failure, TIdHTTP& http, int attempt);
// Decides what to do when a busy server turned attempt `attempt` away: true after waiting `pause` to ask again.
using TBusyServerAnswer = std::function<bool(std::chrono::milliseconds pause, int attempt)>;
// GetResuming, asked again from the start while a busy server turns it away and `again` says so; the last
// failure then passes on, naming how often the server was asked.
void GetPatiently(TIdHTTP& http, const std::string& url, TStream& stream, const TBusyServerAnswer& again);
// `again` for a single connection: waits the pause and asks again, BusyRetries times.
bool WaitForBusyServer(std::chrono::milliseconds pause, int attempt);

// --- Run log ---

// "OVLog.txt" in the program's folder.
std::string RunLogPath();
// Appends the local date and time, a blank, the text and CR LF; a file that cannot be written raises.
void AppendToRunLog(const std::string& text);
// Replaces the run log with one CR LF line per URL (the request record of a catalogue request); raises when the
// file cannot be written, leaving the old one in place.
void SaveRequestRecord(const std::vector<std::string>& urls);
