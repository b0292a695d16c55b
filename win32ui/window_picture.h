#pragma once
// A picture of a window as it is on the screen, frame included, saved as a PNG file: what ORVANE_SCREENSHOT asks
// the wizard to leave as it closes, for the demo and for reviewers.
#include <filesystem>

#include "win32ui/windows_api.h"

namespace win32ui {

// False when the screen could not be read or the file not written.
bool SaveWindowPicture(HWND window, const std::filesystem::path& file);

}  // namespace win32ui
