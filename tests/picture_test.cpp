// How pictures come out: orientation, transparency, metafiles, palettes.
#include "codec.h"
#include "exif_edit.h"
#include "metadata.h"
#include "gif_palette.h"
#include "picture.h"

#include "container_bytes.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <vector>

namespace {

// TIFF-structured data whose first directory holds a dummy tag and the orientation; with
// a gap, that directory follows so many bytes of strips, as libtiff writes it.
std::string TiffWithOrientation(unsigned orientation, bool bigEndian, unsigned type = 3,
                                size_t gap = 0) {
    std::string tiff = bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
    PutU32(tiff, static_cast<unsigned>(8 + gap), bigEndian);
    tiff += std::string(gap, '\x55');
    PutU16(tiff, 2, bigEndian);
    for (unsigned tag : {0x010Fu, 0x0112u}) {  // camera make, then orientation
        PutU16(tiff, tag, bigEndian);
        PutU16(tiff, type, bigEndian);
        PutU32(tiff, 1, bigEndian);
        PutU16(tiff, tag == 0x0112 ? orientation : 0, bigEndian);
        PutU16(tiff, 0, bigEndian);
    }
    PutU32(tiff, 0, bigEndian);
    return tiff;
}

// A JPEG's leading bytes with an Exif segment after others, as cameras write them; with
// profileSegments, that many full-size ICC profile segments come first.
std::string JpegHeadWithOrientation(unsigned orientation, bool bigEndian,
                                    int profileSegments = 0) {
    std::string jpeg =
        std::string("\xFF\xD8", 2) + JpegSegment(0xE0, std::string("JFIF\0\1\1", 7));
    for (int i = 0; i < profileSegments; ++i)
        jpeg += JpegSegment(0xE2, "ICC_PROFILE" + std::string(65533 - 11, '\x33'));
    return jpeg +
           JpegSegment(0xE1,
                       std::string("Exif\0\0", 6) + TiffWithOrientation(orientation, bigEndian));
}

// A WebP file: its first chunk, pictureBytes of picture data, then an EXIF chunk with or
// without "Exif" before it.
std::string WebPHeadWithOrientation(unsigned orientation, bool prefixed, size_t pictureBytes = 0) {
    std::string exif = (prefixed ? std::string("Exif\0\0", 6) : std::string()) +
                       TiffWithOrientation(orientation, false);
    std::string chunks = std::string("VP8X", 4);
    PutU32(chunks, 10, false);
    chunks += std::string(10, '\0');
    if (pictureBytes > 0) {
        chunks += "VP8 ";
        PutU32(chunks, static_cast<unsigned>(pictureBytes), false);
        chunks += std::string(pictureBytes + pictureBytes % 2, '\x77');
    }
    chunks += "EXIF";
    PutU32(chunks, static_cast<unsigned>(exif.size()), false);
    chunks += exif + std::string(exif.size() % 2, '\0');
    std::string riff = "RIFF";
    PutU32(riff, static_cast<unsigned>(chunks.size() + 4), false);
    return riff + "WEBP" + chunks;
}

// A PNG file's chunks: a header, pictureBytes of picture data, and an eXIf chunk before or
// after the picture data.
std::string PngWithOrientation(unsigned orientation, bool afterPicture, size_t pictureBytes = 0) {
    const auto& chunk = PngChunk;
    const std::string exif = chunk("eXIf", TiffWithOrientation(orientation, true));
    const std::string picture = chunk("IDAT", std::string(pictureBytes, '\x77'));
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", std::string(13, '\1')) +
           (afterPicture ? picture + exif : exif + picture) + chunk("IEND", "");
}

int Orientation(const std::string& bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    return ExifOrientation(ReadMetadata(data, bytes.size()).exif);
}

TEST(Orientation, FindsTheTagInJpegWebPPngAndTiffOfEitherByteOrder) {
    for (unsigned orientation = 1; orientation <= 8; ++orientation) {
        for (bool prefixed : {false, true})
            EXPECT_EQ(Orientation(WebPHeadWithOrientation(orientation, prefixed)),
                      static_cast<int>(orientation));
        EXPECT_EQ(Orientation(PngWithOrientation(orientation, false)), static_cast<int>(orientation));
        for (bool bigEndian : {false, true}) {
            EXPECT_EQ(Orientation(JpegHeadWithOrientation(orientation, bigEndian)),
                      static_cast<int>(orientation));
            EXPECT_EQ(Orientation(TiffWithOrientation(orientation, bigEndian)),
                      static_cast<int>(orientation));
        }
    }
}

// Where writers put it: after the picture data or the strips, far into a large file.
TEST(Orientation, FindsTheTagWhereverTheStructurePointsInALargeFile) {
    const size_t distance = 300 * 1024;
    const std::pair<const char*, std::string> cases[] = {
        {"WebP, EXIF chunk after the picture", WebPHeadWithOrientation(6, false, distance)},
        {"WebP, odd-sized picture chunk", WebPHeadWithOrientation(6, true, distance + 1)},
        {"TIFF, directory after the strips", TiffWithOrientation(6, false, 3, distance)},
        {"big-endian TIFF, directory after the strips", TiffWithOrientation(6, true, 3, distance)},
        {"JPEG, Exif after profile segments", JpegHeadWithOrientation(6, false, 5)},
        {"PNG, eXIf after the picture data", PngWithOrientation(6, true, distance)},
    };
    for (const auto& [name, bytes] : cases) {
        ASSERT_GT(bytes.size(), distance) << name;
        EXPECT_EQ(Orientation(bytes), 6) << name;
    }
}

TEST(Orientation, DamagedOrMissingDataMeansAsStored) {
    const std::string good = JpegHeadWithOrientation(6, false);
    const std::string sos =
        std::string("\xFF\xD8", 2) + JpegSegment(0xDA, "xx") +
        JpegSegment(0xE1, std::string("Exif\0\0", 6) + TiffWithOrientation(6, false));
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"not an image", "hello, world"},
        {"JPEG without Exif", std::string("\xFF\xD8", 2) + JpegSegment(0xE0, "JFIF")},
        {"cut inside the Exif segment", good.substr(0, good.size() - 9)},
        {"cut inside the header", good.substr(0, 3)},
        {"Exif after the picture data starts", sos},
        {"orientation out of range", JpegHeadWithOrientation(9, false)},
        {"orientation zero", JpegHeadWithOrientation(0, true)},
        {"wrong value type", TiffWithOrientation(6, false, 4)},
        {"directory beyond the data", std::string("II*\0\xFF\xFF\0\0", 8)},
        {"segment length below its own size", std::string("\xFF\xD8\xFF\xE1\0\1Exif", 10)},
        {"WebP chunk longer than the file", WebPHeadWithOrientation(6, true).substr(0, 40)},
        {"PNG chunk longer than the file", PngWithOrientation(6, true, 100).substr(0, 60)},
        {"PNG eXIf after its end", [] {
             std::string png = PngWithOrientation(6, true);
             return png.substr(0, 33) + png.substr(png.size() - 12) + png.substr(33, png.size() - 45);
         }()},
        {"WebP cut inside the picture", WebPHeadWithOrientation(6, false, 1000).substr(0, 500)},
        {"TIFF directory past the end", TiffWithOrientation(6, false, 3, 1000).substr(0, 900)},
    };
    for (const auto& [name, bytes] : cases) EXPECT_EQ(Orientation(bytes), 1) << name;
}

