#include "webp_codec.h"

#include "files.h"
#include "resources.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

namespace {

std::string Narrow(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0],
                        length, nullptr, nullptr);
    return narrow;
}

bool IsWebPFile(const std::wstring& path) {
    std::string bytes = ReadBytes(path);
    return IsWebP(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

ImagePtr LoadWithGdiplus(const std::wstring& path) {
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(path.c_str(), &bitmap) != Ok) return nullptr;
    return ImagePtr(bitmap);
}

// A copy for the encoder, which disposes of what it is given.
ImagePtr Copy(GpImage* image) {
    GpImage* copy = nullptr;
    if (GdipCloneImage(image, &copy) != Ok) return nullptr;
    return ImagePtr(copy);
}

// The decoder over a whole file, as the codec hands it the file's bytes.
GpStatus LoadWebPBitmap(const std::wstring& path, GpBitmap** bitmap,
                        unsigned long long maxPixels = kMaxPixels) {
    *bitmap = nullptr;
    InputFile file(path, kMaxFileBytes);
    if (!file.valid()) return Win32Error;
    return ::LoadWebPBitmap(file.data(), file.size(), bitmap, maxPixels);
}

ImagePtr LoadWebP(const std::wstring& path) {
    GpBitmap* bitmap = nullptr;
    if (LoadWebPBitmap(path, &bitmap) != Ok) return nullptr;
    return ImagePtr(bitmap);
}

struct ManifestEntry {
    std::wstring path;
    ImageSize size;
};

// Every WebP file of the corpus's webp/ folder with the size ImageMagick reported for it.
std::vector<ManifestEntry> CorpusWebPFiles() {
    std::vector<ManifestEntry> entries;
    for (const std::vector<std::string>& row : ManifestRows()) {
        if (row.size() < 7 || row[0].rfind("webp/", 0) != 0) continue;
        ManifestEntry entry;
        entry.path = FromUtf8(row[0]);
        std::istringstream size(row[6]);  // "WxH", or an error text
        char x = 0;
        if (!(size >> entry.size.width >> x >> entry.size.height) || x != 'x') continue;
        entries.push_back(entry);
    }
    return entries;
}

// Copies a corpus file into dir, with patch applied to its bytes.
std::wstring PatchedCopy(const TempDir& dir, const std::wstring& source, const std::wstring& name,
                         void (*patch)(std::string&)) {
    std::string bytes = ReadBytes(CorpusFile(source));
    patch(bytes);
    std::wstring path = dir / name;
    WriteBytes(path, bytes);
    return path;
}

// Encodes into a new file at path, as the program encodes into its temporary output. A failed
// encoding must have written nothing; its file is removed again.
bool SaveImageAsWebP(ImagePtr image, const std::wstring& path, int quality) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    std::vector<uint8_t> encoded;
    bool saved = EncodeWebP(std::move(image), quality, encoded) &&
                 WriteAll(file.get(), encoded.data(), encoded.size());
    LARGE_INTEGER size{};
    GetFileSizeEx(file.get(), &size);
    file.close();
    if (!saved) {
        EXPECT_EQ(size.QuadPart, 0) << "a failed encoding wrote into the file";
        DeleteFileW(path.c_str());
    }
    return saved;
}

