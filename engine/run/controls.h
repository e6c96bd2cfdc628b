// The main window's controls as both the window and a conversion run reach them.
#pragma once

#include "platform.h"

#include <string>

constexpr int IDC_SELECT_DIR = 1001;
constexpr int IDC_FORMAT_COMBO = 1002;
constexpr int IDC_QUALITY_EDIT = 1003;
constexpr int IDC_QUALITY_SLIDER = 1004;
constexpr int IDC_START = 1005;
constexpr int IDC_PROGRESS = 1006;
constexpr int IDC_LOG_LIST = 1007;
constexpr int IDC_CLEAR_LOG = 1008;
constexpr int IDC_KEEP_STRUCTURE = 1009;
constexpr int IDC_OVERWRITE = 1010;

// Written once while the window is created; buttons and check boxes are found by identifier.
extern HWND g_hMainWnd;
extern HWND g_hFormatCombo;
extern HWND g_hQualityEdit;
extern HWND g_hQualitySlider;
extern HWND g_hProgress;
extern HWND g_hLogList;

// Adds one line at the end of the log and scrolls it into view; any thread may call it.
void AppendLog(const std::wstring& line);
