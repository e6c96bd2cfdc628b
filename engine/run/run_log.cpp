#include "run_log.h"

std::wstring FormatLine(const std::wstring& formatName) { return L"目标格式: " + formatName; }

std::wstring QualityLine(int quality) { return L"质量设置: " + std::to_wstring(quality) + L"%"; }

std::wstring FoundLine(unsigned long long total) {
    return L"找到 " + std::to_wstring(total) + L" 个图片文件";
}

std::wstring FileLine(FileOutcome outcome, const std::wstring& relativePath) {
    switch (outcome) {
    case FileOutcome::Skipped:
        return L"跳过 " + relativePath + L" (文件已存在)";
    case FileOutcome::Converted:
        return L"✓ " + relativePath;
    case FileOutcome::Failed:
        break;
    }
    return L"✗ " + relativePath + L" 转换失败";
}

std::wstring SummaryLine(int successCount, unsigned long long total) {
    return L"转换完成! 成功: " + std::to_wstring(successCount) + L"/" + std::to_wstring(total);
}

std::wstring OutputFolderLine(const std::wstring& outputRoot) { return L"输出目录: " + outputRoot; }
