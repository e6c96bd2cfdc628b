#include "output_paths.h"

#include "platform.h"

namespace {

bool CreatedOrExists(BOOL created) {
    return created || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool CreateDirectoryTree(const std::wstring& path) {
    if (CreatedOrExists(CreateDirectoryW(path.c_str(), nullptr))) return true;
    size_t separator = path.rfind(L'\\');
    if (separator == std::wstring::npos) return false;
    if (!CreateDirectoryTree(path.substr(0, separator))) return false;
    return CreatedOrExists(CreateDirectoryW(path.c_str(), nullptr));
}

std::wstring GetRelativePath(const std::wstring& sourceDir, const std::wstring& path) {
    if (sourceDir.empty() || path.compare(0, sourceDir.size(), sourceDir) != 0) return path;
    if (path.size() == sourceDir.size()) return {};
    // The character after the source folder is its separator; it is dropped unexamined.
    return path.substr(sourceDir.size() + 1);
}

std::wstring ReplaceExtension(const std::wstring& text, const std::wstring& extension) {
    size_t dot = text.rfind(L'.');
    return (dot == std::wstring::npos ? text : text.substr(0, dot)) + L"." + extension;
}

std::wstring OutputRootFor(const std::wstring& sourceDir) {
    return sourceDir + L"\\converted_images";
}

std::wstring BuildOutputPath(const std::wstring& inputPath, const std::wstring& sourceDir,
                             const std::wstring& outputRoot, const std::wstring& extension,
                             bool keepStructure) {
    if (!keepStructure) {
        size_t separator = inputPath.rfind(L'\\');
        std::wstring name =
            separator == std::wstring::npos ? inputPath : inputPath.substr(separator + 1);
        return outputRoot + L"\\" + ReplaceExtension(name, extension);
    }
    std::wstring outputPath =
        ReplaceExtension(outputRoot + L"\\" + GetRelativePath(sourceDir, inputPath), extension);
    size_t separator = outputPath.rfind(L'\\');
    // A folder that cannot be made shows up as a failed save of this file.
    if (separator != std::wstring::npos) CreateDirectoryTree(outputPath.substr(0, separator));
    return outputPath;
}