void PutLE(std::string& bytes, size_t offset, uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

TEST(WebPSignature, TellsWebPContentWhateverTheName) {
    EXPECT_TRUE(IsWebPFile(CorpusFile(L"webp/pillow/hopper.webp")));
    EXPECT_TRUE(IsWebPFile(CorpusFile(L"mislabeled/webp_data.png")));
    EXPECT_TRUE(IsWebPFile(CorpusFile(L"names/日本語のファイル.webp")));
    // The signature alone decides; a cut file still has it.
    EXPECT_TRUE(IsWebPFile(CorpusFile(L"broken/truncated/test_trunc_half.webp")));

    EXPECT_FALSE(IsWebPFile(CorpusFile(L"broken/wrong-content/riff_not_webp.webp")));
    EXPECT_FALSE(IsWebPFile(CorpusFile(L"broken/wrong-content/noise.webp")));
    EXPECT_FALSE(IsWebPFile(CorpusFile(L"broken/empty/empty.webp")));
    EXPECT_FALSE(IsWebPFile(CorpusFile(L"png/pillow/hopper.png")));
    EXPECT_FALSE(IsWebPFile(CorpusFile(L"no such file.webp")));
    EXPECT_FALSE(IsWebPFile(CorpusDir()));
}

TEST(WebPDecode, EveryCorpusWebPDecodesWithItsSize) {
    std::vector<ManifestEntry> entries = CorpusWebPFiles();
    ASSERT_GE(entries.size(), 30u) << "MANIFEST.tsv not read";
    for (const ManifestEntry& entry : entries) {
        SCOPED_TRACE(Narrow(entry.path));
        GpBitmap* bitmap = nullptr;
        ASSERT_EQ(LoadWebPBitmap(CorpusFile(entry.path), &bitmap), Ok);
        ImagePtr image(bitmap);
        EXPECT_EQ(SizeOf(image.get()), entry.size);
        PixelFormat format = 0;
        GdipGetImagePixelFormat(image.get(), &format);
        EXPECT_EQ(format, PixelFormat32bppARGB);
    }
}

TEST(WebPDecode, WebPContentUnderAnyNameDecodes) {
    for (const wchar_t* name : {L"mislabeled/webp_data.png", L"names/日本語のファイル.webp"}) {
        ImagePtr image = LoadWebP(CorpusFile(name));
        ASSERT_TRUE(image) << Narrow(name);
        EXPECT_EQ(SizeOf(image.get()), (ImageSize{128, 128}));
    }
}

TEST(WebPDecode, ColoursMatchTheSamePictureDecodedByGdiplus) {
    // hopper.webp is a lossy copy of hopper.png: swapped or misplaced channels would show.
    ImagePtr webp = LoadWebP(CorpusFile(L"webp/pillow/hopper.webp"));
    ImagePtr png = LoadWithGdiplus(CorpusFile(L"png/pillow/hopper.png"));
    ASSERT_TRUE(webp);
    ASSERT_TRUE(png);
    Pixels a = ReadPixels(webp.get());
    Pixels b = ReadPixels(png.get());
    ASSERT_EQ(a.argb.size(), b.argb.size());
    EXPECT_LT(ColourDifference(a, b).mean, 6.0);
}

TEST(WebPDecode, AlphaAndAnimationFirstFrame) {
    ImagePtr transparent = LoadWebP(CorpusFile(L"webp/pillow/transparent.webp"));
    ASSERT_TRUE(transparent);
    Pixels pixels = ReadPixels(transparent.get());
    size_t clear = 0;
    size_t opaque = 0;
    for (uint32_t p : pixels.argb) {
        clear += (p >> 24) == 0;
        opaque += (p >> 24) == 0xFF;
    }
    EXPECT_GT(clear, 0u);
    EXPECT_GT(opaque, 0u);

    // An animation gives its first frame, with its pixels, at the canvas size.
    for (const wchar_t* name : {L"webp/pillow/iss634.webp", L"webp/image-webp/random_lossy.webp",
                                L"webp/image-webp/random_lossless.webp"}) {
        SCOPED_TRACE(Narrow(name));
        ImagePtr animated = LoadWebP(CorpusFile(name));
        ASSERT_TRUE(animated);
        Pixels frame = ReadPixels(animated.get());
        size_t visible = 0;
        for (uint32_t p : frame.argb) visible += (p >> 24) != 0 && (p & 0xFFFFFF) != 0;
        EXPECT_GT(visible, frame.argb.size() / 2);
    }
}

TEST(WebPDecode, BrokenInputFailsCleanly) {
    TempDir dir;
    std::vector<std::wstring> bad = {
        CorpusFile(L"broken/empty/empty.webp"),
        CorpusFile(L"broken/truncated/lossless1_trunc_40b.webp"),
        CorpusFile(L"broken/truncated/test_trunc_half.webp"),
        CorpusFile(L"broken/wrong-content/noise.webp"),
        CorpusFile(L"broken/wrong-content/riff_not_webp.webp"),
        CorpusFile(L"png/pillow/hopper.png"),
        CorpusFile(L"no such file.webp"),
        CorpusDir(),
    };
    // Signature only; an animation cut inside its first frame; a lossless file cut short.
    std::string animation = ReadBytes(CorpusFile(L"webp/image-webp/random_lossy.webp"));
    std::string lossless = ReadBytes(CorpusFile(L"webp/libwebp-test-data/lossless1.webp"));
    WriteBytes(dir / L"signature.webp", animation.substr(0, 12));
    WriteBytes(dir / L"animation_cut.webp", animation.substr(0, animation.size() / 3));
    WriteBytes(dir / L"lossless_cut.webp", lossless.substr(0, lossless.size() - 100));
    for (const wchar_t* name : {L"signature.webp", L"animation_cut.webp", L"lossless_cut.webp"})
        bad.push_back(dir / name);

    for (const std::wstring& path : bad) {
        SCOPED_TRACE(Narrow(path));
        GpBitmap* bitmap = reinterpret_cast<GpBitmap*>(&dir);  // must be reset
        EXPECT_NE(LoadWebPBitmap(path, &bitmap), Ok);
        EXPECT_EQ(bitmap, nullptr);
    }
}

TEST(WebPDecode, AbsurdDimensionsFailCleanly) {
    TempDir dir;
    // Lossy still (VP8 frame header at 26): 16383 x 16383, the format's largest.
    std::wstring lossy = PatchedCopy(dir, L"webp/libwebp-test-data/test.webp", L"vp8.webp",
                                     [](std::string& b) {
                                         PutLE(b, 26, 0x3FFF, 2);
                                         PutLE(b, 28, 0x3FFF, 2);
                                     });
    // Lossless still (VP8L header at 21): 14-bit width-1 and height-1, all ones.
    std::wstring lossless = PatchedCopy(
        dir, L"webp/libwebp-test-data/lossless1.webp", L"vp8l.webp", [](std::string& b) {
            uint32_t bits = static_cast<uint8_t>(b[21]) | static_cast<uint8_t>(b[22]) << 8 |
                            static_cast<uint8_t>(b[23]) << 16 |
                            static_cast<uint32_t>(static_cast<uint8_t>(b[24])) << 24;
            bits |= 0x0FFFFFFFu;
            PutLE(b, 21, bits, 4);
        });
    // Animation (VP8X canvas, 24-bit width-1 and height-1 at 24 and 27): 20000 x 20000.
    std::wstring animation = PatchedCopy(dir, L"webp/image-webp/random_lossy.webp",
                                         L"vp8x.webp", [](std::string& b) {
                                             PutLE(b, 24, 20000 - 1, 3);
                                             PutLE(b, 27, 20000 - 1, 3);
                                         });
    for (const std::wstring& path : {lossy, lossless, animation}) {
        SCOPED_TRACE(Narrow(path));
        ASSERT_TRUE(IsWebPFile(path));
        GpBitmap* bitmap = nullptr;
        EXPECT_NE(LoadWebPBitmap(path, &bitmap), Ok);
        EXPECT_EQ(bitmap, nullptr);
    }
}

TEST(WebPDecode, PixelLimitIsCheckedBeforeDecoding) {
    // Valid files just over the limit are refused, still and animated alike; at it they decode.
    struct Case {
        const wchar_t* path;
        unsigned long long pixels;
    };
    for (const Case& c : {Case{L"webp/pillow/hopper.webp", 128ull * 128},
                          Case{L"webp/image-webp/random_lossy.webp", 99ull * 87}}) {
        SCOPED_TRACE(Narrow(c.path));
        GpBitmap* bitmap = nullptr;
        EXPECT_NE(LoadWebPBitmap(CorpusFile(c.path), &bitmap, c.pixels - 1), Ok);
        EXPECT_EQ(bitmap, nullptr);
        ASSERT_EQ(LoadWebPBitmap(CorpusFile(c.path), &bitmap, c.pixels), Ok);
        ImagePtr image(bitmap);
    }
}

TEST(WebPEncode, LosslessSourceAtQuality100StaysVisuallyIdentical) {
    TempDir dir;
    ImagePtr source = LoadWithGdiplus(CorpusFile(L"png/pillow/hopper.png"));
    ASSERT_TRUE(source);
    std::wstring out = dir / L"hopper.webp";
    ASSERT_TRUE(SaveImageAsWebP(Copy(source.get()), out, 100));
    ASSERT_TRUE(IsWebPFile(out));
    ImagePtr back = LoadWebP(out);
    ASSERT_TRUE(back);
    Pixels a = ReadPixels(source.get());
    Pixels b = ReadPixels(back.get());
    ASSERT_EQ(a.argb.size(), b.argb.size());
    Difference difference = ColourDifference(a, b);
    EXPECT_LT(difference.mean, 2.0);
    EXPECT_LE(difference.largest, 40);
    for (uint32_t p : b.argb) ASSERT_EQ(p >> 24, 0xFFu) << "an opaque source stays opaque";
}

TEST(WebPEncode, LowQualityGivesAClearlySmallerFile) {
    TempDir dir;
    ImagePtr photo = LoadWithGdiplus(CorpusFile(L"jpeg/pillow/flower.jpg"));
    ASSERT_TRUE(photo);
    ASSERT_TRUE(SaveImageAsWebP(Copy(photo.get()), dir / L"q10.webp", 10));
    ASSERT_TRUE(SaveImageAsWebP(std::move(photo), dir / L"q90.webp", 90));
    size_t low = ReadBytes(dir / L"q10.webp").size();
    size_t high = ReadBytes(dir / L"q90.webp").size();
    EXPECT_GT(low, 0u);
    EXPECT_LT(low * 2, high);
    ImagePtr back = LoadWebP(dir / L"q10.webp");
    ASSERT_TRUE(back);
    EXPECT_EQ(SizeOf(back.get()), (ImageSize{480, 360}));
}

TEST(WebPEncode, AlphaSurvives) {
    TempDir dir;
    // Left third transparent, middle half-transparent, right opaque; colours vary.
    const UINT width = 48;
    const UINT height = 32;
    std::vector<ARGB> argb(width * height);
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            uint32_t alpha = x < 16 ? 0x00 : x < 32 ? 0x80 : 0xFF;
            argb[y * width + x] = alpha << 24 | (x * 5) << 16 | (y * 7) << 8 | 0x60;
        }
    ImagePtr source = MakeBitmap({width, height}, argb);
    ASSERT_TRUE(source);
    std::wstring out = dir / L"alpha.webp";
    ASSERT_TRUE(SaveImageAsWebP(std::move(source), out, 75));
    ImagePtr back = LoadWebP(out);
    ASSERT_TRUE(back);
    Pixels pixels = ReadPixels(back.get());
    ASSERT_EQ(pixels.argb.size(), argb.size());
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            ASSERT_NEAR(Channel(pixels.at(x, y), 24), Channel(argb[y * width + x], 24), 2)
                << "at " << x << "," << y;
}

