#include "codec.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct Format {
    const wchar_t* mimeType;
    const wchar_t* extension;
    std::string magic;  // one of the signatures a file of this format starts with
    std::string otherMagic;
};

const Format kFormats[] = {
    {L"image/bmp", L"bmp", "BM", ""},
    {L"image/gif", L"gif", "GIF8", ""},
    {L"image/jpeg", L"jpeg", "\xFF\xD8\xFF", ""},
    {L"image/png", L"png", "\x89PNG\r\n\x1A\n", ""},
    {L"image/tiff", L"tiff", std::string("II*\0", 4), std::string("MM\0*", 4)},
};

bool StartsWith(const std::string& bytes, const std::string& prefix) {
    return !prefix.empty() && bytes.compare(0, prefix.size(), prefix) == 0;
}

TEST(GetEncoderClsid, FindsEachPlatformEncoderByExactMimeType) {
    for (const Format& format : kFormats) {
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

TEST(ConvertImageFile, EveryInputFormatToEveryPlatformEncoder) {
    TempDir dir;
    std::vector<std::wstring> inputs;
    for (const Format& format : kFormats) {
        inputs.push_back(dir / (std::wstring(L"in.") + format.extension));
        SaveTestImage(inputs.back(), format.mimeType, 21, 13);
    }
    for (const std::wstring& input : inputs) {
        for (const Format& format : kFormats) {
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

// GIF holds 256 colours: a photo must keep its look, not turn into a blank or a posterised copy.
TEST(ConvertImageFile, GifOutputOfAPhotoStaysCloseToTheOriginal) {
    TempDir dir;
    const std::wstring photo = CorpusDir() + L"\\jpeg\\libjpeg-turbo\\testorig.jpg";
    ASSERT_TRUE(ConvertImageFile(photo, dir / L"photo.gif", L"image/gif", 90));
    double difference = MeanChannelDifference(photo, dir / L"photo.gif");
    EXPECT_GE(difference, 0);
    EXPECT_LT(difference, 6.0);
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
    for (const wchar_t* mimeType : {L"IMAGE/PNG", L"", L"image/x-unknown", L"image/webp"}) {
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

}  // namespace
