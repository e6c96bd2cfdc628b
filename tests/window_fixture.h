// The real main window, created afresh for each test and driven as clicks would drive it.
#pragma once

#include "platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

struct ProgressMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const ProgressMessage& other) const {
        return message == other.message && wParam == other.wParam && lParam == other.lParam;
    }
};

class MainWindowTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // Replaces the window with a new one; without imaging as the program opens it when
    // the imaging library could not start.
    void ReopenWindow(bool imagingReady);

    static void Click(int id);
    static bool IsStartEnabled();
    static void SelectFormat(const std::wstring& name);
    static void SetCheck(int id, bool checked);
    static void SendKeyToSlider(UINT key);
    // Carries out every message waiting for this thread.
    static void Pump();
    // Clicks Start and carries out the window's messages until the run's thread has ended.
    void RunToEnd();
    // Chooses folder through the folder button.
    void ChooseFolder(const std::wstring& folder);

    static std::vector<std::wstring> LogLines();
    // The lines appended since the last call of MarkLog.
    std::vector<std::wstring> NewLogLines() const;
    void MarkLog() { logMark_ = LogLines().size(); }
    static bool LastLineInView();

    // Every PBM_ message the progress bar received, in order.
    static std::vector<ProgressMessage> progress;
    // Called on the window's thread with each position the progress bar is given.
    static std::function<void(WPARAM position)> onProgressPosition;
    // What the folder picker hands back.
    static std::wstring pickedFolder;

private:
    static LRESULT CALLBACK ObserveProgress(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    static WNDPROC progressProc_;
    size_t logMark_ = 0;
};

// Relative paths of every file below root, with backslashes.
std::set<std::wstring> ListFiles(const std::wstring& root);

// lines followed by more.
std::vector<std::wstring> Joined(std::vector<std::wstring> lines,
                                 const std::vector<std::wstring>& more);
