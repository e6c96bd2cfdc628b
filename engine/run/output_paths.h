// Where each converted file goes, and the folders that hold it.
#pragma once

#include <string>

// Makes path and its missing folders only below root, which must exist and is never made.
// True when path exists afterwards; anything of that name, even a file, counts.
bool CreateDirectoryTree(const std::wstring& root, const std::wstring& path);

// path relative to sourceDir when it begins with it; otherwise path unchanged.
std::wstring GetRelativePath(const std::wstring& sourceDir, const std::wstring& path);

// text with what follows its last "." replaced by extension (or ".extension" appended).
std::wstring ReplaceExtension(const std::wstring& text, const std::wstring& extension);

// sourceDir followed by "\converted_images".
std::wstring OutputRootFor(const std::wstring& sourceDir);

// The output path of inputPath; with keepStructure it also creates the folder that will hold it.
std::wstring BuildOutputPath(const std::wstring& inputPath, const std::wstring& sourceDir,
                             const std::wstring& outputRoot, const std::wstring& extension,
                             bool keepStructure);