TEST(WebPEncode, EveryPixelFormatGdiplusDecodesIsEncoded) {
    TempDir dir;
    // 24-bit BMP, 8-bit palette GIF, 1-bit PNG with tRNS, 16-bit grey PNG, RLE8 BMP, CMYK JPEG.
    for (const wchar_t* name :
         {L"bmp/pillow/hopper.bmp", L"gif/pillow/hopper.gif", L"png/pillow/1_trns.png",
          L"png/pillow/i_trns.png", L"bmp/pillow/hopper_rle8.bmp",
          L"jpeg/pillow/pil_sample_cmyk.jpg", L"tiff/pillow/hopper_g4.tif"}) {
        SCOPED_TRACE(Narrow(name));
        ImagePtr source = LoadWithGdiplus(CorpusFile(name));
        ASSERT_TRUE(source);
        std::wstring out = dir / L"out.webp";
        ASSERT_TRUE(SaveImageAsWebP(Copy(source.get()), out, 75));
        ImagePtr back = LoadWebP(out);
        ASSERT_TRUE(back);
        EXPECT_EQ(SizeOf(back.get()), SizeOf(source.get()));
    }
}

TEST(WebPEncode, BottomUpBitmapKeepsItsOrientation) {
    // A bitmap over memory laid out bottom-up (negative stride), as DIBs are.
    const UINT width = 32;
    const UINT height = 32;
    std::vector<uint32_t> memory(width * height);
    for (UINT row = 0; row < height; ++row)  // memory row 0 is the picture's bottom row
        for (UINT x = 0; x < width; ++x)
            memory[row * width + x] = row < height / 2 ? 0xFF0000FFu : 0xFFFF0000u;
    GpBitmap* bitmap = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(
                  static_cast<INT>(width), static_cast<INT>(height), -static_cast<INT>(width * 4),
                  PixelFormat32bppARGB,
                  reinterpret_cast<BYTE*>(memory.data() + (height - 1) * width), &bitmap),
              Ok);
    ImagePtr source(bitmap);
    TempDir dir;
    ASSERT_TRUE(SaveImageAsWebP(std::move(source), dir / L"out.webp", 90));
    ImagePtr back = LoadWebP(dir / L"out.webp");
    ASSERT_TRUE(back);
    Pixels pixels = ReadPixels(back.get());
    // Top red, bottom blue.
    EXPECT_GT(Channel(pixels.at(width / 2, 2), 16), 200);
    EXPECT_LT(Channel(pixels.at(width / 2, 2), 0), 60);
    EXPECT_GT(Channel(pixels.at(width / 2, height - 3), 0), 200);
    EXPECT_LT(Channel(pixels.at(width / 2, height - 3), 16), 60);
}