// Upright test picture: red block top left, green block top right, blue elsewhere.
ARGB UprightColor(UINT x, UINT y, UINT width, UINT height) {
    if (y < height / 3 && x < width / 3) return 0xFFFF0000;
    if (y < height / 3 && x >= width - width / 3) return 0xFF00FF00;
    return 0xFF0000FF;
}

// Where stored pixel (column c, row r) shows in the upright picture, by the EXIF
// definition of each orientation (which side row 0 and column 0 show).
void UprightPosition(int orientation, UINT c, UINT r, UINT width, UINT height, UINT& x, UINT& y) {
    switch (orientation) {
        case 2: x = width - 1 - c; y = r; break;
        case 3: x = width - 1 - c; y = height - 1 - r; break;
        case 4: x = c; y = height - 1 - r; break;
        case 5: x = r; y = c; break;
        case 6: x = width - 1 - r; y = c; break;
        case 7: x = width - 1 - r; y = height - 1 - c; break;
        case 8: x = r; y = height - 1 - c; break;
        default: x = c; y = r; break;
    }
}

// The stored pixels of a picture that shows the upright one when turned as orientation
// says; with noise, each colour is varied a little so that it packs poorly.
Pixels StoredPixels(int orientation, UINT width, UINT height, bool noise = false) {
    bool swapped = orientation >= 5;
    Pixels stored;
    stored.size = swapped ? ImageSize{height, width} : ImageSize{width, height};
    stored.argb.resize(static_cast<size_t>(width) * height);
    unsigned seed = 12345;
    for (UINT r = 0; r < stored.size.height; ++r)
        for (UINT c = 0; c < stored.size.width; ++c) {
            UINT x, y;
            UprightPosition(orientation, c, r, width, height, x, y);
            ARGB pixel = UprightColor(x, y, width, height);
            if (noise) {
                seed = seed * 1103515245u + 12345u;
                pixel ^= (seed >> 8) & 0x1F1F1F;
            }
            stored.argb[r * stored.size.width + c] = pixel;
        }
    return stored;
}

