// The program's start, life and end, as steps that tests can also take one by one.
#pragma once

#include "platform.h"

// The trackbar and progress bar classes, and the main window class.
void RegisterWindowClasses(HINSTANCE instance);
// Creates and shows the main window and stores it in g_hMainWnd; null when it cannot.
// Without imaging the window still opens and says why every conversion will fail.
HWND CreateMainWindow(HINSTANCE instance, int showCommand, bool imagingReady);
// Runs until the main window is destroyed.
void RunMessageLoop();
// Asks a run still going to stop before its next file and waits for it, carrying out
// messages sent to this thread meanwhile.
void WaitForRun();
// The whole program; its exit code.
int RunVorandel(HINSTANCE instance, int showCommand);
