#include "codec.h"
#include "files.h"
#include "webp_codec.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

struct Format {
    const wchar_t* mimeType;
    const wchar_t* extension;
    std::string magic;  // one of the signatures a file of this format starts with
    std::string otherMagic;
};

const Format kGdiplusFormats[] = {
    {L"image/bmp", L"bmp", "BM", ""},
    {L"image/gif", L"gif", "GIF8", ""},
    {L"image/jpeg", L"jpeg", "\xFF\xD8\xFF", ""},
    {L"image/png", L"png", "\x89PNG\r\n\x1A\n", ""},
    {L"image/tiff", L"tiff", std::string("II*\0", 4), std::string("MM\0*", 4)},
};

const Format kWebP = {L"image/webp", L"webp", "RIFF", ""};

bool StartsWith(const std::string& bytes, const std::string& prefix) {
    return !prefix.empty() && bytes.compare(0, prefix.size(), prefix) == 0;
}

TEST(GetEncoderClsid, FindsEachPlatformEncoderByExactMimeType) {
    for (const Format& format : kGdiplusFormats) {
        CLSID clsid{};
        EXPECT_GE(GetEncoderClsid(format.mimeType, clsid), 0) << format.mimeType;
        EXPECT_NE(clsid, CLSID{}) << format.mimeType;
    }
}

TEST(GetEncoderClsid, NoEncoderForOtherSpellingsAndClsidStaysUntouched) {
    for (const wchar_t* mimeType : {L"IMAGE/PNG", L"image/PNG", L"", L"image/jpg", L"image/png "}) {
        CLSID clsid;
        std::memset(&clsid, 0xAB, sizeof clsid);
        CLSID before = clsid;
        EXPECT_EQ(GetEncoderClsid(mimeType, clsid), -1) << mimeType;
        EXPECT_EQ(std::memcmp(&clsid, &before, sizeof clsid), 0) << mimeType;
    }
}

TEST(GetEncoderClsid, WebPIsVorandelsOwnEncoderAfterThePlatformsList) {
    UINT count = 0, size = 0;
    ASSERT_EQ(GdipGetImageEncodersSize(&count, &size), Ok);
    CLSID clsid{};
    EXPECT_EQ(GetEncoderClsid(L"image/webp", clsid), static_cast<int>(count));
    EXPECT_EQ(clsid, kWebPEncoderClsid);
}

TEST(FillQualityParameters, CarriesTheQualityUnchanged) {
    for (ULONG quality : {1ul, 100ul}) {
        ULONG value = quality;
        EncoderParameters params;
        FillQualityParameters(params, value);
        EXPECT_EQ(params.Count, 1u);
        EXPECT_EQ(params.Parameter[0].Guid, EncoderQuality);
        EXPECT_EQ(params.Parameter[0].NumberOfValues, 1u);
        EXPECT_EQ(params.Parameter[0].Type, static_cast<ULONG>(EncoderParameterValueTypeLong));
        EXPECT_EQ(*static_cast<ULONG*>(params.Parameter[0].Value), quality);
    }
}

TEST(ConvertImageFile, EveryInputFormatToEveryOutputFormat) {
    TempDir dir;
    std::vector<Format> formats(std::begin(kGdiplusFormats), std::end(kGdiplusFormats));
    formats.push_back(kWebP);
    std::vector<std::wstring> inputs;
    for (const Format& format : formats) {
        inputs.push_back(dir / (std::wstring(L"in.") + format.extension));
        SaveTestImage(inputs.back(), format.mimeType, 21, 13);
    }
    for (const std::wstring& input : inputs) {
        for (const Format& format : formats) {
            for (int quality : {1, 100}) {
                SCOPED_TRACE(testing::Message() << "from " << input.substr(input.rfind(L'.'))
                                                << " to " << format.extension << " at " << quality);
                const std::wstring output = dir / (L"out." + std::wstring(format.extension));
                ASSERT_TRUE(ConvertImageFile(input, output, format.mimeType, quality));
                std::string bytes = ReadBytes(output);
                EXPECT_TRUE(StartsWith(bytes, format.magic) || StartsWith(bytes, format.otherMagic));
                EXPECT_EQ(DecodedSize(output), (ImageSize{21, 13}));
            }
        }
    }
}

