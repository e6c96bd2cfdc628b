// The output formats offered to the user, each with the MIME type of its encoder.
#pragma once

#include <map>
#include <string>

// Ordered by name, which is also the order of the format combo box.
extern std::map<std::wstring, std::wstring> g_formatTable;