// A JPEG that shows the upright picture when turned as its orientation tag says.
void SaveOrientedJpeg(const std::wstring& path, int orientation, UINT width, UINT height) {
    Pixels stored = StoredPixels(orientation, width, height);
    SavePixels(path, L"image/jpeg", stored.size, stored.argb);
    std::string jpeg = ReadBytes(path);
    ASSERT_EQ(jpeg.compare(0, 2, "\xFF\xD8"), 0);
    WriteBytes(path, jpeg.substr(0, 2) +
                         JpegSegment(0xE1, std::string("Exif\0\0", 6) +
                                           TiffWithOrientation(static_cast<unsigned>(orientation), false)) +
                         jpeg.substr(2));
}

// The same as a PNG, its eXIf chunk right after the header, as ImageMagick writes it.
void SaveOrientedPng(const std::wstring& path, int orientation, UINT width, UINT height) {
    Pixels stored = StoredPixels(orientation, width, height);
    SavePixels(path, L"image/png", stored.size, stored.argb);
    std::string png = ReadBytes(path);
    const size_t afterHeader = 8 + 12 + 13;
    ASSERT_EQ(png.compare(12, 4, "IHDR"), 0);
    WriteBytes(path, png.substr(0, afterHeader) +
                         PngChunk("eXIf", TiffWithOrientation(static_cast<unsigned>(orientation), true)) +
                         png.substr(afterHeader));
}

// The same as a WebP, its EXIF chunk after the picture data, as libwebp's tools write it.
void SaveOrientedWebP(const std::wstring& path, int orientation, UINT width, UINT height) {
    Pixels stored = StoredPixels(orientation, width, height, true);
    SavePixels(path, L"image/webp", stored.size, stored.argb);
    std::string simple = ReadBytes(path);
    ASSERT_EQ(simple.compare(12, 4, "VP8 "), 0) << "an opaque picture in a simple file";
    std::string chunks = "VP8X";
    PutU32(chunks, 10, false);
    chunks += '\x08';  // EXIF present
    chunks += std::string(3, '\0');
    for (UINT side : {stored.size.width, stored.size.height}) {
        std::string bytes;
        PutU32(bytes, side - 1, false);
        chunks += bytes.substr(0, 3);
    }
    chunks += simple.substr(12) + "EXIF";
    std::string exif = TiffWithOrientation(static_cast<unsigned>(orientation), false);
    PutU32(chunks, static_cast<unsigned>(exif.size()), false);
    chunks += exif + std::string(exif.size() % 2, '\0');
    std::string riff = "RIFF";
    PutU32(riff, static_cast<unsigned>(chunks.size() + 4), false);
    WriteBytes(path, riff + "WEBP" + chunks);
}

bool Near(ARGB pixel, ARGB expected, int tolerance) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((pixel >> shift) & 0xFF) -
                     static_cast<int>((expected >> shift) & 0xFF)) > tolerance)
            return false;
    return true;
}

void ExpectUpright(const Pixels& pixels, UINT width, UINT height) {
    ASSERT_EQ(pixels.size, (ImageSize{width, height}));
    EXPECT_TRUE(Near(pixels.at(2, 2), 0xFFFF0000, 60)) << "red top left";
    EXPECT_TRUE(Near(pixels.at(width - 3, 2), 0xFF00FF00, 60)) << "green top right";
    EXPECT_TRUE(Near(pixels.at(2, height - 3), 0xFF0000FF, 60)) << "blue below";
}

