#include "picture.h"

#include "container_bytes.h"
#include "gif_palette.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr ARGB kWhite = 0xFFFFFFFF;
// Rows read or drawn at a time. GDI+ converts what it locks or draws to 32 bpp first, and a
// whole 100-megapixel picture would take 400 MB more on top of itself.
constexpr UINT kBandRows = 256;

GpRect Band(UINT top, UINT width, UINT height) {
    return GpRect{0, static_cast<INT>(top), static_cast<INT>(width),
                  static_cast<INT>(std::min(kBandRows, height - top))};
}

bool GetSize(GpImage* image, UINT& width, UINT& height) {
    return GdipGetImageWidth(image, &width) == Ok && GdipGetImageHeight(image, &height) == Ok &&
           width > 0 && height > 0 &&
           static_cast<unsigned long long>(width) * height <= kMaxPixels;
}

// A new width x height bitmap in format, cleared to white, with image drawn over it. A bitmap
// is cleared and drawn band by band under a clip, since GDI+ (Wine's, at least) does both
// through a 32-bpp copy of all it covers at once; drawn unscaled, each pixel comes from its
// own source pixel alone, so the bands meet without a seam.
ImagePtr DrawOnWhite(GpImage* image, UINT width, UINT height, PixelFormat format) {
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0, format,
                                  nullptr, &bitmap) != Ok)
        return nullptr;
    ImagePtr result(bitmap);
    GpGraphics* graphics = nullptr;
    if (GdipGetImageGraphicsContext(result.get(), &graphics) != Ok) return nullptr;
    GraphicsPtr owner(graphics);
    ImageType type = ImageTypeUnknown;
    if (GdipGetImageType(image, &type) != Ok) return nullptr;
    if (type != ImageTypeBitmap) {
        if (GdipGraphicsClear(graphics, kWhite) != Ok ||
            GdipDrawImageRectI(graphics, image, 0, 0, static_cast<INT>(width),
                               static_cast<INT>(height)) != Ok)
            return nullptr;
        return result;
    }
    for (UINT top = 0; top < height; top += kBandRows) {
        const GpRect band = Band(top, width, height);
        if (GdipSetClipRectI(graphics, band.X, band.Y, band.Width, band.Height,
                             CombineModeReplace) != Ok ||
            GdipGraphicsClear(graphics, kWhite) != Ok ||
            GdipDrawImageRectRectI(graphics, image, band.X, band.Y, band.Width, band.Height,
                                   band.X, band.Y, band.Width, band.Height, UnitPixel, nullptr,
                                   nullptr, nullptr) != Ok)
            return nullptr;
    }
    return result;
}

