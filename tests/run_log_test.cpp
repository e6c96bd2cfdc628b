#include "run_log.h"

#include <gtest/gtest.h>

namespace {

TEST(RunLog, NamesTheRunsSettings) {
    EXPECT_EQ(FormatLine(L"JPEG"), L"目标格式: JPEG");
    EXPECT_EQ(FormatLine(L"WEBP"), L"目标格式: WEBP");
    struct Case {
        int quality;
        const wchar_t* line;
    };
    for (const Case& c : {Case{1, L"质量设置: 1%"}, Case{75, L"质量设置: 75%"},
                          Case{100, L"质量设置: 100%"}})
        EXPECT_EQ(QualityLine(c.quality), c.line);
}

TEST(RunLog, CountsInPlainDecimal) {
    struct Case {
        unsigned long long total;
        const wchar_t* found;
    };
    for (const Case& c : {Case{1, L"找到 1 个图片文件"}, Case{1000, L"找到 1000 个图片文件"},
                          Case{65536, L"找到 65536 个图片文件"},
                          Case{5000000000ull, L"找到 5000000000 个图片文件"}})
        EXPECT_EQ(FoundLine(c.total), c.found);
    EXPECT_EQ(SummaryLine(0, 3), L"转换完成! 成功: 0/3");
    EXPECT_EQ(SummaryLine(12345, 70000), L"转换完成! 成功: 12345/70000");
}

TEST(RunLog, MarksEachFileByItsOutcome) {
    struct Case {
        FileOutcome outcome;
        const wchar_t* relativePath;
        const wchar_t* line;
    };
    const Case cases[] = {
        {FileOutcome::Converted, L"a.png", L"✓ a.png"},
        {FileOutcome::Converted, L"sub\\照片.jpg", L"✓ sub\\照片.jpg"},
        {FileOutcome::Failed, L"sub\\broken.jpg", L"✗ sub\\broken.jpg 转换失败"},
        {FileOutcome::Skipped, L"deep\\er\\b.bmp", L"跳过 deep\\er\\b.bmp (文件已存在)"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileLine(c.outcome, c.relativePath), c.line);
}

TEST(RunLog, EndsWithTheOutputFolder) {
    EXPECT_EQ(OutputFolderLine(L"C:\\pics\\converted_images"), L"输出目录: C:\\pics\\converted_images");
    EXPECT_STREQ(kStartingLine, L"开始转换图片...");
    EXPECT_STREQ(kNoFormatLine, L"错误：请选择目标格式");
    EXPECT_STREQ(kOutputRootFailedLine, L"错误：无法创建输出目录");
    EXPECT_STREQ(kNoImagesLine, L"错误：目录中没有找到图片文件");
}

}  // namespace