TEST(ConvertImageFile, PhotosOfEveryOrientationComeOutUpright) {
    TempDir dir;
    const UINT width = 48, height = 30;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(testing::Message() << "orientation " << orientation);
        const std::wstring photo = dir / (L"photo" + std::to_wstring(orientation) + L".jpg");
        SaveOrientedJpeg(photo, orientation, width, height);
        const std::wstring png = dir / L"upright.png";
        ASSERT_TRUE(ConvertImageFile(photo, png, L"image/png", 90));
        ExpectUpright(DecodePixels(png), width, height);
        const std::wstring turnedPng = dir / (L"photo" + std::to_wstring(orientation) + L".png");
        SaveOrientedPng(turnedPng, orientation, width, height);
        ASSERT_TRUE(ConvertImageFile(turnedPng, dir / L"upright.bmp", L"image/bmp", 90));
        ExpectUpright(DecodePixels(dir / L"upright.bmp"), width, height);

        const std::wstring jpeg = dir / L"upright.jpeg";
        ASSERT_TRUE(ConvertImageFile(photo, jpeg, L"image/jpeg", 90));
        EXPECT_EQ(DecodedSize(jpeg), (ImageSize{width, height}));
        EXPECT_EQ(Orientation(ReadBytes(jpeg)), 1) << "the output must not be turned again";
    }
}

// A photo larger than any head of the file that a reader might take first.
TEST(ConvertImageFile, LargeWebPWithItsOrientationAfterThePictureComesOutUpright) {
    TempDir dir;
    const UINT width = 400, height = 640;  // stored as 640 x 400
    const std::wstring photo = dir / L"turned.webp";
    SaveOrientedWebP(photo, 6, width, height);
    ASSERT_GT(ReadBytes(photo).size(), 128u * 1024);
    ASSERT_EQ(DecodedSize(photo), (ImageSize{height, width})) << "stored turned";
    const std::wstring png = dir / L"upright.png";
    ASSERT_TRUE(ConvertImageFile(photo, png, L"image/png", 90));
    ExpectUpright(DecodePixels(png), width, height);
}

// Pillow's hopper, stored turned with orientation 6 in a WebP's EXIF chunk.
TEST(ConvertImageFile, TurnedWebPComesOutAsTheUprightOriginal) {
    TempDir dir;
    ASSERT_TRUE(ConvertImageFile(CorpusFile(L"webp\\pillow\\hopper_orientation_6.webp"),
                                 dir / L"upright.png", L"image/png", 90));
    Pixels upright = DecodePixels(CorpusFile(L"png\\pillow\\hopper.png"));
    EXPECT_LT(ColourDifference(DecodePixels(dir / L"upright.png"), upright).mean, 8.0);
}

