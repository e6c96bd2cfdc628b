// The log list and the progress bar during a run: drawn a few times a second with what the
// run has sent them, at once for what the user does, and at the run's end; and what that
// saves, as ratios measured in one run.
#include "window_fixture.h"

#include "commands.h"
#include "controls.h"
#include "test_support.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>

namespace {

// What the log list showed each time it drew itself.
struct Frame {
    int count;
    int top;
    bool lastLineInView;
    bool runAlive;
};

std::vector<Frame> g_frames;
WNDPROC g_listProc = nullptr;

LRESULT CALLBACK ObserveFrames(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT && IsWindowVisible(list)) {
        g_frames.push_back({static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0)),
                            static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0)),
                            MainWindowTest::LastLineInView(),
                            g_hRunThread && WaitForSingleObject(g_hRunThread, 0) == WAIT_TIMEOUT});
    }
    return CallWindowProcW(g_listProc, list, message, wParam, lParam);
}

DWORD WINAPI CallOnThread(LPVOID work) {
    (*static_cast<std::function<void()>*>(work))();
    return 0;
}

// Runs work on a thread of its own, as a run would, while this thread carries out the
// window's messages.
void OnWorker(std::function<void()> work) {
    HANDLE thread = CreateThread(nullptr, 0, CallOnThread, &work, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 1000, QS_ALLINPUT) != WAIT_OBJECT_0)
        MainWindowTest::Pump();
    CloseHandle(thread);
}

int ScrollPosition() {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_POS;
    GetScrollInfo(g_hLogList, SB_VERT, &info);
    return info.nPos;
}

class RedrawPace : public MainWindowTest {
public:
    void SetUp() override {
        MainWindowTest::SetUp();
        g_frames.clear();
        g_listProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            g_hLogList, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ObserveFrames)));
        Pump();
        g_frames.clear();
    }
    // What the Start command does to the window when it starts a run.
    static void AsIfRunning(bool running) {
        EnableWindow(GetDlgItem(g_hMainWnd, IDC_START), running ? FALSE : TRUE);
    }
    // Carries out messages until the list has drawn itself with count lines; false when
    // it never does.
    static bool PumpUntilDrawnWith(int count) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 10000) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            Pump();
            if (!g_frames.empty() && g_frames.back().count == count) return true;
        }
        return false;
    }
};

TEST_F(RedrawPace, DrawsARunAtTheScreensPaceAndOnceMoreAtItsEnd) {
    TempDir dir;
    const int total = 100;
    for (int i = 0; i < total; ++i)
        SaveTestImage(dir / (std::to_wstring(i) + L".png"), L"image/png");
    ChooseFolder(dir.path());
    g_frames.clear();
    MarkLog();
    RunToEnd();
    const size_t lines = NewLogLines().size();
    ASSERT_EQ(lines, static_cast<size_t>(total + 6));
    ASSERT_FALSE(g_frames.empty());
    // Drawn inside every line, the list would draw at least once per line.
    EXPECT_LT(g_frames.size() * 2, lines) << g_frames.size() << " frames for " << lines << " lines";
    for (const Frame& frame : g_frames) EXPECT_TRUE(frame.lastLineInView);
    // The last frame holds the last line, drawn before the run let go of Start.
    EXPECT_EQ(g_frames.back().count, static_cast<int>(LogLines().size()));
    EXPECT_TRUE(g_frames.back().runAlive);
    EXPECT_EQ(ScrollPosition(), SendMessageW(g_hLogList, LB_GETTOPINDEX, 0, 0));
    EXPECT_EQ(SendMessageW(g_hProgress, PBM_GETPOS, 0, 0), total);
    EXPECT_TRUE(IsWindowVisible(g_hLogList));
    EXPECT_TRUE(IsWindowVisible(g_hProgress));
}

