// One conversion run: every image below a folder, on a thread of its own.
#pragma once

#include "platform.h"

#include <atomic>
#include <string>

// What a run takes from the window when it starts; it reads the controls no more after that.
struct ConversionSettings {
    std::wstring sourceDir;
    std::wstring formatName;
    std::wstring mimeType;
    std::wstring extension;
    int quality = 90;
    bool keepStructure = true;
    bool overwrite = false;
};

// Set when the program is closing: the run stops before its next step, and a file in the
// codec worker gets a short grace.
extern std::atomic<bool> g_runStopRequested;
void RequestRunStop();
// Before a new run: no stop is asked of it.
void ClearRunStop();

// Thread routine. parameter is a std::wstring allocated with new, the source folder as it
// was when Start was pressed; the run owns and deletes it, so a later folder choice cannot
// change the folder under it.
DWORD WINAPI ConversionThread(LPVOID parameter);
