#include "output_paths.h"

#include "files.h"

#include <vector>

bool CreateDirectoryTree(const std::wstring& root, const std::wstring& path) {
    // Up from path to the first folder that exists or can be made, noting where each
    // missing one ends; then down again, outermost first. A loop, not a call per level:
    // under Wine a tree may be thousands of levels deep. The climb ends at root: a root that
    // was renamed or removed during a run is not made again, nor anything above it.
    std::vector<size_t> missing;
    size_t end = path.size();
    for (;;) {
        if (end <= root.size()) {
            DWORD attributes = ReadAttributes(root);
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return false;
            break;
        }
        if (MakeFolder(path.substr(0, end))) break;
        size_t separator = path.rfind(L'\\', end - 1);
        if (separator == std::wstring::npos) return false;
        missing.push_back(end);
        end = separator;
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder)
        if (!MakeFolder(path.substr(0, *folder))) return false;
    return true;
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
    if (separator != std::wstring::npos) CreateDirectoryTree(outputRoot, outputPath.substr(0, separator));
    return outputPath;
}
