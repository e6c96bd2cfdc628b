// The streams GDI+ encodes through: into memory as into a file.
#include "codec.h"
#include "resources.h"
#include "streams.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

HRESULT SeekTo(IStream* stream, long long offset, DWORD origin) {
    LARGE_INTEGER move;
    move.QuadPart = offset;
    return stream->Seek(move, origin, nullptr);
}

}  // namespace

TEST(StreamIntoBytes, WritesWhereItIsAsAFileWould) {
    std::vector<uint8_t> bytes;
    StreamPtr stream = StreamIntoBytes(bytes);
    ASSERT_TRUE(stream);
    ULONG done = 0;
    ASSERT_EQ(stream->Write("abcdef", 6, &done), S_OK);
    EXPECT_EQ(done, 6u);
    ASSERT_EQ(SeekTo(stream.get(), 2, STREAM_SEEK_SET), S_OK);
    ASSERT_EQ(stream->Write("XY", 2, nullptr), S_OK);
    // Past the end: the gap reads as zeros.
    ASSERT_EQ(SeekTo(stream.get(), 2, STREAM_SEEK_END), S_OK);
    ASSERT_EQ(stream->Write("!", 1, nullptr), S_OK);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("abXYef\0\0!", 9));
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 9u);

    ASSERT_EQ(SeekTo(stream.get(), 1, STREAM_SEEK_SET), S_OK);
    char read[4] = {};
    ASSERT_EQ(stream->Read(read, 3, &done), S_OK);
    EXPECT_EQ(std::string(read, 3), "bXY");
    ULARGE_INTEGER size;
    size.QuadPart = 4;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abXY");
    size.QuadPart = 6;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("abXY\0\0", 6));
    EXPECT_EQ(SeekTo(stream.get(), -1, STREAM_SEEK_SET), STG_E_INVALIDFUNCTION);
    IStream* clone = nullptr;
    EXPECT_EQ(stream->Clone(&clone), E_NOTIMPL);
}

// The TIFF encoder goes back to write offsets; every encoder must give in memory the very
// file it gives on disk.
TEST(StreamIntoBytes, EveryEncoderWritesTheSameFileAsOnDisk) {
    TempDir dir;
    SaveTestImage(dir / L"source.png", L"image/png", 97, 61);
    GpImage* loaded = nullptr;
    ASSERT_EQ(GdipLoadImageFromFile((dir / L"source.png").c_str(), &loaded), Ok);
    ImagePtr image(loaded);
    for (const wchar_t* mime : {L"image/bmp", L"image/jpeg", L"image/png", L"image/tiff"}) {
        SCOPED_TRACE(std::wstring(mime).c_str() + 6);
        CLSID clsid;
        ASSERT_GE(GetEncoderClsid(mime, clsid), 0);
        ULONG quality = 80;
        EncoderParameters params;
        FillQualityParameters(params, quality);
        ASSERT_EQ(GdipSaveImageToFile(image.get(), (dir / L"disk").c_str(), &clsid, &params), Ok);
        std::vector<uint8_t> bytes;
        ASSERT_EQ(GdipSaveImageToStream(image.get(), StreamIntoBytes(bytes).get(), &clsid, &params), Ok);
        EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == ReadBytes(dir / L"disk"));
    }
}
