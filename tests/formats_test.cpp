#include "formats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FormatTable, SixFormatsInNameOrderWithTheirEncodersMimeTypes) {
    using Entries = std::vector<std::pair<std::wstring, std::wstring>>;
    const Entries expected = {
        {L"BMP", L"image/bmp"},   {L"GIF", L"image/gif"},   {L"JPEG", L"image/jpeg"},
        {L"PNG", L"image/png"},   {L"TIFF", L"image/tiff"}, {L"WEBP", L"image/webp"}};
    EXPECT_EQ(Entries(g_formatTable.begin(), g_formatTable.end()), expected);
}

TEST(FormatTable, LookupIsExactAndAddsAnUnknownNameWithoutMimeType) {
    std::map<std::wstring, std::wstring> table = g_formatTable;
    EXPECT_EQ(table[L"JPEG"], L"image/jpeg");
    EXPECT_EQ(table[L"WEBP"], L"image/webp");
    EXPECT_EQ(table[L"jpeg"], L"");
    EXPECT_EQ(table[L"JPG"], L"");
    EXPECT_EQ(table.size(), 8u);
}

// Sources are UTF-8; the log and the controls need UTF-16 wide literals.
TEST(WideLiterals, ChineseTextIsUtf16) {
    const std::wstring start = L"开始转换";
    EXPECT_EQ(start, (std::wstring{wchar_t(0x5F00), wchar_t(0x59CB), wchar_t(0x8F6C),
                                   wchar_t(0x6362)}));
    const std::wstring check = L"✓ 😀";
    ASSERT_EQ(check.size(), 4u) << "a character outside the BMP takes a surrogate pair";
    EXPECT_EQ(check[0], wchar_t(0x2713));
    EXPECT_EQ(check[2], wchar_t(0xD83D));
    EXPECT_EQ(check[3], wchar_t(0xDE00));
}

}  // namespace
