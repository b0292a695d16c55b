// The publisher's command line.
#include <algorithm>
#include <charconv>
#include <functional>
#include <limits>
#include <map>
#include <optional>

#include "tools/publish/release.h"

namespace {

using ValueHandler = std::function<void(const std::string& value)>;
using FlagHandler = std::function<void()>;

[[noreturn]] void Usage(const std::string& message) { throw EPublishUsage(message); }

// "LEFT<separator>RIGHT", split at the first separator; both parts must be there.
std::pair<std::string, std::string> SplitPair(const std::string& option, const std::string& value, char separator,
                                              const std::string& form) {
    const size_t at = value.find(separator);
    if (at == std::string::npos || at == 0 || at + 1 == value.size())
        Usage(option + " takes " + form + ", not \"" + value + "\"");
    return {value.substr(0, at), value.substr(at + 1)};
}

TUpdateKind KindNamed(const std::string& name) {
    for (const TCatalogueGroup& group : CatalogueGroups)
        if (name == group.Name) return group.Kind;
    Usage("unknown kind \"" + name + "\" (database, tools, program or custom)");
}

std::string Slashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

TPublishRemoval ParseRemoval(const std::string& value) {
    const auto [kind, name] = SplitPair("--remove", value, ':', "KIND:NAME");
    if (!IsSafeEntryFileName(name)) Usage("--remove names a file outside its folder: \"" + name + "\"");
    return {KindNamed(kind), Slashes(name)};
}

// "FILE=NAME,PROGRAM[,ask]"; the file is returned in the first part.
std::pair<std::string, TPublishKillTask> ParseKillTask(const std::string& value) {
    const std::string form = "FILE=NAME,PROGRAM[,ask]";
    const auto [file, task] = SplitPair("--killtask", value, '=', form);
    std::vector<std::string> parts{""};
    for (char c : task) {
        if (c == ',')
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    const bool ask = parts.size() == 3 && parts[2] == "ask";
    if ((parts.size() != 2 && !ask) || parts[0].empty() || parts[1].empty())
        Usage("--killtask takes " + form + ", not \"" + value + "\"");
    return {Slashes(file), {parts[0], parts[1], ask}};
}

// A product, version or code goes into the request path as it is, so it must be one plain URL segment.
void CheckPathSegment(const std::string& option, const std::string& value) {
    if (value.empty() || value == "." || value == ".." || !std::all_of(value.begin(), value.end(), IsUrlUnreserved))
        Usage(option + " may hold only letters, digits and - . _ ~, not \"" + value + "\"");
}

void CheckPlainName(const std::string& option, const std::string& value) {
    if (value.empty() || value == "." || value == ".." || value.find_first_of("/\\") != std::string::npos)
        Usage(option + " takes a name without folders, not \"" + value + "\"");
}

std::string CheckedBaseUrl(const std::string& url) {
    // The program speaks plain HTTP only.
    if (!url.starts_with("http://") || url.size() <= 7 || url[7] == '/')
        Usage("--base-url must be an http:// URL with a host, not \"" + url + "\"");
    return url.ends_with('/') ? url : url + "/";
}

// A whole number from `least` to `most`; `form` says which in the message.
template <typename Number>
Number ParseNumber(const std::string& option, const std::string& value, Number least, Number most,
                   const std::string& form) {
    Number number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc() || end != value.data() + value.size() || number < least ||
        number > most)
        Usage(option + " takes " + form + ", not \"" + value + "\"");
    return number;
}

uint64_t ParseSerial(const std::string& value) {
    return ParseNumber<uint64_t>("--serial", value, 1, std::numeric_limits<uint64_t>::max(),
                                 "a positive whole number");
}

// Each kept version costs a difference to make at every release and a copy of the file in the history.
constexpr int kMostKeptVersions = 100;
// libzstd's levels; above 19 they need far more memory for little gain.
constexpr int kMostDeltaLevel = 22;

int64_t ParseExpiry(const std::string& value) {
    try {
        return ParseUtcTime(value);
    } catch (const ESignatureError&) {
        Usage("--expires takes a UTC time like 2030-01-31T12:00:00Z, not \"" + value + "\"");
    }
}

void CheckComplete(const TPublishOptions& options) {
    for (const auto& [option, value] : {std::pair{"--source", options.Source}, std::pair{"--target", options.Target},
                                        std::pair{"--base-url", options.BaseUrl}})
        if (value.empty()) Usage(std::string(option) + " is required");
    const int given = !options.Product.empty() + !options.Version.empty() + !options.Code.empty();
    if (given != 0 && given != 3) Usage("--product, --version and --code go together");
    if (options.CustomFolder == "Tools") Usage("--custom-dir cannot be the tools folder");
    for (const TPublishRunProgram* run : {&options.PreInstall, &options.PostInstall})
        if (run->Program.empty() && (run->NoWait || !run->Parameters.empty()))
            Usage("--preinstall-... and --postinstall-... options need the program itself");
    if (options.SigningKey.empty() && (options.Serial || options.Expires))
        Usage("--serial and --expires need --sign");
    // A signed catalogue names the product line it answers, so that no other line's can stand in for it.
    if (!options.SigningKey.empty() && given == 0) Usage("--sign needs --product, --version and --code");
    if (options.Expires && *options.Expires <= UtcNow())
        Usage("--expires " + UtcTimeText(*options.Expires) + " is in the past: every installation would refuse it");
}

void AddRunOptions(const std::string& when, TPublishRunProgram& run, std::map<std::string, ValueHandler>& valued,
                   std::map<std::string, FlagHandler>& flags) {
    valued["--" + when] = [&run](const std::string& value) { run.Program = value; };
    valued["--" + when + "-parameters"] = [&run](const std::string& value) { run.Parameters = value; };
    flags["--" + when + "-nowait"] = [&run] { run.NoWait = true; };
}

std::map<std::string, ValueHandler> ValuedOptions(TPublishOptions& o) {
    return {
        {"--source", [&o](const std::string& v) { o.Source = v; }},
        {"--target", [&o](const std::string& v) { o.Target = v; }},
        {"--base-url", [&o](const std::string& v) { o.BaseUrl = CheckedBaseUrl(v); }},
        {"--product", [&o](const std::string& v) { CheckPathSegment("--product", o.Product = v); }},
        {"--version", [&o](const std::string& v) { CheckPathSegment("--version", o.Version = v); }},
        {"--code", [&o](const std::string& v) { CheckPathSegment("--code", o.Code = v); }},
        {"--main-exe", [&o](const std::string& v) { CheckPlainName("--main-exe", o.MainExe = v); }},
        {"--custom-dir", [&o](const std::string& v) { CheckPlainName("--custom-dir", o.CustomFolder = v); }},
        {"--plain", [&o](const std::string& v) { o.PlainPatterns.push_back(v); }},
        {"--remove", [&o](const std::string& v) { o.Removals.push_back(ParseRemoval(v)); }},
        {"--sign", [&o](const std::string& v) { o.SigningKey = v; }},
        {"--serial", [&o](const std::string& v) { o.Serial = ParseSerial(v); }},
        {"--expires", [&o](const std::string& v) { o.Expires = ParseExpiry(v); }},
        {"--required", [&o](const std::string& v) { o.Required.insert(Slashes(v)); }},
        {"--deltas",
         [&o](const std::string& v) {
             o.KeptVersions = ParseNumber("--deltas", v, 0, kMostKeptVersions,
                                          "a count from 0 to " + std::to_string(kMostKeptVersions));
         }},
        {"--delta-level",
         [&o](const std::string& v) {
             o.DeltaLevel = ParseNumber("--delta-level", v, 1, kMostDeltaLevel,
                                        "a level from 1 to " + std::to_string(kMostDeltaLevel));
         }},
        {"--history", [&o](const std::string& v) { o.HistoryFolder = v; }},
        {"--destination",
         [&o](const std::string& v) {
             const auto [file, folder] = SplitPair("--destination", v, '=', "FILE=FOLDER");
             o.Destinations[Slashes(file)] = folder;
         }},
        {"--killtask",
         [&o](const std::string& v) {
             auto [file, task] = ParseKillTask(v);
             o.KillTasks[file] = task;
         }},
    };
}

}  // namespace