// Lossy, lossless, with alpha, animated (its first frame), and WebP under a PNG name.
TEST(ConvertImageFile, WebPFilesConvertToEveryFormat) {
    TempDir dir;
    const std::pair<const wchar_t*, ImageSize> inputs[] = {
        {L"webp\\pillow\\hopper.webp", {128, 128}},
        {L"webp\\libwebp-test-data\\lossless1.webp", {1000, 307}},
        {L"webp\\pillow\\transparent.webp", {200, 150}},
        {L"webp\\image-webp\\random_lossy.webp", {99, 87}},
        {L"mislabeled\\webp_data.png", {0, 0}},
    };
    std::vector<Format> formats(std::begin(kGdiplusFormats), std::end(kGdiplusFormats));
    formats.push_back(kWebP);
    for (const auto& [name, expected] : inputs) {
        const std::wstring input = CorpusFile(name);
        ImageSize size = expected;
        if (size == ImageSize{}) size = DecodedSize(input);
        ASSERT_NE(size, ImageSize{}) << name;
        for (const Format& format : formats) {
            SCOPED_TRACE(testing::Message() << name << " to " << format.extension);
            const std::wstring output = dir / (L"out." + std::wstring(format.extension));
            ASSERT_TRUE(ConvertImageFile(input, output, format.mimeType, 75));
            EXPECT_EQ(DecodedSize(output), size);
        }
    }
}

TEST(ConvertImageFile, BrokenAndOversizedWebPFailCleanly) {
    TempDir dir;
    std::string good = ReadBytes(CorpusDir() + L"\\webp\\pillow\\hopper.webp");
    ASSERT_GT(good.size(), 100u);
    // A lossless stream declaring 16384 x 16384: 1 GiB of pixels from a few bytes.
    std::string bomb = std::string("RIFF\x1A\0\0\0WEBPVP8L\x0D\0\0\0\x2F", 21) +
                       std::string("\xFF\xFF\xFF\x0F\x10\x07\x10\x11\x11\x88\x88\x08\0", 13);
    const std::pair<const wchar_t*, std::string> inputs[] = {
        {L"empty.webp", ""},
        {L"signature_only.webp", good.substr(0, 12)},
        {L"half.webp", good.substr(0, good.size() / 2)},
        {L"noise.webp", good.substr(0, 30) + std::string(2000, '\x5A')},
        {L"bomb.webp", bomb},
    };
    for (const auto& [name, bytes] : inputs) {
        WriteBytes(dir / name, bytes);
        for (const wchar_t* mimeType : {L"image/png", L"image/webp"}) {
            EXPECT_FALSE(ConvertImageFile(dir / name, dir / L"out.img", mimeType, 90)) << name;
            EXPECT_FALSE(FileExists(dir / L"out.img")) << name;
        }
    }
}

// GIF holds 256 colours: a photo must keep its look, not turn into a blank or a posterised copy.
TEST(ConvertImageFile, GifOutputOfAPhotoStaysCloseToTheOriginal) {
    TempDir dir;
    const std::wstring photo = CorpusDir() + L"\\jpeg\\libjpeg-turbo\\testorig.jpg";
    ASSERT_TRUE(ConvertImageFile(photo, dir / L"photo.gif", L"image/gif", 90));
    EXPECT_LT(ColourDifference(DecodePixels(photo), DecodePixels(dir / L"photo.gif")).mean, 6.0);
}

