#pragma once
// The compiled-in pictures: each a PAM file (RGB_ALPHA, 8 bits a sample) by the name of its drawing, one for
// each width it was drawn at.
#include <cstddef>

namespace win32ui {

struct TPictureData {
    const char* Name;
    int Width;
    const unsigned char* Bytes;
    size_t Size;
};

extern const TPictureData Pictures[];
extern const int PictureCount;

}  // namespace win32ui