TEST_F(RedrawPace, ShowsTheNewestLineAtTheNextPace) {
    AsIfRunning(true);
    const int added = 300;
    OnWorker([] {
        for (int i = 0; i < added; ++i) AppendLog(L"line " + std::to_wstring(i));
    });
    const int count = static_cast<int>(LogLines().size());
    // Nothing more is sent: the pace alone brings the last line to the screen.
    ASSERT_TRUE(PumpUntilDrawnWith(count));
    EXPECT_LT(g_frames.size() * 2, static_cast<size_t>(added));
    for (const Frame& frame : g_frames) EXPECT_TRUE(frame.lastLineInView);
    EXPECT_EQ(ScrollPosition(), SendMessageW(g_hLogList, LB_GETTOPINDEX, 0, 0));
    AsIfRunning(false);
}

TEST_F(RedrawPace, AnswersWhatTheUserDoesAtOnce) {
    struct Action {
        const char* name;
        std::function<void()> act;
    };
    const Action actions[] = {
        {"scroll bar to the top", [] { SendMessageW(g_hLogList, WM_VSCROLL, SB_TOP, 0); }},
        {"scroll bar one line down", [] { SendMessageW(g_hLogList, WM_VSCROLL, SB_LINEDOWN, 0); }},
        {"wheel up", [] { SendMessageW(g_hLogList, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0); }},
        {"window uncovered",
         [] { RedrawWindow(g_hMainWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN); }},
    };
    AsIfRunning(true);
    OnWorker([] {
        for (int i = 0; i < 100; ++i) AppendLog(L"line " + std::to_wstring(i));
    });
    ASSERT_TRUE(PumpUntilDrawnWith(static_cast<int>(LogLines().size())));
    for (const Action& action : actions) {
        g_frames.clear();
        action.act();
        Pump();
        ASSERT_FALSE(g_frames.empty()) << action.name << " drew nothing";
        EXPECT_EQ(g_frames.back().top, SendMessageW(g_hLogList, LB_GETTOPINDEX, 0, 0)) << action.name;
        EXPECT_EQ(ScrollPosition(), SendMessageW(g_hLogList, LB_GETTOPINDEX, 0, 0)) << action.name;
    }
    AsIfRunning(false);
}

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

using ConversionRunCost = RedrawPace;

// The same run over many small files, where the window's part is largest, with the window
// shown and minimised (a minimised window draws nothing). Other work loads this machine
// unevenly, so shown and minimised take turns every few files within each run, and the
// two runs over the same files start one shown and one minimised: every file is converted
// once in each state. A file's time runs from its progress position to the next one's; the
// first files after each switch carry the switch itself (a restored window draws all of
// itself) and are left out on both sides. Each shown block is compared with the minimised
// block next to it, and the median of those ratios is what a burst of load elsewhere moves
// least. Blocks are short, a third of a second or so, and many: another program's burst of
// work then lies within few pairs, and falls on both blocks of those alike, so the median
// stays with the pairs it did not touch. With blocks of seconds a burst took a third of
// the eight pairs there were, and moved the median with it.
TEST_F(ConversionRunCost, ShownCostsLittleMoreThanMinimised) {
    const int total = 400;
    const int block = 16;
    const int settling = 4;
    const int blocks = (total - 1) / block + 1;
    TempDir dir;
    for (int i = 0; i < total; ++i)
        SaveTestImage(dir / (L"image" + std::to_wstring(i) + L".png"), L"image/png", 32, 24);
    ChooseFolder(dir.path());
    SelectFormat(L"BMP");
    SetCheck(IDC_OVERWRITE, true);
    std::vector<double> ratios;
    double spent[2] = {};
    for (int firstMinimised : {0, 1}) {
        std::vector<double> blockTime(blocks);
        auto minimisedIn = [firstMinimised](int blockIndex) {
            return (blockIndex + firstMinimised) % 2;
        };
        Clock::time_point fileStart;
        onProgressPosition = [&](WPARAM position) {
            const int index = static_cast<int>(position) - 2;  // of the file that just ended
            if (index >= 0 && index / block < blocks && index % block >= settling)
                blockTime[index / block] += MillisecondsSince(fileStart);
            if (position >= 1 && position <= total && (position - 1) % block == 0)
                ShowWindow(g_hMainWnd,
                           minimisedIn(static_cast<int>(position - 1) / block) ? SW_MINIMIZE : SW_RESTORE);
            fileStart = Clock::now();
        };
        RunToEnd();
        onProgressPosition = nullptr;
        ASSERT_EQ(LogLines().back(), L"输出目录: " + dir / L"converted_images");
        for (int k = 0; k + 1 < blocks; k += 2) {
            const int shown = minimisedIn(k) ? k + 1 : k;
            const int minimised = minimisedIn(k) ? k : k + 1;
            ratios.push_back(blockTime[shown] / blockTime[minimised]);
            spent[0] += blockTime[shown];
            spent[1] += blockTime[minimised];
        }
    }
    ShowWindow(g_hMainWnd, SW_RESTORE);
    std::sort(ratios.begin(), ratios.end());
    const double ratio = ratios[ratios.size() / 2];
    std::cout << total << " files twice: shown " << spent[0] << " ms, minimised " << spent[1]
              << " ms; median of " << ratios.size() << " block ratios, shown / minimised "
              << ratio << " (from " << ratios.front() << " to " << ratios.back() << ")\n";
    // The goal is 1.15; 0.10 above it is the margin for the noise of a machine shared with
    // other work, where the drawing's processor time is taken from everyone's.
    EXPECT_LE(ratio, 1.15 + 0.10);
}

