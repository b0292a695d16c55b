#pragma once
// The release publisher: turns a folder laid out like the program folder into a web root that a static HTTP
// server serves to the program. The catalogue answers both catalogue requests; every file has its own package.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "delta/delta.h"
#include "platform/exception.h"

// A release that cannot be published; the message is one line for the user.
class EPublishError : public Exception {
public:
    using Exception::Exception;
};
// A command line that cannot be understood.
class EPublishUsage : public EPublishError {
public:
    using EPublishError::EPublishError;
};

struct TPublishRemoval {
    TUpdateKind Kind = ukDatabase;
    std::string FileName;  // below the kind's folder, '/' between folders
};

struct TPublishKillTask {
    std::string Name;
    std::string Program;
    bool Ask = false;
};

struct TPublishRunProgram {
    std::string Program;  // empty: none
    std::string Parameters;
    bool NoWait = false;
};

// Files of the release are named by their path below the source folder, '/' between folders.
struct TPublishOptions {
    bool Help = false;
    std::string Source;
    std::string Target;
    std::string BaseUrl;  // ends with '/'
    std::string Product;  // Product, Version and Code are given together or not at all
    std::string Version;
    std::string Code;
    std::string MainExe = "brellium.exe";
    std::string CustomFolder = "Custom";
    std::vector<TPublishRemoval> Removals;
    std::set<std::string> Required;
    std::map<std::string, std::string> Destinations;  // "*": every custom file without its own
    std::map<std::string, TPublishKillTask> KillTasks;
    std::vector<std::string> PlainPatterns;
    TPublishRunProgram PreInstall;
    TPublishRunProgram PostInstall;
    // Signing: the secret key file, and the release stamp (by default one more than the target's last serial,
    // expiring a week from now).
    std::string SigningKey;
    std::optional<uint64_t> Serial;
    std::optional<int64_t> Expires;
    // Differences: how many published versions of each file are kept to make them from (0: none are made and no
    // history is kept), where that history lives between runs (by default beside the target, as TARGET.history),
    // and the compression level they are made at.
    int KeptVersions = 3;
    std::string HistoryFolder;
    int DeltaLevel = DefaultDeltaLevel;
};

// "keygen --out NAME": writes NAME.key (the secret, mode 0600) and NAME.pub; returns the report lines.
std::vector<std::string> RunKeygen(const std::vector<std::string>& arguments);

// Raises EPublishUsage. With --help, nothing else is checked.
TPublishOptions ParsePublishArguments(const std::vector<std::string>& arguments);
std::string PublishHelpText();

// Builds the web root beside the target and swaps it in; the old web root goes. Returns the lines of a short
// report for the user. Raises EPublishError and leaves the target as it was.
std::vector<std::string> PublishRelease(const TPublishOptions& options);
