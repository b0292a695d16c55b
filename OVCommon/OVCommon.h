#pragma once
// What every mode of the program shares: the launch settings read once at start-up, the program folder, the
// process-wide localizer, the exit codes of the windowless modes, and the file, folder and process helpers.
// The helpers report failure through their result and never show a message.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "localizer/localizer.h"
#include "platform/exception.h"
#include "platform/files.h"


// --- Exit codes of the windowless modes (the process status is the low 8 bits) ---
constexpr int ExitBadLaunch = -1;
constexpr int ExitNoQueryText = -10;
constexpr int ExitServerError = -20;
constexpr int ExitTransferFailed = -60;
constexpr int ExitPackageFailed = -70;
// A verifying run that went through but refused entries: not every file is what the signed catalogue names.
constexpr int ExitRefusedEntries = 1;

// Ends the process at once with the given exit code. Nothing on the stack is unwound and no static object is
// destroyed, since other threads may still use them; standard output and error are flushed and the temporary
// fallback folders removed first.
[[noreturn]] void StopProcess(int exitCode);

// --- Launch settings ---
struct LaunchSettings {
    std::string MainExe = "brellium.exe";
    std::string Code;
    std::string Version;
    std::string SharedFolder;
    std::string Product;
    bool ClientMode = false;
    bool MirrorMode = false;
    bool StandAlone = false;
    bool ProxyBasicAuth = false;
    std::string ProxyPassword;
    int32_t ProxyPort = 0;
    std::string ProxyServer;
    std::string ProxyUser;
};

// The settings of this process: written by LoadLaunchSettings, read-only afterwards.
extern LaunchSettings Settings;
// The folder of the running executable, with a trailing '/'; set before anything else of the program runs.
extern std::string ProgramFolder;
// The one localizer of the process, over ProgramFolder + "OvLng"; created by StartOVCommon.
extern std::unique_ptr<TFileLocalizer> Localizer;

// Creates the process-wide localizer; the entry calls it first. A language file that cannot be read raises.
void StartOVCommon();

// Fills Settings from the argument vector (element 0, the program path, is not examined) and, when no proxy
// server was given, from the registry. A registry value of the wrong type raises Exception.
void LoadLaunchSettings(const std::vector<std::string>& arguments);
// Matches one argument against a NAME=value keyword found anywhere in it; the setting changes only on a match.
void ParamValue(const std::string& argument, const std::string& keyword, std::string& setting);
// Matches one argument, after its first character, against a flag keyword; a flag is only ever set.
void ParamFlag(const std::string& argument, const std::string& keyword, bool& flag);
// The value of a key in section "general" of ProgramFolder + "common.ini"; empty when anything is missing.
std::string ReadCommonIni(const std::string& key);
// The file a run locks in the folder it writes (the shared folder of a mirror run, the program folder of a client
// run or a wizard), so that runs into one folder never overlap.
constexpr const char* RunLockFileName = "orvane.lock";

// --- Text helpers ---
// The name with one trailing path separator ('/' or '\' count as present); an empty name stays empty.
std::string AddBackslash(const std::string& folder);
// The text without leading and trailing runs of the character.
std::string TrimChar(const std::string& text, char character);
// Decimal within signed 32 bits, or hexadecimal (up to 8 digits) after "$", "x", "X", "0x" or "0X", with an
// optional sign; anything else gives the default.
int32_t TextToInt(const std::string& text, int32_t defaultValue);
// A message text used as a format: "%d" takes a number, "%s" a text, each with an optional "-", width and
// precision; "%%" is a percent sign. A directive without a fitting argument raises EConvertError.
using TFormatArg = std::variant<int64_t, std::string>;
std::string FormatText(const std::string& format, const std::vector<TFormatArg>& arguments);
// The same conversion; nothing when the text is not such a number.
std::optional<int32_t> TryTextToInt(const std::string& text);

// The message box of the program: returns the code of the button pressed. The handler may be replaced (the
// wizard shows a real box); the default writes the text to standard error and answers OK.
constexpr int IdOk = 1;
using AppMessageBoxHandler = std::function<int(const std::string& text, unsigned style)>;
extern AppMessageBoxHandler AppMessageBoxFunction;
int AppMessageBox(const std::string& text, unsigned style);

// --- CRC of installed files: the reflected CRC-32 register, initial value 0, no final inversion ---
uint32_t CrcUpdate(uint32_t crc, const void* buffer, size_t length);
// CRC of the file's bytes; 0 for an empty or unreadable file.
uint32_t FileCrc(const std::string& fileName);
// CRC of the rest of an open file, read from its position to the end.
uint32_t FileCrc(platform::File& file);

// --- File and folder helpers ---
// Paths are UTF-8 texts; a path made of a plain string would read them in the system's narrow code page.
std::filesystem::path Utf8Path(const std::string& text);
std::string Utf8Text(const std::filesystem::path& path);
// The folder as an absolute, normalised path with the system's separators ('\\' counts as one everywhere) and a
// trailing separator: the same folder whatever the current folder of the caller. Empty stays empty.
std::string AbsoluteFolder(const std::string& folder);
// Size in bytes; 0 for an unreadable file.
int64_t FileSizeOf(const std::string& fileName);
// Replaces the destination with a copy of the source; the old destination survives any failure.
// A run that copies many files may defer their durability and force it once, with platform::DurableFiles.
bool CopyFileContents(const std::string& source, const std::string& destination,
                      platform::Durability durability = platform::Durability::Synced);
// True when the file starts with "PK".
bool IsZipFile(const std::string& fileName);
// The private temporary folder of this user, with a trailing '/'. Raises Exception when no such folder can be
// had: a relative name would let callers create and clear files wherever the program stands.
std::string TempFolderPath();
// A path in the temporary folder that names nothing yet; the file is not created. Raises as TempFolderPath.
std::string TempFileName();
// Removes the folder and everything in it; symbolic links are removed, never followed. Sub-folders whose
// names begin with "." are left alone, so such a tree is not removed and the result is false.
bool DeleteFolderTree(const std::string& folder);
// Empties the folder the same way but keeps it; false when it is no folder or something in it stays.
bool DeleteFolderContents(const std::string& folder);
// Copies the plain files of the source folder (not its sub-folders, links or dot-files) into the destination.
void CopyFolderFiles(const std::string& source, const std::string& destination);

// The process-wide pseudo-random generator: never seeded, so every run draws the same sequence.
extern uint32_t RandomState;
// A draw in 0 .. range-1.
int32_t RandomDraw(int32_t range);

// --- Programs ---
// Starts the program (or opens the document) with the parameter text; false when the file does not exist or
// cannot be started. With wait, returns only when the program has ended.
bool RunProgram(const std::string& fileName, const std::string& parameters, bool wait);
// Runs ProgramFolder + MainExe with "/R" and reads the query text it leaves in the shared block; empty when the
// main program left none.
std::string MainProgramQueryText();
// The query text of a code and version, stamped with the local time.
std::string BuildQueryText(const std::string& code, const std::string& version);
std::string BuildQueryText(const std::string& code, const std::string& version, const std::tm& localTime);
