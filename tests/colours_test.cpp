// Which profiles are carried, and pixels turned into sRGB where no profile can go.
#include "colours.h"

#include "metadata.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

cmsToneCurve* SrgbCurve() {
    const cmsFloat64Number parameters[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, parameters);
}

std::string Saved(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    std::string bytes;
    if (profile && cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(size);
        cmsSaveProfileToMem(profile, &bytes[0], &size);
    }
    if (profile) cmsCloseProfile(profile);
    return bytes;
}

// sRGB with its red and blue primaries exchanged: converted into sRGB, a pixel's red and
// blue values trade places and nothing else changes, which shows the bytes' layout was read
// as the colour engine was told.
std::string ExchangedRedAndBlue() {
    cmsCIExyY white{0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries{{0.1500, 0.0600, 1.0}, {0.3000, 0.6000, 1.0}, {0.6400, 0.3300, 1.0}};
    cmsToneCurve* curve = SrgbCurve();
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::string bytes = Saved(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

std::vector<ARGB> Pattern(const ImageSize& size, bool translucent) {
    std::vector<ARGB> argb(static_cast<size_t>(size.width) * size.height);
    for (size_t i = 0; i < argb.size(); ++i) {
        ARGB alpha = translucent ? static_cast<ARGB>(64 + i % 192) : 0xFF;
        argb[i] = alpha << 24 | static_cast<ARGB>(i * 7 % 256) << 16 |
                  static_cast<ARGB>(i * 13 % 256) << 8 | static_cast<ARGB>(i * 29 % 256);
    }
    return argb;
}

ImagePtr InFormat(ImagePtr image, PixelFormat format) {
    if (format == PixelFormat32bppARGB) return image;
    ImageSize size = SizeOf(image.get());
    GpBitmap* copy = nullptr;
    if (GdipCloneBitmapAreaI(0, 0, static_cast<INT>(size.width), static_cast<INT>(size.height),
                             format, static_cast<GpBitmap*>(image.get()), &copy) != Ok)
        return nullptr;
    return ImagePtr(copy);
}

}  // namespace

TEST(DescribesRgbPixels, OnlyAnRgbProfileTheColourEngineTakes) {
    std::string srgb = Saved(cmsCreate_sRGBProfile());
    cmsToneCurve* curve = SrgbCurve();
    std::string grey = Saved(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    std::string cut = srgb.substr(0, srgb.size() / 2);
    std::string wrongSize = srgb;
    wrongSize[0] = '\x7f';  // declares far more than there is
    std::string oversized = srgb;
    oversized.resize(kMaxIccBytes + 1);
    oversized[0] = static_cast<char>((oversized.size() >> 24) & 0xFF);
    oversized[1] = static_cast<char>((oversized.size() >> 16) & 0xFF);
    oversized[2] = static_cast<char>((oversized.size() >> 8) & 0xFF);
    oversized[3] = static_cast<char>(oversized.size() & 0xFF);
    const struct {
        const char* what;
        std::string icc;
        bool taken;
    } rows[] = {
        {"sRGB", srgb, true},
        {"red and blue exchanged", ExchangedRedAndBlue(), true},
        {"none", "", false},
        {"grey", grey, false},
        {"text", std::string(200, 'x'), false},
        {"cut in half", cut, false},
        {"declaring more than it holds", wrongSize, false},
        {"over 4 MiB", oversized, false},
    };
    for (const auto& row : rows) EXPECT_EQ(DescribesRgbPixels(row.icc), row.taken) << row.what;
}

// Tall enough to span bands, of an odd width so that rows have padding.
TEST(ConvertToSrgb, EveryPixelOfEveryLayoutIsConvertedAndAlphaKept) {
    const std::string icc = ExchangedRedAndBlue();
    ASSERT_FALSE(icc.empty());
    const ImageSize size{301, 701};
    const struct {
        const char* what;
        PixelFormat format;
        bool translucent;
    } rows[] = {
        {"24 bits", PixelFormat24bppRGB, false},
        {"32 bits with alpha", PixelFormat32bppARGB, true},
        {"32 bits without alpha", PixelFormat32bppRGB, false},
        {"48 bits", PixelFormat48bppRGB, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<ARGB> before = Pattern(size, row.translucent);
        ImagePtr image = InFormat(MakeBitmap(size, before), row.format);
        ASSERT_TRUE(image);
        ASSERT_TRUE(ConvertToSrgb(image.get(), icc));
        Pixels after = ReadPixels(image.get());
        ASSERT_EQ(after.argb.size(), before.size());
        int worst = 0;
        size_t alphaChanged = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            worst = std::max({worst, std::abs(Channel(after.argb[i], 16) - Channel(before[i], 0)),
                              std::abs(Channel(after.argb[i], 8) - Channel(before[i], 8)),
                              std::abs(Channel(after.argb[i], 0) - Channel(before[i], 16))});
            if (Channel(after.argb[i], 24) != Channel(before[i], 24)) ++alphaChanged;
        }
        EXPECT_LE(worst, 2);
        EXPECT_EQ(alphaChanged, 0u);
    }
}

TEST(ConvertToSrgb, APalettePictureHasItsPaletteConverted) {
    const std::string icc = ExchangedRedAndBlue();
    const ImageSize size{16, 4};
    std::vector<ARGB> before(64);
    for (size_t i = 0; i < before.size(); ++i)
        before[i] = 0xFF000000 | static_cast<ARGB>(i * 4) << 16 | static_cast<ARGB>(255 - i);
    ImagePtr image = InFormat(MakeBitmap(size, before), PixelFormat8bppIndexed);
    ASSERT_TRUE(image);
    Pixels indexed = ReadPixels(image.get());
    ASSERT_TRUE(ConvertToSrgb(image.get(), icc));
    Pixels after = ReadPixels(image.get());
    ASSERT_EQ(after.argb.size(), indexed.argb.size());
    for (size_t i = 0; i < after.argb.size(); ++i) {
        EXPECT_NEAR(Channel(after.argb[i], 16), Channel(indexed.argb[i], 0), 2) << i;
        EXPECT_NEAR(Channel(after.argb[i], 0), Channel(indexed.argb[i], 16), 2) << i;
    }
}

TEST(ConvertToSrgb, AProfileItCannotUseConvertsNothing) {
    std::vector<ARGB> before = Pattern({8, 8}, false);
    ImagePtr image = MakeBitmap({8, 8}, before);
    EXPECT_FALSE(ConvertToSrgb(image.get(), std::string(300, 'x')));
    EXPECT_EQ(ReadPixels(image.get()).argb, before);
}
