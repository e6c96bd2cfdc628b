// The lines a conversion run writes into the log.
#pragma once

#include <string>

inline constexpr wchar_t kNoFormatLine[] = L"错误：请选择目标格式";
inline constexpr wchar_t kOutputRootFailedLine[] = L"错误：无法创建输出目录";
inline constexpr wchar_t kNoImagesLine[] = L"错误：目录中没有找到图片文件";
inline constexpr wchar_t kStartingLine[] = L"开始转换图片...";

enum class FileOutcome { Skipped, Converted, Failed };

std::wstring FormatLine(const std::wstring& formatName);
std::wstring QualityLine(int quality);
std::wstring FoundLine(unsigned long long total);
// The one line for a file, named by its path relative to the source folder.
std::wstring FileLine(FileOutcome outcome, const std::wstring& relativePath);
std::wstring SummaryLine(int successCount, unsigned long long total);
std::wstring OutputFolderLine(const std::wstring& outputRoot);