// The pixels go to libwebp in bands of rows, each pair of rows turned into YUV apart; the
// file must be what libwebp's one-call encoder makes of the whole bitmap, to the byte.
TEST(WebPEncode, WritesWhatLibwebpMakesOfTheWholeBitmap) {
    const UINT width = 301, height = 701;  // several bands, odd sizes
    std::mt19937 random(11);
    auto picture = [&](auto alphaAt) {
        std::vector<ARGB> argb(size_t{width} * height);
        for (UINT y = 0; y < height; ++y)
            for (UINT x = 0; x < width; ++x)
                argb[size_t{y} * width + x] = (static_cast<ARGB>(random()) & 0xFFFFFF) |
                                              static_cast<ARGB>(alphaAt(x, y)) << 24;
        return MakeBitmap({width, height}, argb);
    };
    ImagePtr opaque = picture([](UINT, UINT) { return 0xFF; });
    ASSERT_TRUE(opaque);
    GpBitmap* rgb = nullptr;
    ASSERT_EQ(GdipCloneBitmapAreaI(0, 0, width, height, PixelFormat24bppRGB,
                                   static_cast<GpBitmap*>(opaque.get()), &rgb),
              Ok);
    // Over memory laid out bottom-up (negative stride), as DIBs are.
    std::vector<ARGB> memory(size_t{width} * height);
    for (ARGB& pixel : memory) pixel = static_cast<ARGB>(random());
    GpBitmap* bottomUp = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(width, height, -static_cast<INT>(width * 4),
                                        PixelFormat32bppARGB,
                                        reinterpret_cast<BYTE*>(&memory[(height - 1) * width]),
                                        &bottomUp),
              Ok);
    std::pair<const char*, ImagePtr> cases[] = {
        {"opaque", std::move(opaque)},
        {"translucent", picture([&](UINT, UINT) { return random() & 0xFF; })},
        {"translucent in the last band only",
         picture([](UINT x, UINT y) { return y > 600 ? x & 0xFF : 0xFF; })},
        {"one translucent pixel in a middle band",
         picture([](UINT x, UINT y) { return x == 7 && y == 300 ? 0x80 : 0xFF; })},
        {"24 bpp", ImagePtr(rgb)},
        {"bottom-up", ImagePtr(bottomUp)}};
    TempDir dir;
    for (auto& c : cases) {
        SCOPED_TRACE(c.first);
        ASSERT_TRUE(c.second);
        std::string whole;
        {
            BitmapBitsLock bits(static_cast<GpBitmap*>(c.second.get()), width, height,
                                ImageLockModeRead, PixelFormat32bppARGB);
            ASSERT_TRUE(bits.locked());
            uint8_t* encoded = nullptr;
            size_t size = WebPEncodeBGRA(static_cast<const uint8_t*>(bits.data().Scan0), width,
                                         height, bits.data().Stride, 75, &encoded);
            WebPMemoryPtr owner(encoded);
            ASSERT_GT(size, 0u);
            whole.assign(reinterpret_cast<const char*>(encoded), size);
        }
        ASSERT_TRUE(SaveImageAsWebP(std::move(c.second), dir / L"out.webp", 75));
        EXPECT_TRUE(ReadBytes(dir / L"out.webp") == whole);
    }
}