TEST(ConvertImageFile, GifKeepsFewColoursExactlyAndTakesEveryPaletteDepth) {
    TempDir dir;
    const std::vector<ARGB> stripe = {0xFFFFFFFF, 0xFF102030, 0xFFFF0000, 0xFF00FF00, 0xFF0000FE,
                                      0xFF808080, 0xFF010101, 0xFFFFFFFF, 0xFF102030};
    const std::vector<ARGB> plain(25, 0xFF336699);
    for (const auto& [size, pixels] : {std::make_pair(ImageSize{9, 1}, stripe),
                                       std::make_pair(ImageSize{5, 5}, plain)}) {
        SavePixels(dir / L"few.png", L"image/png", size, pixels);
        ASSERT_TRUE(ConvertImageFile(dir / L"few.png", dir / L"few.gif", L"image/gif", 90));
        EXPECT_EQ(ColourDifference(DecodePixels(dir / L"few.png"), DecodePixels(dir / L"few.gif")).largest, 0);
    }
    // 1-bit pictures, which Wine's GIF encoder refuses as they are.
    const std::wstring fax = CorpusFile(L"tiff\\pillow\\hopper_g4.tif");
    ASSERT_TRUE(ConvertImageFile(fax, dir / L"fax.gif", L"image/gif", 90));
    EXPECT_EQ(DecodedSize(dir / L"fax.gif"), DecodedSize(fax));
}

TEST(ConvertImageFile, IconInputConverts) {
    TempDir dir;
    const std::wstring output = dir / L"icon.png";
    ASSERT_TRUE(ConvertImageFile(CorpusDir() + L"\\ico\\pillow\\python.ico", output, L"image/png", 90));
    EXPECT_NE(DecodedSize(output), ImageSize{});
}

TEST(ConvertImageFile, UndecodableInputsFailAndWriteNothing) {
    TempDir dir;
    std::string png = ReadBytes(CorpusDir() + L"\\png\\pngsuite\\basn2c08.png");
    ASSERT_GT(png.size(), 100u);
    const std::pair<const wchar_t*, std::string> inputs[] = {
        {L"empty.png", ""},
        {L"garbage.jpg", "this is not an image at all, just some text\n"},
        {L"header_only.png", png.substr(0, 33)},
        {L"signature_only.png", png.substr(0, 8)},
        {L"missing.bmp", ""},
    };
    for (const auto& [name, bytes] : inputs) {
        if (std::wstring(name) != L"missing.bmp") WriteBytes(dir / name, bytes);
        const std::wstring output = dir / L"out.png";
        EXPECT_FALSE(ConvertImageFile(dir / name, output, L"image/png", 90)) << name;
        EXPECT_FALSE(FileExists(output)) << name;
    }
}

TEST(ConvertImageFile, UnknownMimeTypesFailAfterLoadingAndWriteNothing) {
    TempDir dir;
    const std::wstring input = dir / L"in.png";
    SaveTestImage(input, L"image/png");
    for (const wchar_t* mimeType : {L"IMAGE/PNG", L"", L"image/x-unknown", L"IMAGE/WEBP"}) {
        const std::wstring output = dir / L"out.img";
        EXPECT_FALSE(ConvertImageFile(input, output, mimeType, 90)) << mimeType;
        EXPECT_FALSE(FileExists(output)) << mimeType;
    }
}

TEST(ConvertImageFile, ReplacesAnExistingOutputAndFailsOnAFolderOrMissingFolder) {
    TempDir dir;
    const std::wstring input = dir / L"in.bmp";
    SaveTestImage(input, L"image/bmp", 8, 8);
    const std::wstring output = dir / L"out.png";
    WriteBytes(output, std::string(5000, 'x'));
    ASSERT_TRUE(ConvertImageFile(input, output, L"image/png", 90));
    EXPECT_EQ(DecodedSize(output), (ImageSize{8, 8}));

    MakeDir(dir / L"folder.png");
    EXPECT_FALSE(ConvertImageFile(input, dir / L"folder.png", L"image/png", 90));
    EXPECT_FALSE(ConvertImageFile(input, dir / L"nowhere\\out.png", L"image/png", 90));
    EXPECT_FALSE(FolderExists(dir / L"nowhere"));
}

