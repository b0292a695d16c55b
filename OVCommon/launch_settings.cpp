
#include "OVCommon/OVCommon.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string TrimBlanks(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlankOrControl(text[first])) ++first;
    while (last > first && IsBlankOrControl(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string AsciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string ProgramFolderOfExecutable() {
    const std::string path = platform::ExecutablePath();
    return AddBackslash(path.substr(0, path.find_last_of(platform::kPathDelimiter) + 1));
}

// Every keyword tried, in this order, against one argument.
void ApplyArgument(const std::string& argument, LaunchSettings& settings) {
    ParamValue(argument, "MAINEXE", settings.MainExe);
    ParamValue(argument, "CODE", settings.Code);
    ParamValue(argument, "VERSION", settings.Version);
    ParamValue(argument, "SFLD", settings.SharedFolder);
    ParamValue(argument, "PRODUCT", settings.Product);
    ParamFlag(argument, "ENTC", settings.ClientMode);
    ParamFlag(argument, "ENTS", settings.MirrorMode);
    ParamFlag(argument, "SA", settings.StandAlone);
    ParamFlag(argument, "PRXBA", settings.ProxyBasicAuth);
    ParamValue(argument, "PRXPSWD", settings.ProxyPassword);
    std::string port;
    ParamValue(argument, "PRXPORT", port);
    if (!port.empty()) settings.ProxyPort = TextToInt(port, 0);
    ParamValue(argument, "PRXSRV", settings.ProxyServer);
    ParamValue(argument, "PRXUN", settings.ProxyUser);
}

// The machine's proxy values replace the command line's; a value of the wrong type raises.
void ReadProxyFromRegistry(LaunchSettings& settings) {
    platform::RegistryKey key;
    if (!key.OpenReadOnly("SOFTWARE\\Quelmar\\Orvane")) return;
    if (key.ValueExists("PRXBA")) settings.ProxyBasicAuth = key.ReadDword("PRXBA") != 0;
    if (key.ValueExists("PRXPSWD")) settings.ProxyPassword = key.ReadString("PRXPSWD");
    if (key.ValueExists("PRXPORT")) settings.ProxyPort = static_cast<int32_t>(key.ReadDword("PRXPORT"));
    if (key.ValueExists("PRXSRV")) settings.ProxyServer = key.ReadString("PRXSRV");
    if (key.ValueExists("PRXUN")) settings.ProxyUser = key.ReadString("PRXUN");
}

}  // namespace

LaunchSettings Settings;
std::string ProgramFolder = ProgramFolderOfExecutable();

void ParamValue(const std::string& argument, const std::string& keyword, std::string& setting) {
    const std::string trimmed = TrimBlanks(argument);
    const std::string key = AsciiUpper(keyword) + "=";
    const size_t found = AsciiUpper(trimmed).find(key);
    if (found == std::string::npos) return;
    setting = TrimChar(trimmed.substr(found + key.size()), '"');
}

void ParamFlag(const std::string& argument, const std::string& keyword, bool& flag) {
    const std::string trimmed = TrimBlanks(argument);
    if (!trimmed.empty() && AsciiUpper(trimmed.substr(1)) == AsciiUpper(keyword)) flag = true;
}

void LoadLaunchSettings(const std::vector<std::string>& arguments) {
    LaunchSettings settings;
    for (size_t i = 1; i < arguments.size(); ++i) ApplyArgument(arguments[i], settings);
    if (settings.ProxyServer.empty()) ReadProxyFromRegistry(settings);
    Settings = settings;
}

std::string ReadCommonIni(const std::string& key) {
    return platform::ReadProfileString(ProgramFolder + "common.ini", "general", key, "");
}