TPublishOptions ParsePublishArguments(const std::vector<std::string>& arguments) {
    TPublishOptions options;
    std::map<std::string, ValueHandler> valued = ValuedOptions(options);
    std::map<std::string, FlagHandler> flags{{"--help", [&options] { options.Help = true; }}};
    AddRunOptions("preinstall", options.PreInstall, valued, flags);
    AddRunOptions("postinstall", options.PostInstall, valued, flags);
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (const size_t equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (const auto flag = flags.find(name); flag != flags.end() && !value) {
            flag->second();
            continue;
        }
        const auto handler = valued.find(name);
        if (handler == valued.end()) Usage("unknown option \"" + arguments[i] + "\"");
        if (!value && ++i == arguments.size()) Usage(name + " needs a value");
        handler->second(value ? *value : arguments[i]);
    }
    if (options.Help) return options;
    CheckComplete(options);
    if (options.HistoryFolder.empty()) options.HistoryFolder = DefaultHistoryFolder(options.Target);
    return options;
}

std::string PublishHelpText() {
    return R"(Usage: orvane-publish --source DIR --target DIR --base-url URL [options]

Publishes the product files in DIR, laid out like the program folder, as a web root for a static HTTP server:
  <file> at the top        a database entry (the --main-exe file is the program entry)
  Tools/<file>             a tools entry
  Custom/<file>            a custom entry (see --custom-dir)
Sub-folders below these stay sub-folders of the entry's file name. The web root holds:
  brellium/orvane.php                                    the catalogue, for the query request
  orvane/update/product/P/version/V/code/C/index.html    the catalogue, for the product request
  packages/<kind>/<file>.zip                             a deflated zip holding the file under its own name
  packages/<kind>/<file>                                 the file itself, when published plain
  deltas/<kind>/<file>.<base>.<new>.zst                  a difference that rebuilds <file> from an older version
                                                         (<base>, <new>: the first 16 hex digits of the SHA-256s)
Serve brellium/orvane.php as a static file whatever its query string, e.g. in an nginx server block:
  location = /brellium/orvane.php { default_type text/xml; }
The web root is built beside the target and swapped in at the end, so a server never serves half a release.

Options (FILE is a file's path below DIR, '/' between folders; --opt VALUE and --opt=VALUE both work):
  --source DIR              the product files (required)
  --target DIR              the web root to write (required); an existing one must be empty or published before
  --base-url URL            the http:// URL the web root is served at; a download is URL + package path (required)
  --product P --version V --code C
                            also answer the product request for these (all three or none)
  --main-exe NAME           the file at the top that is the program entry (default brellium.exe)
  --custom-dir NAME         the folder of the custom files (default Custom)
  --plain PATTERN           publish the files whose FILE matches the shell pattern plain, not zipped; * also
                            matches '/' (repeatable). A file that starts with "PK" is always zipped, since the
                            program takes any such download for a zip archive.
  --remove KIND:NAME        a removal entry; KIND is database, tools, program or custom, NAME the file below
                            that kind's folder (repeatable)
  --required FILE           the wizard does not let the user leave FILE out (repeatable)
  --destination FILE=FOLDER the folder the wizard installs custom FILE into; FILE * stands for every custom
                            file without its own; %NAME% is expanded; relative is below the program folder
  --killtask FILE=NAME,PROGRAM[,ask]
                            before installing FILE the wizard closes the running PROGRAM (an image file name
                            or full path); with ask, it asks the user first
  --preinstall PROGRAM      a program the wizard starts after building its list, before installing
  --postinstall PROGRAM     a program the wizard starts after installing
  --preinstall-parameters TEXT, --postinstall-parameters TEXT
                            the program's command line
  --preinstall-nowait, --postinstall-nowait
                            do not wait for the program to end
  --sign KEY                sign the release with the secret key file KEY (made by keygen): every entry gets
                            the SHA-256 of its file, the catalogue a release stamp and an Ed25519 signature
  --serial N                the release's serial (default: one more than the target's last signed release)
  --expires TIME            when the signed catalogue stops being accepted, a UTC time like
                            2030-01-31T12:00:00Z (default: 7 days from now)
  --deltas N                keep the last N published versions of each file (default 3) and offer, for every
                            changed file of at least 64 KB, a difference from each of them; 0: none, no history
  --history DIR             where those versions are kept between runs (default: TARGET.history, beside the
                            target, never served); it must be empty or a history kept before
  --delta-level L           the compression level of the differences, 1 to 22 (default 9)
  --help                    this text

       orvane-publish keygen --out NAME
Writes a new Ed25519 key pair: NAME.key (the secret, mode 0600) and NAME.pub (for the programs' OvKeys/).

Exit status: 0 when published, 1 when the release cannot be published, 2 for a command line error.
)";
}