TEST(WebPEncode, FailuresWriteNothing) {
    TempDir dir;
    ImagePtr source = LoadWithGdiplus(CorpusFile(L"png/pillow/hopper.png"));
    ASSERT_TRUE(source);
    std::wstring out = dir / L"out.webp";
    EXPECT_FALSE(SaveImageAsWebP(nullptr, out, 75));
    EXPECT_FALSE(SaveImageAsWebP(Copy(source.get()), out, -1));
    EXPECT_FALSE(SaveImageAsWebP(Copy(source.get()), out, 101));
    EXPECT_FALSE(FileExists(out));

    // A metafile is not a bitmap: it must be rendered onto one first.
    GpImage* metafile = nullptr;
    ASSERT_EQ(GdipLoadImageFromFile(CorpusFile(L"metafile/pillow/drawing.emf").c_str(), &metafile), Ok);
    ImagePtr metafileImage(metafile);
    EXPECT_FALSE(SaveImageAsWebP(std::move(metafileImage), out, 75));
    EXPECT_FALSE(FileExists(out));

    // Wider than WebP allows: refused before anything is written.
    GpBitmap* wide = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromScan0(16384 + 16, 2, 0, PixelFormat32bppARGB, nullptr, &wide),
              Ok);
    ImagePtr wideImage(wide);
    EXPECT_FALSE(SaveImageAsWebP(std::move(wideImage), out, 75));
    EXPECT_FALSE(FileExists(out));
}

TEST(WebPEncoderClsid, DiffersFromEveryPlatformEncoder) {
    UINT count = 0;
    UINT bytes = 0;
    ASSERT_EQ(GdipGetImageEncodersSize(&count, &bytes), Ok);
    ASSERT_GT(bytes, 0u);
    MallocPtr<ImageCodecInfo> encoders(static_cast<ImageCodecInfo*>(std::malloc(bytes)));
    ASSERT_TRUE(encoders);
    ASSERT_EQ(GdipGetImageEncoders(count, bytes, encoders.get()), Ok);
    for (UINT i = 0; i < count; ++i)
        EXPECT_FALSE(IsEqualCLSID(encoders.get()[i].Clsid, kWebPEncoderClsid)) << i;
    EXPECT_STREQ(kWebPMimeType, L"image/webp");
}