TEST(ConvertImageFile, TransparencyBecomesWhiteWhereTheFormatHasNoneAndStaysElsewhere) {
    TempDir dir;
    const UINT width = 30, height = 10;
    std::vector<ARGB> pixels(width * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            pixels[y * width + x] = x < 10 ? 0x00000000 : x < 20 ? 0xFFC03010 : 0x800000FF;
    const std::wstring source = dir / L"transparent.png";
    SavePixels(source, L"image/png", {width, height}, pixels);

    struct Case {
        const wchar_t* mimeType;
        bool keepsAlpha;
        int tolerance;
    };
    const Case cases[] = {{L"image/jpeg", false, 24}, {L"image/bmp", false, 2},
                          {L"image/gif", false, 24},  {L"image/png", true, 2},
                          {L"image/tiff", true, 2},   {L"image/webp", true, 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mimeType);
        const std::wstring output = dir / L"out.img";
        ASSERT_TRUE(ConvertImageFile(source, output, c.mimeType, 100));
        Pixels out = DecodePixels(output);
        ASSERT_EQ(out.size, (ImageSize{width, height}));
        ARGB clear = out.at(4, 5), opaque = out.at(15, 5), half = out.at(25, 5);
        EXPECT_TRUE(Near(opaque, 0xFFC03010, c.tolerance)) << std::hex << opaque;
        EXPECT_EQ(opaque >> 24, 0xFFu);
        if (c.keepsAlpha) {
            EXPECT_LT(clear >> 24, 8u) << std::hex << clear;
            EXPECT_NEAR(static_cast<int>(half >> 24), 0x80, 8) << std::hex << half;
        } else {
            EXPECT_TRUE(Near(clear, 0xFFFFFFFF, c.tolerance)) << "white, not black: " << std::hex << clear;
            EXPECT_TRUE(Near(half, 0xFF7F7FFF, c.tolerance + 8)) << "blended over white: " << std::hex << half;
        }
    }
}

// Taller than the bands pictures are read and drawn in, with a short last band.
constexpr UINT kTallWidth = 301;
constexpr UINT kTallHeight = 701;

// Where two pictures of one size first differ, as "row, column"; empty when they do not.
std::string FirstDifference(const Pixels& a, const Pixels& b) {
    if (a.size != b.size || a.argb.size() != b.argb.size()) return "sizes differ";
    auto at = std::mismatch(a.argb.begin(), a.argb.end(), b.argb.begin());
    if (at.first == a.argb.end()) return "";
    size_t i = static_cast<size_t>(at.first - a.argb.begin());
    return std::to_string(i / a.size.width) + ", " + std::to_string(i % a.size.width);
}

// What GDI+ makes of image drawn over white in one call.
Pixels DrawnOnWhiteAtOnce(GpImage* image) {
    ImageSize size = SizeOf(image);
    GpBitmap* canvas = nullptr;
    if (GdipCreateBitmapFromScan0(static_cast<INT>(size.width), static_cast<INT>(size.height), 0,
                                  PixelFormat24bppRGB, nullptr, &canvas) != Ok)
        return {};
    ImagePtr owner(canvas);
    GpGraphics* graphics = nullptr;
    if (GdipGetImageGraphicsContext(canvas, &graphics) != Ok) return {};
    GraphicsPtr drawing(graphics);
    if (GdipGraphicsClear(graphics, 0xFFFFFFFF) != Ok ||
        GdipDrawImageRectI(graphics, image, 0, 0, static_cast<INT>(size.width),
                           static_cast<INT>(size.height)) != Ok)
        return {};
    drawing.reset();
    return ReadPixels(canvas);
}

// An 8-bit picture of random indices into a palette of random translucent colours.
ImagePtr TranslucentPalettePicture(std::mt19937& random) {
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(kTallWidth, kTallHeight, 0, PixelFormat8bppIndexed, nullptr,
                                  &bitmap) != Ok)
        return nullptr;
    ImagePtr image(bitmap);
    std::vector<BYTE> block(sizeof(ColorPalette) + 255 * sizeof(ARGB));
    auto* palette = reinterpret_cast<ColorPalette*>(block.data());
    palette->Flags = PaletteFlagsHasAlpha;
    palette->Count = 256;
    for (UINT i = 0; i < 256; ++i) palette->Entries[i] = static_cast<ARGB>(random());
    if (GdipSetImagePalette(bitmap, palette) != Ok) return nullptr;
    BitmapBitsLock bits(bitmap, kTallWidth, kTallHeight, ImageLockModeWrite,
                        PixelFormat8bppIndexed);
    if (!bits.locked()) return nullptr;
    for (UINT y = 0; y < kTallHeight; ++y)
        for (UINT x = 0; x < kTallWidth; ++x) bits.row(y)[x] = static_cast<BYTE>(random());
    return image;
}

// The picture is drawn on white in bands of rows; together they must make what one drawing
// of the whole makes, to the byte.
TEST(OnWhite, ATallPictureComesOutAsOneDrawingOfTheWholeMakesIt) {
    std::mt19937 random(5);
    std::vector<ARGB> noise(size_t{kTallWidth} * kTallHeight);
    for (ARGB& pixel : noise) pixel = static_cast<ARGB>(random());
    ImagePtr straight = MakeBitmap({kTallWidth, kTallHeight}, noise);
    ASSERT_TRUE(straight);
    GpBitmap* premultiplied = nullptr;
    ASSERT_EQ(GdipCloneBitmapAreaI(0, 0, kTallWidth, kTallHeight, PixelFormat32bppPARGB,
                                   static_cast<GpBitmap*>(straight.get()), &premultiplied),
              Ok);
    ImagePtr premultipliedOwner(premultiplied);
    ImagePtr palette = TranslucentPalettePicture(random);
    ASSERT_TRUE(palette);
    const std::pair<const char*, GpImage*> sources[] = {
        {"32bpp ARGB", straight.get()},
        {"32bpp PARGB", premultiplied},
        {"8bpp with translucent palette entries", palette.get()}};
    for (const auto& source : sources) {
        SCOPED_TRACE(source.first);
        ImagePtr white = OnWhite(source.second);
        ASSERT_TRUE(white);
        Pixels reference = DrawnOnWhiteAtOnce(source.second);
        ASSERT_FALSE(reference.argb.empty());
        EXPECT_EQ(FirstDifference(ReadPixels(white.get()), reference), "");
    }
}

