#include "colours.h"

#include "metadata.h"

#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TransformPtr = std::unique_ptr<void, TransformDeleter>;

// The colour engine reads a profile's tags only when it needs them, so the size the header
// declares is checked here.
ProfilePtr OpenRgbProfile(const std::string& icc) {
    constexpr size_t kHeaderBytes = 128;
    if (icc.size() < kHeaderBytes || icc.size() > kMaxIccBytes) return nullptr;
    const auto* header = reinterpret_cast<const uint8_t*>(icc.data());
    size_t declared = static_cast<size_t>(header[0]) << 24 | static_cast<size_t>(header[1]) << 16 |
                      static_cast<size_t>(header[2]) << 8 | header[3];
    if (declared < kHeaderBytes || declared > icc.size()) return nullptr;
    ProfilePtr profile(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigRgbData) return nullptr;
    switch (cmsGetDeviceClass(profile.get())) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigColorSpaceClass:
        break;
    default:
        return nullptr;
    }
    return profile;
}

// Pixels as GDI+ lays them out in memory: blue, green, red (and alpha) bytes.
TransformPtr ToSrgb(const std::string& icc, cmsUInt32Number layout) {
    ProfilePtr from = OpenRgbProfile(icc);
    ProfilePtr srgb(cmsCreate_sRGBProfile());
    if (!from || !srgb) return nullptr;
    return TransformPtr(cmsCreateTransform(from.get(), layout, srgb.get(), layout,
                                           INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA));
}

// What the colour engine reads of a profile to take pixels from it: its table for the
// intent, or else its colorants and curves. Reading them parses them, so a damaged one shows.
bool ReadsAsInput(void* profile) {
    if (cmsIsTag(profile, cmsSigAToB0Tag)) return cmsReadTag(profile, cmsSigAToB0Tag) != nullptr;
    for (cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag,
                                cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag})
        if (cmsReadTag(profile, tag) == nullptr) return false;
    return true;
}

// A palette picture's colours are all in its palette.
bool ConvertPalette(GpImage* image, const std::string& icc) {
    INT size = 0;
    if (GdipGetImagePaletteSize(image, &size) != Ok || size < static_cast<INT>(sizeof(ColorPalette)))
        return false;
    std::vector<BYTE> block(static_cast<size_t>(size));
    auto* palette = reinterpret_cast<ColorPalette*>(block.data());
    if (GdipGetImagePalette(image, palette, size) != Ok) return false;
    TransformPtr transform = ToSrgb(icc, TYPE_BGRA_8);
    if (!transform) return false;
    cmsDoTransform(transform.get(), palette->Entries, palette->Entries, palette->Count);
    return GdipSetImagePalette(image, palette) == Ok;
}

}  // namespace

// The tags alone: making a transform, as converting does, would cost a photo with a profile
// several milliseconds more.
bool DescribesRgbPixels(const std::string& icc) {
    ProfilePtr profile = OpenRgbProfile(icc);
    return profile && ReadsAsInput(profile.get());
}

bool ConvertToSrgb(GpImage* image, const std::string& icc) {
    PixelFormat format = 0;
    UINT width = 0;
    UINT height = 0;
    if (GdipGetImagePixelFormat(image, &format) != Ok || GdipGetImageWidth(image, &width) != Ok ||
        GdipGetImageHeight(image, &height) != Ok)
        return false;
    if (format & PixelFormatIndexed) return ConvertPalette(image, icc);
    // The common layouts are converted where they lie; GDI+ converts any other to 32 bits a
    // pixel and back, a band at a time.
    PixelFormat locked = format == PixelFormat24bppRGB ? PixelFormat24bppRGB : PixelFormat32bppARGB;
    TransformPtr transform = ToSrgb(icc, locked == PixelFormat24bppRGB ? TYPE_BGR_8 : TYPE_BGRA_8);
    if (!transform) return false;
    constexpr UINT kBandRows = 256;
    for (UINT top = 0; top < height; top += kBandRows) {
        GpRect band{0, static_cast<INT>(top), static_cast<INT>(width),
                    static_cast<INT>(std::min(kBandRows, height - top))};
        BitmapBitsLock pixels(static_cast<GpBitmap*>(image), band,
                              ImageLockModeRead | ImageLockModeWrite, locked);
        if (!pixels.locked()) return false;
        for (UINT y = 0; y < pixels.data().Height; ++y)
            cmsDoTransform(transform.get(), pixels.row(y), pixels.row(y), width);
    }
    return true;
}