// Folder entries other than the ones named: a conversion leaves nothing else behind.
std::vector<std::wstring> Entries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    SearchHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (search.valid()) {
        do {
            std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") names.push_back(name);
        } while (FindNextFileW(search.get(), &entry));
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ConvertImageFile, NeverWritesOntoItsOwnInput) {
    TempDir dir;
    std::vector<Format> formats(std::begin(kGdiplusFormats), std::end(kGdiplusFormats));
    formats.push_back(kWebP);
    for (const Format& format : formats) {
        SCOPED_TRACE(testing::Message() << format.extension);
        const std::wstring input = dir / (std::wstring(L"Photo.") + format.extension);
        SaveTestImage(input, format.mimeType);
        const std::string before = ReadBytes(input);
        EXPECT_FALSE(ConvertImageFile(input, input, format.mimeType, 90));
        // The same file by another spelling of its name.
        EXPECT_FALSE(ConvertImageFile(input, dir / (std::wstring(L"PHOTO.") + format.extension),
                                      format.mimeType, 90));
        EXPECT_EQ(ReadBytes(input), before);
        RemoveTree(input);
    }
    EXPECT_TRUE(Entries(dir.path()).empty()) << "no temporary file stays";
}

TEST(InputFile, ReadsTheWholeFileAndLeavesItToOthers) {
    TempDir dir;
    MakeDir(dir / L"folder");
    WriteBytes(dir / L"empty", "");
    WriteBytes(dir / L"three", "abc");
    struct Case {
        const wchar_t* name;
        unsigned long long maxBytes;
        bool valid;
        std::string content;
    };
    const Case cases[] = {{L"empty", 3, true, ""},    {L"three", 3, true, "abc"},
                          {L"three", 2, false, ""},   {L"missing", 3, false, ""},
                          {L"folder", 3, false, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " of at most " << c.maxBytes);
        InputFile input(dir / c.name, c.maxBytes);
        ASSERT_EQ(input.valid(), c.valid);
        ASSERT_EQ(input.size(), c.content.size());
        if (input.size() > 0) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(input.data()), input.size()),
                      c.content);
        }
    }
    // Windows refuses a save over a file while anything maps it; once read, nothing does.
    const std::wstring path = dir / L"three";
    {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        KernelHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(SaveInPlace(path, "abc"), static_cast<DWORD>(ERROR_USER_MAPPED_FILE));
        UnmapViewOfFile(view);
    }
    InputFile input(path, 3);
    EXPECT_TRUE(input.valid());
    EXPECT_EQ(SaveInPlace(path, "abc"), static_cast<DWORD>(ERROR_SUCCESS)) << "the read left the file mapped";
    EXPECT_TRUE(MoveFileW(path.c_str(), (dir / L"moved").c_str()));
}

TEST(ConvertImageFile, LeavesOnlyTheFinishedOutputBehind) {
    TempDir dir;
    const std::wstring input = dir / L"in.png";
    SaveTestImage(input, L"image/png");
    ASSERT_TRUE(ConvertImageFile(input, dir / L"out.jpeg", L"image/jpeg", 90));
    ASSERT_TRUE(ConvertImageFile(input, dir / L"out.webp", L"image/webp", 90));
    // Saves that cannot be moved into place: onto a folder of that name.
    MakeDir(dir / L"taken.png");
    EXPECT_FALSE(ConvertImageFile(input, dir / L"taken.png", L"image/png", 90));
    MakeDir(dir / L"taken.webp");
    EXPECT_FALSE(ConvertImageFile(input, dir / L"taken.webp", L"image/webp", 90));
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::wstring>{L"in.png", L"out.jpeg", L"out.webp",
                                                              L"taken.png", L"taken.webp"}));
    EXPECT_TRUE(Entries(dir / L"taken.png").empty());
}

}  // namespace