// The median time of one AppendLog from another thread into the shown list while a run is
// active, with the list holding about `lines` lines.
std::vector<double> LineTimes(int lines, int batch) {
    const int fill = lines - static_cast<int>(SendMessageW(g_hLogList, LB_GETCOUNT, 0, 0));
    // The filling lines are the test's, not the log's: added without drawing.
    SendMessageW(g_hLogList, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < fill; ++i)
        SendMessageW(g_hLogList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"✓ earlier\\line.png"));
    SendMessageW(g_hLogList, WM_SETREDRAW, TRUE, 0);
    std::vector<double> times;
    OnWorker([&times, batch] {
        for (int i = 0; i < batch; ++i) {
            const std::wstring line = L"✓ folder\\image" + std::to_wstring(i) + L".png";
            const Clock::time_point start = Clock::now();
            AppendLog(line);
            times.push_back(MillisecondsSince(start));
        }
    });
    return times;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The log's own cost per line does not grow with the log. Small and large lists take turns
// so that the machine's load falls on both alike; within a round the median of many single
// lines is what other processes' time slices disturb least, and the median over the rounds
// leaves out a round that a burst of load fell on. Filling a list to 100,000 lines costs this
// machine minutes, so that length is for the large run (VORANDEL_LARGE=1).
// Not in the suite: while other sessions loaded this machine its figure moved between 0.4
// and 2.5 from one run to the next. Run with
// --gtest_also_run_disabled_tests --gtest_filter=*LineCost*
TEST_F(RedrawPace, DISABLED_LineCostStaysFlatAsTheLogGrows) {
    const int longLog = LargeRun() ? 100000 : 20000;
    AsIfRunning(true);
    std::vector<double> small, large, ratios;
    for (int round = 0; round < 5; ++round) {
        SendMessageW(g_hLogList, LB_RESETCONTENT, 0, 0);
        const double atSmall = Median(LineTimes(1000, 100));
        const double atLarge = Median(LineTimes(longLog, 100));
        small.push_back(atSmall);
        large.push_back(atLarge);
        ratios.push_back(atLarge / atSmall);
    }
    AsIfRunning(false);
    const double ratio = Median(ratios);
    std::cout << "per line: " << Median(small) << " ms at 1,000 lines, " << Median(large)
              << " ms at " << longLog << " lines; median ratio " << ratio << "\n";
    EXPECT_LE(ratio, 1.10);
}

}  // namespace
