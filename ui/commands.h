// What the user's clicks in the main window do.
#pragma once

#include "platform.h"

#include <string>

// The folder the next run converts; empty until the first successful choice.
extern std::wstring g_sourceDir;

// The latest run's thread, kept so that the program can wait for it when it closes.
extern HANDLE g_hRunThread;

// Shows the folder picker; the chosen file-system path, or empty when none was chosen.
std::wstring PickFolderWithShell(HWND owner);
// The picker the folder command uses; tests put their own in its place.
extern std::wstring (*g_pickFolder)(HWND owner);

// The thread starter the Start command uses; tests put a failing one in its place.
extern decltype(&CreateThread) g_createThread;

void ChooseSourceFolder(HWND window);
void StartConversion(HWND window);
void ClearLog();
// Shows the trackbar's position in the quality edit box.
void MirrorQuality();
