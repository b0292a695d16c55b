#pragma once
// The FileVersion text of a Windows PE file's version resource.
#include <string>
#include <string_view>

namespace platform {

// The "FileVersion" string of the file's version resource, in UTF-8, exactly as stored (no blanks removed).
// Empty when the file is missing, not a PE file, damaged, or has no such string.
std::string FileVersionString(const std::string& path);
// The same over the bytes of a PE image. Every offset and length is checked; hostile input gives empty.
std::string FileVersionFromImage(std::string_view image);

}  // namespace platform