// Plays a metafile's GDI records onto white. Wine's GDI+ crashes on some EMF+ records
// (custom line caps) that GDI skips, and a dual EMF+ file holds the same picture in both.
ImagePtr PlayOnWhite(GpMetafile* metafile, UINT width, UINT height) {
    HENHMETAFILE handle = nullptr;
    if (GdipGetHemfFromMetafile(metafile, &handle) != Ok) return nullptr;
    EnhMetafilePtr records(handle);
    MemoryDcPtr dc(CreateCompatibleDC(nullptr));
    if (!dc) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // rows top down, as GDI+ has them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    GdiBitmapPtr canvas(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!canvas) return nullptr;
    HGDIOBJ previous = SelectObject(dc.get(), canvas.get());
    RECT area{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    FillRect(dc.get(), &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    BOOL played = PlayEnhMetaFile(dc.get(), records.get(), &area);
    GdiFlush();
    SelectObject(dc.get(), previous);
    if (!played) return nullptr;

    // Copied into pixels GDI+ owns: the canvas goes when this returns, and on Windows a
    // bitmap made over it, and every clone of that one, would go on reading it.
    return BitmapOfRows(bits, width, height, PixelFormat32bppRGB);
}

// How to turn a picture so that it stands as EXIF orientation 1..8 says: a clockwise
// turn, then a mirroring. Kept as two steps since Wine mirrors before turning when
// given both at once, while Windows turns first.
struct UprightTurn {
    RotateFlipType turn;
    bool mirror;
};

UprightTurn TurnFor(int orientation) {
    switch (orientation) {
        case 2: return {RotateNoneFlipNone, true};
        case 3: return {Rotate180FlipNone, false};
        case 4: return {Rotate180FlipNone, true};
        case 5: return {Rotate90FlipNone, true};
        case 6: return {Rotate90FlipNone, false};
        case 7: return {Rotate270FlipNone, true};
        case 8: return {Rotate270FlipNone, false};
        default: return {RotateNoneFlipNone, false};
    }
}

}  // namespace

ImagePtr ToIndexedColor(GpImage* image) {
    auto* source = static_cast<GpBitmap*>(image);
    UINT width = 0;
    UINT height = 0;
    if (!GetSize(image, width, height)) return nullptr;

    ColourCount count;
    for (UINT top = 0; top < height; top += kBandRows) {
        BitmapBitsLock pixels(source, Band(top, width, height), ImageLockModeRead,
                              PixelFormat32bppARGB);
        if (!pixels.locked()) return nullptr;
        for (UINT y = 0; y < pixels.data().Height; ++y)
            CountColours(count, reinterpret_cast<const uint32_t*>(pixels.row(y)), width);
    }
    GifPalette palette = MakeGifPalette(std::move(count));
    std::vector<BYTE> paletteBlock(sizeof(ColorPalette) + (kGifColours - 1) * sizeof(ARGB));
    auto* platformPalette = reinterpret_cast<ColorPalette*>(paletteBlock.data());
    platformPalette->Flags = 0;
    platformPalette->Count = static_cast<UINT>(palette.entries.size());
    std::copy(palette.entries.begin(), palette.entries.end(), platformPalette->Entries);

    GpBitmap* indexed = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                  PixelFormat8bppIndexed, nullptr, &indexed) != Ok)
        return nullptr;
    ImagePtr result(indexed);
    if (GdipSetImagePalette(indexed, platformPalette) != Ok) return nullptr;
    for (UINT top = 0; top < height; top += kBandRows) {
        const GpRect band = Band(top, width, height);
        BitmapBitsLock from(source, band, ImageLockModeRead, PixelFormat32bppARGB);
        BitmapBitsLock to(indexed, band, ImageLockModeWrite, PixelFormat8bppIndexed);
        if (!from.locked() || !to.locked()) return nullptr;
        for (UINT y = 0; y < from.data().Height; ++y) {
            const auto* in = reinterpret_cast<const uint32_t*>(from.row(y));
            BYTE* out = to.row(y);
            for (UINT x = 0; x < width; ++x) out[x] = PaletteIndex(palette, in[x]);
        }
    }
    return result;
}

std::vector<uint8_t> TransparentPixels(GpImage* image) {
    UINT width = 0;
    UINT height = 0;
    std::vector<uint8_t> clear;
    if (!GetSize(image, width, height)) return clear;
    bool any = false;
    clear.assign(static_cast<size_t>(width) * height, 0);
    for (UINT top = 0; top < height; top += kBandRows) {
        BitmapBitsLock pixels(static_cast<GpBitmap*>(image), Band(top, width, height),
                              ImageLockModeRead, PixelFormat32bppARGB);
        if (!pixels.locked()) return {};
        for (UINT y = 0; y < pixels.data().Height; ++y) {
            const auto* in = reinterpret_cast<const ARGB*>(pixels.row(y));
            uint8_t* out = clear.data() + static_cast<size_t>(top + y) * width;
            for (UINT x = 0; x < width; ++x) {
                out[x] = in[x] >> 24 < 0x80;
                any = any || out[x];
            }
        }
    }
    if (!any) clear.clear();
    return clear;
}

