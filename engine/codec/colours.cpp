#include "colours.h"

#include "container_bytes.h"
#include "metadata.h"

#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Rows converted at a time, so that no copy of a whole large picture is made.
constexpr UINT kBandRows = 256;

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TransformPtr = std::unique_ptr<void, TransformDeleter>;

// The colour engine reads a profile's tags only when it needs them, so the size the header
// declares is checked here. Pixels are taken from profiles of cameras, screens and colour
// spaces, and a CMYK picture's from a printer's too.
ProfilePtr OpenProfile(const std::string& icc, cmsColorSpaceSignature space) {
    constexpr size_t kHeaderBytes = 128;
    if (icc.size() < kHeaderBytes || icc.size() > kMaxIccBytes) return nullptr;
    const auto* header = reinterpret_cast<const uint8_t*>(icc.data());
    size_t declared = Load32(header, true);
    if (declared < kHeaderBytes || declared > icc.size()) return nullptr;
    ProfilePtr profile(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
    if (!profile || cmsGetColorSpace(profile.get()) != space) return nullptr;
    switch (cmsGetDeviceClass(profile.get())) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigColorSpaceClass:
        return profile;
    case cmsSigOutputClass:
        return space == cmsSigCmykData ? std::move(profile) : nullptr;
    default:
        return nullptr;
    }
}

ProfilePtr OpenRgbProfile(const std::string& icc) { return OpenProfile(icc, cmsSigRgbData); }

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

bool DescribesCmykPixels(const std::string& icc) {
    ProfilePtr profile = OpenProfile(icc, cmsSigCmykData);
    return profile && cmsIsTag(profile.get(), cmsSigAToB0Tag) &&
           cmsReadTag(profile.get(), cmsSigAToB0Tag) != nullptr;
}

ImagePtr SrgbFromCmyk(UINT width, UINT height, const std::string& icc,
                      const std::function<bool(UINT top, UINT rows, BYTE* cmyk)>& read) {
    ProfilePtr from = OpenProfile(icc, cmsSigCmykData);
    ProfilePtr srgb(cmsCreate_sRGBProfile());
    if (!from || !srgb) return nullptr;
    TransformPtr transform(cmsCreateTransform(from.get(), TYPE_CMYK_8, srgb.get(), TYPE_BGR_8,
                                              INTENT_PERCEPTUAL, 0));
    GpBitmap* bitmap = nullptr;
    if (!transform || GdipCreateBitmapFromScan0(static_cast<INT>(width), static_cast<INT>(height), 0,
                                                PixelFormat24bppRGB, nullptr, &bitmap) != Ok)
        return nullptr;
    ImagePtr picture(bitmap);
    std::vector<BYTE> cmyk(size_t{width} * 4 * std::min(kBandRows, height));
    for (UINT top = 0; top < height; top += kBandRows) {
        UINT rows = std::min(kBandRows, height - top);
        if (!read(top, rows, cmyk.data())) return nullptr;
        BitmapBitsLock pixels(bitmap, GpRect{0, static_cast<INT>(top), static_cast<INT>(width),
                                             static_cast<INT>(rows)},
                              ImageLockModeWrite, PixelFormat24bppRGB);
        if (!pixels.locked()) return nullptr;
        for (UINT y = 0; y < rows; ++y)
            cmsDoTransform(transform.get(), cmyk.data() + size_t{y} * width * 4, pixels.row(y), width);
    }
    return picture;
}