// Colours are counted and mapped in bands of rows: every pixel of a picture of few colours,
// some of them only in its last rows, keeps its colour exactly.
TEST(ToIndexedColor, ATallPictureOfFewColoursKeepsEveryPixel) {
    std::vector<ARGB> argb(size_t{kTallWidth} * kTallHeight);
    for (UINT y = 0; y < kTallHeight; ++y)
        for (UINT x = 0; x < kTallWidth; ++x)
            argb[size_t{y} * kTallWidth + x] = 0xFF000000u | (y / 64) << 20 | (x / 40) << 12 |
                                               ((x + y) % 2 ? 0x40u : 0x00u);
    ImagePtr source = MakeBitmap({kTallWidth, kTallHeight}, argb);
    ASSERT_TRUE(source);
    ImagePtr indexed = ToIndexedColor(source.get());
    ASSERT_TRUE(indexed);
    PixelFormat format = 0;
    ASSERT_EQ(GdipGetImagePixelFormat(indexed.get(), &format), Ok);
    EXPECT_EQ(format, PixelFormat8bppIndexed);
    EXPECT_EQ(FirstDifference(ReadPixels(indexed.get()), Pixels{{kTallWidth, kTallHeight}, argb}),
              "");
}

// Wine's optimal palette gave tall photos a fraction of its 256 entries.
TEST(ToIndexedColor, ATallPhotoGetsTheWholePalette) {
    GpBitmap* loaded = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromFile(CorpusFile(L"jpeg\\pillow\\flower.jpg").c_str(), &loaded), Ok);
    ImagePtr photo(loaded);
    ASSERT_TRUE(TurnUpright(photo.get(), 6));
    ImagePtr indexed = ToIndexedColor(photo.get());
    ASSERT_TRUE(indexed);
    Pixels pixels = ReadPixels(indexed.get());
    EXPECT_EQ(std::set<ARGB>(pixels.argb.begin(), pixels.argb.end()).size(), 256u);
}

TEST(ConvertImageFile, MetafilesAreDrawnOnWhiteAtTheirOwnSize) {
    TempDir dir;
    // EA-test-file-101 is EMF+ that Wine's GDI+ dies drawing.
    for (const wchar_t* name : {L"metafile\\pillow\\drawing.emf", L"metafile\\libemf2svg\\test-000.emf",
                                L"metafile\\libemf2svg\\EA-test-file-101.emf",
                                L"metafile\\libwmf\\formula1.wmf", L"names\\Zeichnung_Größe.wmf"}) {
        SCOPED_TRACE(testing::Message() << name);
        const std::wstring input = CorpusFile(name);
        GpImage* loaded = nullptr;
        ASSERT_EQ(GdipLoadImageFromFile(input.c_str(), &loaded), Ok);
        ImagePtr metafile(loaded);
        ImageSize own = SizeOf(loaded);

        const std::wstring output = dir / L"drawing.png";
        ASSERT_TRUE(ConvertImageFile(input, output, L"image/png", 90));
        Pixels pixels = DecodePixels(output);
        EXPECT_EQ(pixels.size, own);
        size_t white = std::count(pixels.argb.begin(), pixels.argb.end(), 0xFFFFFFFF);
        EXPECT_GT(white, 0u) << "the background is white";
        EXPECT_LT(white, pixels.argb.size()) << "something is drawn";
    }
}

TEST(IsMetafile, TellsEmfAndWmfByTheirBytes) {
    std::string emf(44, '\0');
    emf[0] = 1;
    emf.replace(40, 4, " EMF");
    std::string otherRecord = emf;
    otherRecord[0] = 2;
    std::string plainWmf = std::string("\1\0\x09\0\0\x03", 6) + std::string(12, '\0');
    std::string diskWmf = plainWmf;
    diskWmf[0] = 2;
    std::string oldWmf = plainWmf;
    oldWmf[5] = 1;
    std::string otherVersion = plainWmf;
    otherVersion[5] = 2;
    const std::pair<const char*, std::pair<std::string, bool>> cases[] = {
        {"EMF header", {emf, true}},
        {"EMF cut before its signature", {emf.substr(0, 43), false}},
        {"another first record", {otherRecord, false}},
        {"placeable WMF", {std::string("\xD7\xCD\xC6\x9A", 4) + std::string(18, '\0'), true}},
        {"WMF in memory", {plainWmf, true}},
        {"WMF on disk", {diskWmf, true}},
        {"WMF version 1", {oldWmf, true}},
        {"WMF of no known version", {otherVersion, false}},
        {"WMF header cut", {plainWmf.substr(0, 17), false}},
        {"icon", {std::string("\0\0\1\0\1\0", 6) + std::string(40, '\0'), false}},
        {"empty", {"", false}},
    };
    for (const auto& [name, c] : cases)
        EXPECT_EQ(IsMetafile(reinterpret_cast<const uint8_t*>(c.first.data()), c.first.size()),
                  c.second)
            << name;
    for (const wchar_t* name : {L"metafile\\pillow\\drawing.emf", L"metafile\\libwmf\\formula1.wmf"}) {
        std::string bytes = ReadBytes(CorpusFile(name));
        EXPECT_TRUE(IsMetafile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) << name;
    }
}