bool MakeTransparent(GpImage* indexed, const std::vector<uint8_t>& clear) {
    UINT width = 0;
    UINT height = 0;
    INT paletteSize = 0;
    if (!GetSize(indexed, width, height) || clear.size() != static_cast<size_t>(width) * height ||
        GdipGetImagePaletteSize(indexed, &paletteSize) != Ok || paletteSize <= 0)
        return false;
    std::vector<BYTE> paletteBlock(
        std::max(static_cast<size_t>(paletteSize), sizeof(ColorPalette) + 255 * sizeof(ARGB)));
    auto* palette = reinterpret_cast<ColorPalette*>(paletteBlock.data());
    if (GdipGetImagePalette(indexed, palette, paletteSize) != Ok || palette->Count > 256)
        return false;
    BitmapBitsLock pixels(static_cast<GpBitmap*>(indexed), width, height,
                          ImageLockModeRead | ImageLockModeWrite, PixelFormat8bppIndexed);
    if (!pixels.locked()) return false;
    std::vector<size_t> uses(256, 0);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            if (!clear[static_cast<size_t>(y) * width + x]) ++uses[pixels.row(y)[x]];
    BYTE chosen = 0;
    if (palette->Count < 256) {
        chosen = static_cast<BYTE>(palette->Count++);
    } else {
        chosen = static_cast<BYTE>(std::min_element(uses.begin(), uses.end()) - uses.begin());
        if (uses[chosen] > 0) {
            BYTE nearest = chosen == 0 ? 1 : 0;
            for (UINT i = 0; i < palette->Count; ++i)
                if (i != chosen &&
                    ColourDistance(palette->Entries[i], palette->Entries[chosen]) <
                        ColourDistance(palette->Entries[nearest], palette->Entries[chosen]))
                    nearest = static_cast<BYTE>(i);
            for (UINT y = 0; y < height; ++y)
                for (UINT x = 0; x < width; ++x)
                    if (pixels.row(y)[x] == chosen) pixels.row(y)[x] = nearest;
        }
    }
    palette->Entries[chosen] = 0x00FFFFFF;  // transparent; white where alpha is not read
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            if (clear[static_cast<size_t>(y) * width + x]) pixels.row(y)[x] = chosen;
    return GdipSetImagePalette(indexed, palette) == Ok;
}

ImagePtr BitmapOfRows(const void* rows, UINT width, UINT height, PixelFormat format) {
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0, format,
                                  nullptr, &bitmap) != Ok)
        return nullptr;
    ImagePtr result(bitmap);
    const auto* from = static_cast<const BYTE*>(rows);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (UINT top = 0; top < height; top += kBandRows) {
        BitmapBitsLock band(bitmap, Band(top, width, height), ImageLockModeWrite, format);
        if (!band.locked()) return nullptr;
        for (UINT y = 0; y < band.data().Height; ++y)
            std::memcpy(band.row(y), from + (size_t{top} + y) * rowBytes, rowBytes);
    }
    return result;
}

bool HasAlpha(GpImage* image) {
    UINT flags = 0;
    return GdipGetImageFlags(image, &flags) == Ok && (flags & ImageFlagsHasAlpha);
}

ImagePtr OnWhite(GpImage* image) {
    UINT width = 0;
    UINT height = 0;
    if (!GetSize(image, width, height)) return nullptr;
    return DrawOnWhite(image, width, height, PixelFormat24bppRGB);
}

bool TurnUpright(GpImage* image, int orientation) {
    UprightTurn upright = TurnFor(orientation);
    if (upright.turn == RotateNoneFlipNone && !upright.mirror) return true;
    if (upright.turn != RotateNoneFlipNone && GdipImageRotateFlip(image, upright.turn) != Ok)
        return false;
    if (upright.mirror && GdipImageRotateFlip(image, RotateNoneFlipX) != Ok) return false;
    return true;
}

bool IsMetafile(const uint8_t* data, size_t size) {
    auto u16 = [data](size_t at) { return Load16(data + at, false); };
    auto u32 = [data](size_t at) { return Load32(data + at, false); };
    if (size >= 44 && u32(0) == 1 && std::memcmp(data + 40, " EMF", 4) == 0) return true;
    if (size >= 4 && u32(0) == 0x9AC6CDD7) return true;  // placeable WMF
    // A plain WMF: in memory (1) or on disk (2), a header of 9 words, version 1 or 3.
    return size >= 18 && (u16(0) == 1 || u16(0) == 2) && u16(2) == 9 &&
           (u16(4) == 0x0100 || u16(4) == 0x0300);
}

ImagePtr RenderMetafile(GpImage* metafile) {
    UINT width = 0;
    UINT height = 0;
    if (!GetSize(metafile, width, height)) return nullptr;
    MetafileHeader header{};
    if (GdipGetMetafileHeaderFromMetafile(static_cast<GpMetafile*>(metafile), &header) != Ok)
        return nullptr;
    // Only GDI+ can draw an EMF+ file without GDI records.
    if (header.Type == MetafileTypeEmfPlusOnly)
        return DrawOnWhite(metafile, width, height, PixelFormat32bppARGB);
    return PlayOnWhite(static_cast<GpMetafile*>(metafile), width, height);
}
