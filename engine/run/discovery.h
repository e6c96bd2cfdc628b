// Finding the image files below a folder.
#pragma once

#include <atomic>
#include <string>
#include <vector>

// True when the name, ASCII letters folded to lower case, contains an accepted
// image extension anywhere (".jpg" in "report.jpg.txt" counts).
bool IsImageFileName(const std::wstring& name);

// Full paths of every image file below folder, depth first, each folder's
// entries in the order the platform's search delivers them. When stop becomes true the
// walk ends at once with what it has found: a program that is closing must not wait for
// the scan of a large tree.
std::vector<std::wstring> FindImageFiles(const std::wstring& folder,
                                         const std::atomic<bool>* stop = nullptr);
