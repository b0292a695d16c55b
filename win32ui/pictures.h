#pragma once
// The window picture and the list's row images in Win32, from the same drawings as the Qt window's pictures,
// rasterised at build time and compiled in.
#include <cstdint>

#include "win32ui/windows_api.h"

namespace win32ui {

// The picture beside the pages, drawn at the built-in width nearest to the one given, laid over the background
// colour given (a COLORREF); the caller owns it.
HBITMAP WizardPicture(COLORREF background, int width);
// The six row images in the order of TRowImage, square, drawn at the built-in side nearest to the one given;
// the caller owns the list.
HIMAGELIST RowImages(int side);
// A top-down 32-bit DIB section; bits receives its pixels (blue, green, red, alpha). Throws when none is had.
HBITMAP CreateDib(int width, int height, uint8_t** bits);

}  // namespace win32ui
