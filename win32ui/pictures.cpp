#include "win32ui/pictures.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "win32ui/picture_data.h"

namespace win32ui {

namespace {

struct TImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;
};

// The drawing at the built-in width nearest to the one wanted.
const TPictureData& Find(const char* name, int width) {
    const TPictureData* nearest = nullptr;
    for (int i = 0; i < PictureCount; ++i) {
        if (std::strcmp(Pictures[i].Name, name) != 0) continue;
        if (!nearest || std::abs(Pictures[i].Width - width) < std::abs(nearest->Width - width)) nearest = &Pictures[i];
    }
    if (!nearest) throw std::logic_error(std::string("picture not built in: ") + name);
    return *nearest;
}

// The header of a PAM file, then its samples.
TImage Decode(const TPictureData& data) {
    const std::string bytes(reinterpret_cast<const char*>(data.Bytes), data.Size);
    const size_t end = bytes.find("ENDHDR\n");
    if (bytes.rfind("P7\n", 0) != 0 || end == std::string::npos) throw std::logic_error("picture is no PAM file");
    std::istringstream header(bytes.substr(3, end - 3));
    TImage image;
    int depth = 0, maximum = 0;
    for (std::string key; header >> key;) {
        if (key == "WIDTH") header >> image.Width;
        else if (key == "HEIGHT") header >> image.Height;
        else if (key == "DEPTH") header >> depth;
        else if (key == "MAXVAL") header >> maximum;
        else header.ignore(256, '\n');
    }
    const size_t samples = static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height) * 4;
    const size_t start = end + 7;
    if (depth != 4 || maximum != 255 || bytes.size() - start < samples) throw std::logic_error("picture is not RGBA");
    image.Rgba.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                      bytes.begin() + static_cast<std::ptrdiff_t>(start + samples));
    return image;
}

}  // namespace

HBITMAP CreateDib(int width, int height, uint8_t** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap) throw std::runtime_error("cannot create a bitmap");
    *bits = static_cast<uint8_t*>(pixels);
    return bitmap;
}

namespace {

uint8_t Blend(uint8_t colour, uint8_t alpha, uint8_t under) {
    return static_cast<uint8_t>((colour * alpha + under * (255 - alpha) + 127) / 255);
}

// Premultiplied alpha when under is transparent (an image list draws it), laid over under otherwise.
HBITMAP ToBitmap(const TImage& image, bool opaque, COLORREF under) {
    uint8_t* bits = nullptr;
    HBITMAP bitmap = CreateDib(image.Width, image.Height, &bits);
    const uint8_t back[3] = {GetBValue(under), GetGValue(under), GetRValue(under)};
    for (size_t i = 0; i < image.Rgba.size(); i += 4) {
        const uint8_t alpha = image.Rgba[i + 3];
        for (int c = 0; c < 3; ++c) {
            const uint8_t colour = image.Rgba[i + 2 - static_cast<size_t>(c)];
            bits[i + static_cast<size_t>(c)] = Blend(colour, alpha, opaque ? back[c] : 0);
        }
        bits[i + 3] = opaque ? 255 : alpha;
    }
    return bitmap;
}

// Set bits where a pixel is mostly transparent, for image lists drawn without alpha.
HBITMAP ToMask(const TImage& image) {
    const int stride = ((image.Width + 15) / 16) * 2;
    std::vector<uint8_t> bits(static_cast<size_t>(stride * image.Height), 0);
    for (int y = 0; y < image.Height; ++y) {
        for (int x = 0; x < image.Width; ++x) {
            if (image.Rgba[static_cast<size_t>((y * image.Width + x) * 4 + 3)] < 128)
                bits[static_cast<size_t>(y * stride + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
    return CreateBitmap(image.Width, image.Height, 1, 1, bits.data());
}

}  // namespace

HBITMAP WizardPicture(COLORREF background, int width) {
    return ToBitmap(Decode(Find("wizard", width)), true, background);
}

HIMAGELIST RowImages(int side) {
    const int shipped = Find("database", side).Width;
    HIMAGELIST list = ImageList_Create(shipped, shipped, ILC_COLOR32 | ILC_MASK, 6, 0);
    for (const char* name : {"database", "program", "tools", "done", "failed", "required"}) {
        const TImage image = Decode(Find(name, shipped));
        HBITMAP colour = ToBitmap(image, false, 0);
        HBITMAP mask = ToMask(image);
        ImageList_Add(list, colour, mask);
        DeleteObject(colour);
        DeleteObject(mask);
    }
    return list;
}

}  // namespace win32ui
