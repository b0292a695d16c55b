#include "platform/version_resource.h"

#include "platform/files.h"

namespace platform {

std::string FileVersionString(const std::string& path) {
    std::string image;
    if (!FileExists(path) || !ReadWholeFile(path, image)) return {};
    return FileVersionFromImage(image);
}

}  // namespace platform
