// The client mode over any "latest.xml": it may fail with an error, but never crashes and never writes outside
// the program folder, however the catalogue's file names try to climb out of it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "OVCommon/OVCommon.h"
#include "dEM/dEM.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

struct Sandbox {
    // A fixed place, so the seeds can name the shared copy.
    fs::path root = "/tmp/orvane-client-fuzz";
    fs::path share = root / "share";
    // Two levels of folders above the program folder, which must stay empty.
    fs::path program = root / "one" / "two" / "program";
    std::unique_ptr<TdmEM> module;

    Sandbox() {
        fs::create_directories(share);
        fs::create_directories(program);
        ProgramFolder = program.string() + "/";
        Settings.SharedFolder = share.string() + "/";
        Localizer = std::make_unique<TFileLocalizer>(ProgramFolder + "OvLng");
        module = std::make_unique<TdmEM>();
        platform::ReplaceFileWithBytes(share / "a.dat", "shared copy");
    }
};

bool OnlyChildIs(const fs::path& folder, const fs::path& child) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path() != child) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: the documents it holds must not outlive the XML layer's own thread state at exit.
    static Sandbox& sandbox = *new Sandbox;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // System files that never end or that only the kernel should hand out stay out of the copies.
    for (std::string_view system : {"/dev", "/proc", "/sys"})
        if (text.find(system) != std::string_view::npos) return 0;
    // A text cut short ends the process at once with its exit status, before any entry is read.
    if (IsCutShortCatalogue(text)) return 0;
    platform::ReplaceFileWithBytes(sandbox.share / "latest.xml", text);
    fs::remove_all(sandbox.program);
    fs::create_directory(sandbox.program);
    try {
        sandbox.module->RunClient(Settings.SharedFolder);
    } catch (const std::exception&) {
        // Malformed text and missing shared copies end the run with an error; that is their documented outcome.
    }
    if (!OnlyChildIs(sandbox.root / "one", sandbox.root / "one" / "two") ||
        !OnlyChildIs(sandbox.root / "one" / "two", sandbox.program))
        __builtin_trap();
    return 0;
}
