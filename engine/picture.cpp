#include "picture.h"

#include <vector>

namespace {

int Distance(ARGB a, ARGB b) {
    int dr = static_cast<int>((a >> 16) & 0xFF) - static_cast<int>((b >> 16) & 0xFF);
    int dg = static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF);
    int db = static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF);
    return dr * dr + dg * dg + db * db;
}

BYTE NearestOpaque(const ColorPalette& palette, ARGB color) {
    BYTE best = 0;
    int bestDistance = INT_MAX;
    for (UINT i = 0; i < palette.Count; ++i) {
        if ((palette.Entries[i] >> 24) == 0) continue;
        int d = Distance(palette.Entries[i], color);
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<BYTE>(i);
        }
    }
    return best;
}

}  // namespace

ImagePtr ToIndexedColor(GpImage* image) {
    auto* source = static_cast<GpBitmap*>(image);
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImageWidth(image, &width) != Ok || GdipGetImageHeight(image, &height) != Ok)
        return nullptr;

    std::vector<BYTE> paletteBlock(sizeof(ColorPalette) + 255 * sizeof(ARGB));
    auto* palette = reinterpret_cast<ColorPalette*>(paletteBlock.data());
    palette->Flags = 0;
    palette->Count = 256;
    if (GdipInitializePalette(palette, PaletteTypeOptimal, 256, FALSE, source) != Ok)
        return nullptr;

    GpBitmap* indexed = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                  PixelFormat8bppIndexed, nullptr, &indexed) != Ok)
        return nullptr;
    ImagePtr result(indexed);
    if (GdipSetImagePalette(indexed, palette) != Ok) return nullptr;

    BitmapBitsLock from(source, width, height, ImageLockModeRead, PixelFormat32bppARGB);
    BitmapBitsLock to(indexed, width, height, ImageLockModeWrite, PixelFormat8bppIndexed);
    if (!from.locked() || !to.locked()) return nullptr;

    // Photos repeat colours heavily: remember each 15-bit colour's choice.
    std::vector<short> chosen(1 << 15, -1);
    for (UINT y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const ARGB*>(from.row(y));
        BYTE* out = to.row(y);
        for (UINT x = 0; x < width; ++x) {
            ARGB color = in[x];
            size_t key = ((color >> 9) & 0x7C00) | ((color >> 6) & 0x03E0) | ((color >> 3) & 0x001F);
            if (chosen[key] < 0) chosen[key] = NearestOpaque(*palette, color);
            out[x] = static_cast<BYTE>(chosen[key]);
        }
    }
    return result;
}