TEST(ConvertImageFile, BrokenMetafilesFail) {
    TempDir dir;
    // Empty, corrupt, and one that claims 14031 x 9920 pixels: a bomb.
    for (const wchar_t* name : {L"broken\\empty\\empty.wmf",
                                L"metafile\\libemf2svg\\bad_corrupted_2016-02-02-225639.emf",
                                L"metafile\\libemf2svg\\bad_corrupted_2014-12-13-105759.emf"}) {
        EXPECT_FALSE(ConvertImageFile(CorpusFile(name), dir / L"out.png", L"image/png", 90))
            << name;
        EXPECT_FALSE(FileExists(dir / L"out.png"));
    }
}

}  // namespace

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

bool LacksPalette(const std::string& bytes) {
    return LacksGifPalette(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Signature, 1x1 screen, screen flags, background, aspect.
std::string GifStart(const char* version, unsigned char screenFlags) {
    return std::string(version) + std::string("\1\0\1\0", 4) + static_cast<char>(screenFlags) +
           std::string("\0\0", 2);
}

// Descriptor of a 1x1 picture at 0,0 with the given flags.
std::string Picture(unsigned char flags) {
    return std::string("\x2C\0\0\0\0\1\0\1\0", 9) + static_cast<char>(flags);
}

// An extension block (label 0xFE: comment) holding size bytes in full sub-blocks.
std::string Extension(unsigned char label, size_t size) {
    std::string block = {'\x21', static_cast<char>(label)};
    for (size_t done = 0; done < size; done += 255) block += '\xFF' + std::string(255, 'x');
    return block + '\0';
}

// A GIF of one row of these colour indices and no colour table anywhere. Its LZW codes
// each follow a clear code, so every code keeps the starting width.
std::string PaletteLessGif(const std::vector<unsigned>& indices, unsigned codeSize,
                           unsigned char screenFlags, unsigned char pictureFlags) {
    std::string gif = "GIF89a";
    PutU16(gif, static_cast<unsigned>(indices.size()), false);
    PutU16(gif, 1, false);
    gif += std::string{static_cast<char>(screenFlags), '\0', '\0', '\x2C'};
    PutU32(gif, 0, false);  // left, top
    PutU16(gif, static_cast<unsigned>(indices.size()), false);
    PutU16(gif, 1, false);
    gif += {static_cast<char>(pictureFlags), static_cast<char>(codeSize)};
    const unsigned clear = 1u << codeSize, width = codeSize + 1;
    std::string data;
    unsigned long bits = 0;
    unsigned count = 0;
    auto put = [&](unsigned code) {
        bits |= static_cast<unsigned long>(code) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8) data += static_cast<char>(bits & 0xFF);
    };
    for (unsigned index : indices) {
        put(clear);
        put(index);
    }
    put(clear + 1);  // end of picture
    if (count > 0) data += static_cast<char>(bits & 0xFF);
    for (size_t at = 0; at < data.size(); at += 255) {
        std::string block = data.substr(at, 255);
        gif += static_cast<char>(block.size()) + block;
    }
    return gif + std::string("\0;", 2);
}

TEST(LacksGifPalette, OnlyAGifWithNoColourTableAnywhereBeforeItsFirstPicture) {
    const std::string comment = std::string("\x21\xFE\x03" "abc" "\x00", 7);
    const std::pair<const char*, std::pair<std::string, bool>> cases[] = {
        {"no tables", {GifStart("GIF87a", 0x00) + Picture(0x00), true}},
        {"no tables after extensions", {GifStart("GIF89a", 0x00) + comment + comment + Picture(0x00), true}},
        {"no tables after a long comment",
         {GifStart("GIF89a", 0x00) + Extension(0xFE, 300 * 1024) + Picture(0x00), true}},
        {"no tables after long application data",
         {GifStart("GIF89a", 0x00) + Extension(0xFF, 200 * 1024) + comment + Picture(0x00), true}},
        {"global table", {GifStart("GIF89a", 0x80) + std::string(6, '\0') + Picture(0x00), false}},
        {"local table", {GifStart("GIF89a", 0x00) + Picture(0x80), false}},
        {"local table after a long comment",
         {GifStart("GIF89a", 0x00) + Extension(0xFE, 300 * 1024) + Picture(0x80), false}},
        {"cut before the picture", {GifStart("GIF89a", 0x00) + comment.substr(0, 4), false}},
        {"cut inside a long comment",
         {GifStart("GIF89a", 0x00) + Extension(0xFE, 300 * 1024).substr(0, 200 * 1024), false}},
        {"cut inside the descriptor", {GifStart("GIF89a", 0x00) + Picture(0x00).substr(0, 6), false}},
        {"not a GIF", {std::string("\x89PNG\r\n\x1A\n") + std::string(20, '\0'), false}},
        {"unknown version", {GifStart("GIF90a", 0x00) + Picture(0x00), false}},
    };
    for (const auto& [name, c] : cases) EXPECT_EQ(LacksPalette(c.first), c.second) << name;
}

// The ramp reaches white at the picture's last colour, whatever its depth.
TEST(AddGreyPalette, GivesARampFromBlackToWhiteOverThePicturesColours) {
    struct Case {
        const char* name;
        std::string gif;
        std::vector<unsigned> greys;  // of every entry
    };
    auto ramp = [](unsigned entries) {
        std::vector<unsigned> greys;
        for (unsigned i = 0; i < entries; ++i) greys.push_back(i * 255 / (entries - 1));
        return greys;
    };
    const Case cases[] = {
        {"1-bit", PaletteLessGif({0, 1}, 2, 0x00, 0x00), {0, 255, 255, 255}},
        {"2-bit", PaletteLessGif({0, 3}, 2, 0x01, 0x00), ramp(4)},
        {"2-bit, depth on the picture", PaletteLessGif({0, 3}, 2, 0x00, 0x01), ramp(4)},
        {"4-bit", PaletteLessGif({0, 15}, 4, 0x00, 0x00), ramp(16)},
        {"8-bit", PaletteLessGif({0, 255}, 8, 0x00, 0x00), ramp(256)},
        {"no code size", GifStart("GIF87a", 0x00) + Picture(0x00), ramp(256)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> gif = Bytes(c.gif);
        AddGreyPalette(gif);
        EXPECT_FALSE(LacksGifPalette(gif.data(), gif.size()));
        ASSERT_EQ(gif.size(), c.gif.size() + 3 * c.greys.size());
        EXPECT_EQ(2u << (gif[10] & 0x07), c.greys.size());
        EXPECT_EQ(gif[10] & 0x80, 0x80);
        for (size_t i = 0; i < c.greys.size(); ++i)
            ASSERT_TRUE(gif[13 + 3 * i] == c.greys[i] && gif[14 + 3 * i] == c.greys[i] &&
                        gif[15 + 3 * i] == c.greys[i])
                << i;
        EXPECT_EQ(std::string(gif.begin() + 13 + 3 * c.greys.size(), gif.end()), c.gif.substr(13));
    }
}

// Under Wine, GDI+ itself dies on these files; the program must not.
TEST(ConvertImageFile, GifWithoutAnyColourTableConverts) {
    TempDir dir;
    const std::wstring input = CorpusFile(L"wine-crash\\no_palette.gif");
    ASSERT_TRUE(ConvertImageFile(input, dir / L"out.png", L"image/png", 90));
    EXPECT_EQ(DecodedSize(dir / L"out.png"), (ImageSize{1, 1}));

    const std::wstring oneBit = dir / L"one-bit.gif";
    WriteBytes(oneBit, PaletteLessGif({0, 1, 1, 0}, 2, 0x00, 0x00));
    ASSERT_TRUE(ConvertImageFile(oneBit, dir / L"one-bit.png", L"image/png", 90));
    Pixels pixels = DecodePixels(dir / L"one-bit.png");
    EXPECT_EQ(pixels.argb, (std::vector<ARGB>{0xFF000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000}))
        << "black and white";
}

}  // namespace
