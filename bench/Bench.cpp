// Prints the install path's speed side by side in one run: the real dialog and worker against
// the bare chunked copy, the bare cross-thread message and CopyFileW; how fast the dialog
// answers posted input during the install; a sealed package against an unsealed one; the real wizard's first page with many packages
// against none; and peak memory of a small and a large install, and of the real wizard
// against a bare dialog program.
//
//   qb_bench.exe [--runs N] [--bin DIR] [--only copy,seal,answer,first,memory] [--seal-pairs N] [--seal-in-line]
//                                            the figures (DIR holds Quillbox.exe, dict_ver.dll);
//                                            --only picks figures 1-5 and 10 (copy), 10 alone (seal),
//                                            6 and 11 (first), 7 and 9 (memory), and/or 8 (answer);
//                                            --seal-pairs N: figure 10 takes N sealed and N unsealed
//                                            installs in turn; --seal-in-line adds as many of the
//                                            seal hashed on the worker
//   qb_bench.exe --plan RESULT               the plan's steps timed from this exe's folder (child)
//   qb_bench.exe --install RESULT            one real install from this exe's folder (child)
//   qb_bench.exe --install-floor RESULT      the same, after a message floor on the dialog's thread (child)
//   qb_bench.exe --install-answer RESULT     the same, with input posted and keys pressed (child)
//   qb_bench.exe --install-answer-no-turns RESULT   the same, the dialog never asking for a turn (child)
//   qb_bench.exe --install-hash-in-line RESULT      a sealed install hashed on the worker (child)
//   qb_bench.exe --step-split RESULT         where figure 5's ratio goes (child)
//
// Runs inside a private Wine session (scripts/bench.sh); it writes the host's registry values.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/MainDlg.h"
#include "app/WizardMessages.h"
#include "app/resource.h"
#include "base/ScopedWin.h"
#include "bench/BenchLayout.h"
#include "framework/AppModule.h"
#include "host/HostPaths.h"
#include "install/EntryHasher.h"
#include "install/InstallEngine.h"
#include "install/OutputFile.h"
#include "package/PackageFormat.h"
#include "package/PackageReader.h"
#include "package/PackageSeal.h"
#include "tests/support/TestSupport.h"

using namespace bench;

namespace {

constexpr uint32_t REAL_ENTRIES = 4;
constexpr uint32_t REAL_ENTRY_BYTES = 25 * MIB;
constexpr uint32_t SMALL_PLAN_BYTES = 1 * MIB;
constexpr uint32_t LARGE_PLAN_BYTES = 500 * MIB;
constexpr uint32_t FIRST_PAGE_PACKAGES = 500;
constexpr uint32_t FIRST_PAGE_ENTRIES = 10;
constexpr uint32_t FIRST_PAGE_ENTRY_BYTES = 512;
constexpr uint32_t SEED_REAL = 100;
constexpr uint32_t SEED_MEMORY = 7;
constexpr UINT WM_BENCH_PING = WM_APP + 1;
constexpr double FLOOR_TARGET = 1.05;  // install path against chunked copy + the floor on the dialog's thread
// Figure 10: installs of each kind; single pairs move by 10 % and more from one to the next,
// even on a quiet machine (docs/speed.md says how far the medians of runs agreed).
constexpr int SEALED_PAIRS = 20;
constexpr double SEALED_AGREEMENT = 0.03;  // the two halves' medians, one run against another
constexpr int SPLIT_ROUNDS = 15;
constexpr uint32_t SPLIT_SLICE = 2000;  // messages per slice
constexpr double FIRST_PAGE_GIVE_UP_S = 120.0;
constexpr DWORD CHILD_EXIT_WAIT_MS = 10000;
// Figure 8: a posted message stands for input (a click, a move of the window) every few ms.
constexpr UINT WM_BENCH_INPUT = WM_APP + 2;
constexpr DWORD INPUT_INTERVAL_MS = 5;
constexpr size_t INPUT_CAPACITY = 200000;  // far more than an install of minutes posts
constexpr double ANSWER_TARGET_P99_MS = 50.0;
// Real key presses (Esc, which the dialog ignores while it installs) through SendInput.
constexpr DWORD KEY_INTERVAL_MS = 20;
constexpr size_t KEY_CAPACITY = 50000;
constexpr double TURN_COST_TARGET = 1.03;  // installs with turns against the same without
constexpr int ANSWER_PAIRS_MIN = 3;
// Figure 11: the first page for one package of few and of ten times as many entries.
constexpr uint32_t LINEAR_FEW_ENTRIES = 4000;
constexpr uint32_t LINEAR_MANY_ENTRIES = 40000;
constexpr uint32_t LINEAR_ENTRY_BYTES = 16;
constexpr double LINEAR_TARGET = 12.0;
constexpr double SEALED_TARGET = 1.10;  // sealed install path against the unsealed one
constexpr double PAINT_WINDOW_S = 1.0;  // "repaints a second" is counted in every such window
constexpr double PAINT_WINDOW_STEP_S = 0.1;
constexpr double PAINT_TARGET_PER_S = 20.0;
constexpr size_t PAINT_CAPACITY = 100000;
// Figure 9.
constexpr double WIZARD_INSTALL_GIVE_UP_S = 1200.0;
constexpr DWORD WIZARD_POLL_MS = 50;
constexpr DWORD BARE_SETTLE_MS = 500;  // shown and painted
constexpr double BARE_TARGET_MB = 4.0;

struct WindowTraits {
    static HWND Invalid() { return nullptr; }
    static bool IsValid(HWND h) { return h != nullptr; }
    static void Close(HWND h) { ::DestroyWindow(h); }
};
using ScopedWindow = qb::ScopedResource<HWND, WindowTraits>;

double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MiB(double bytes) { return bytes / MIB; }

// User and kernel time of every thread of this process so far.
double ProcessorSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    const auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// ---- the real install path, in a child process of its own ----

qb::ScopedHandle g_worker;
WNDPROC g_barProc = nullptr;
std::vector<double> g_barPaints;  // when each repaint began
WNDPROC g_dialogProc = nullptr;
std::vector<double> g_inputPosted, g_inputAnswered;  // by the input's number
std::vector<double> g_keySent, g_keyAnswered;         // by the key press's number
size_t g_keysAnswered = 0;

// The dialog creates its worker with CreateThread as always; the benchmark keeps a handle
// to learn when it has ended.
HANDLE WINAPI CreateWatchedThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                  LPVOID param, DWORD flags, LPDWORD id) {
    HANDLE thread = ::CreateThread(security, stack, start, param, flags, id);
    HANDLE copy = nullptr;
    if (thread != nullptr &&
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        g_worker.reset(copy);
    return thread;
}

LRESULT CALLBACK CountBarPaints(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT && g_barPaints.size() < g_barPaints.capacity()) g_barPaints.push_back(Now());
    return CallWindowProcW(g_barProc, hwnd, msg, wParam, lParam);
}

// Outermost on the dialog: the time a posted input reaches the dialog's window procedure.
// Esc reaches the dialog as IDCANCEL from its keyboard handling; it is timed and kept from
// the dialog, so that a press that arrives on the finished page does not close it.
LRESULT CALLBACK TimeInput(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_BENCH_INPUT && wParam < g_inputAnswered.size()) g_inputAnswered[wParam] = Now();
    if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        if (g_keysAnswered < g_keyAnswered.size()) g_keyAnswered[g_keysAnswered++] = Now();
        return 0;
    }
    return CallWindowProcW(g_dialogProc, hwnd, msg, wParam, lParam);
}

void PressEscape() {
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = VK_ESCAPE;
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::ceil(fraction * values.size()));
    return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

struct PaintSpread {
    double lowestPerWindow = -1;  // repaints in the emptiest PAINT_WINDOW_S
    double longestGap = -1;       // seconds without a repaint, the install's start and end included
};

PaintSpread SpreadOf(const std::vector<double>& paints, double start, double end) {
    PaintSpread spread;
    double previous = start;
    for (double t : paints) {
        if (t < start || t > end) continue;
        spread.longestGap = std::max(spread.longestGap, t - previous);
        previous = t;
    }
    spread.longestGap = std::max(spread.longestGap, end - previous);
    for (double from = start; from + PAINT_WINDOW_S <= end; from += PAINT_WINDOW_STEP_S) {
        const double n = static_cast<double>(std::count_if(
            paints.begin(), paints.end(), [&](double t) { return t >= from && t < from + PAINT_WINDOW_S; }));
        if (spread.lowestPerWindow < 0 || n < spread.lowestPerWindow) spread.lowestPerWindow = n;
    }
    return spread;
}

void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

struct InstallRun {
    double seconds = -1;
    unsigned total = 0;
    int position = -1;
    int page = 0;
    long paints = 0;
    double peakBytes = 0;
    PaintSpread spread;
    long inputs = 0;  // figure 8 only: posted while the worker ran, and their answer times
    double answerMedian = -1, answerP99 = -1, answerMax = -1;
    long keys = 0;  // figure 8 only: key presses while the worker ran, and their answer times
    double keyMedian = -1, keyP99 = -1, keyMax = -1;
    double ownFloor = -1;  // figure 5: the steps' count to an empty handler on the dialog's thread
    double cpuSeconds = -1;  // the process's own processor time (every thread) during the install
};

// What a child install does besides the install.
struct ChildMode {
    bool postInput = false;  // figure 8: posted messages and key presses during the install
    bool turns = true;       // the dialog asks the worker for turns
    bool ownFloor = false;   // figure 5: the floor on the dialog's own thread, before the install
    bool hashInLine = false;  // figure 10: a sealed entry hashed on the worker itself
};

// What the wizard's entry point sets up around its dialog, for the children that run the
// real dialog in this process; torn down in the entry point's order.
struct WizardProcess {
    explicit WizardProcess(CMainDlg::ThreadCreator creator) {
        CoInitialize(nullptr);
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
        InitCommonControlsEx(&icc);
        g_appModule.Init(nullptr, GetModuleHandleW(nullptr));
        g_appModule.AddMessageLoop(&loop);
        CMainDlg::SetThreadCreatorForTesting(creator);
    }
    ~WizardProcess() {
        g_appModule.RemoveMessageLoop();
        g_appModule.Term();
        CoUninitialize();
    }
    WizardProcess(const WizardProcess&) = delete;
    WizardProcess& operator=(const WizardProcess&) = delete;
    CMessageLoop loop;
};

// As the program runs it: the dialog builds its plan while it initialises, is shown, the
// next button starts the worker, and the framework's loop runs until the worker has ended
// (after WM_WIZ_INSTALL_END has put up the finished page). With postInput, another thread
// posts a message to the dialog every INPUT_INTERVAL_MS while the worker runs.
HWND CreateFloorWindow();

int RunInstallChild(const std::wstring& resultPath, const ChildMode& mode) {
    const bool postInput = mode.postInput;
    InstallRun run;
    CMainDlg::SetTurnsForTesting(mode.turns);
    CEntryHasher::SetInLineForTesting(mode.hashInLine);
    {
        WizardProcess process(CreateWatchedThread);
        CMessageLoop& loop = process.loop;
        {
            CMainDlg dlg;
            if (dlg.Create(nullptr) != nullptr && dlg.GetPage() == WIZ_PAGE_WELCOME) {
                dlg.ShowWindow(SW_SHOWNORMAL);
                ::UpdateWindow(dlg.m_hWnd);
                PumpPending();
                HWND bar = dlg.GetDlgItem(IDC_PRG_MAINDLG_PROGRESS);
                g_barPaints.reserve(PAINT_CAPACITY);
                g_barProc = reinterpret_cast<WNDPROC>(
                    SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountBarPaints)));
                const DWORD mainThread = GetCurrentThreadId();
                if (mode.ownFloor) {
                    // The steps' count of messages to an empty handler of this thread, which
                    // owns the dialog, answered from the framework's loop as the steps are.
                    ScopedWindow own(CreateFloorWindow());
                    const uint32_t count = dlg.GetInstallManager().GetProgressTotal();
                    std::thread sender([&] {
                        const double start = Now();
                        for (uint32_t i = 0; i < count; ++i) SendMessageW(own.get(), WM_BENCH_PING, 0, 0);
                        run.ownFloor = Now() - start;
                        PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
                    });
                    loop.Run();
                    sender.join();
                }
                if (postInput) {
                    g_inputPosted.assign(INPUT_CAPACITY, 0);
                    g_inputAnswered.assign(INPUT_CAPACITY, 0);
                    g_keySent.assign(KEY_CAPACITY, 0);
                    g_keyAnswered.assign(KEY_CAPACITY, 0);
                    SetForegroundWindow(dlg.m_hWnd);
                    g_dialogProc = reinterpret_cast<WNDPROC>(
                        SetWindowLongPtrW(dlg.m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimeInput)));
                }

                const HWND dialog = dlg.m_hWnd;
                double end = 0, cpuEnd = -1;
                const double cpuStart = ProcessorSeconds();
                size_t posted = 0, pressed = 0;
                std::atomic<bool> workerRuns{true};
                const double start = Now();
                dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED),
                                reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_BTN_MAINDLG_NEXT)));
                std::thread poster([&] {
                    for (; postInput && workerRuns && posted < INPUT_CAPACITY; ++posted) {
                        g_inputPosted[posted] = Now();
                        PostMessageW(dialog, WM_BENCH_INPUT, posted, 0);
                        Sleep(INPUT_INTERVAL_MS);
                    }
                });
                std::thread presser([&] {
                    for (; postInput && workerRuns && pressed < KEY_CAPACITY; ++pressed) {
                        g_keySent[pressed] = Now();
                        PressEscape();
                        Sleep(KEY_INTERVAL_MS);
                    }
                });
                std::thread watcher([&] {
                    if (g_worker) WaitForSingleObject(g_worker.get(), INFINITE);
                    end = Now();
                    cpuEnd = ProcessorSeconds();
                    workerRuns = false;
                    poster.join();
                    presser.join();
                    // Posted after the last input, so every input is answered before the loop ends.
                    PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
                });
                loop.Run();
                watcher.join();

                run.seconds = end - start;
                if (cpuStart >= 0 && cpuEnd >= 0) run.cpuSeconds = cpuEnd - cpuStart;
                run.paints = static_cast<long>(g_barPaints.size());
                run.spread = SpreadOf(g_barPaints, start, end);
                std::vector<double> answers;
                for (size_t i = 0; i < posted; ++i)
                    if (g_inputPosted[i] < end && g_inputAnswered[i] > 0)
                        answers.push_back((g_inputAnswered[i] - g_inputPosted[i]) * 1000.0);
                run.inputs = static_cast<long>(answers.size());
                run.answerMedian = Percentile(answers, 0.5);
                run.answerP99 = Percentile(answers, 0.99);
                run.answerMax = Percentile(answers, 1.0);
                std::vector<double> keyAnswers;
                for (size_t i = 0; i < pressed && i < g_keysAnswered; ++i)
                    if (g_keySent[i] < end) keyAnswers.push_back((g_keyAnswered[i] - g_keySent[i]) * 1000.0);
                run.keys = static_cast<long>(keyAnswers.size());
                run.keyMedian = Percentile(keyAnswers, 0.5);
                run.keyP99 = Percentile(keyAnswers, 0.99);
                run.keyMax = Percentile(keyAnswers, 1.0);
                if (postInput) SetWindowLongPtrW(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_dialogProc));
                run.position = static_cast<int>(::SendMessageW(bar, PBM_GETPOS, 0, 0));
                run.total = dlg.GetInstallManager().GetProgressTotal();
                run.page = dlg.GetPage();
                SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_barProc));
                dlg.DestroyWindow();
            }
        }
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
            run.peakBytes = static_cast<double>(counters.PeakWorkingSetSize);
    }

    FILE* out = _wfopen(resultPath.c_str(), L"w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%.6f %u %d %d %ld %.0f %.0f %.6f %ld %.3f %.3f %.3f %ld %.3f %.3f %.3f %.6f %.6f\n", run.seconds,
                 run.total, run.position, run.page, run.paints, run.peakBytes, run.spread.lowestPerWindow,
                 run.spread.longestGap, run.inputs, run.answerMedian, run.answerP99, run.answerMax, run.keys,
                 run.keyMedian, run.keyP99, run.keyMax, run.ownFloor, run.cpuSeconds);
    std::fclose(out);
    return run.seconds >= 0 ? 0 : 1;
}

// The dialog's installing page without a worker: the benchmark sends the worker's messages.
HANDLE WINAPI NoWorker(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

// Where figure 5's ratio goes, in slices that take turns so that a changing load falls on all
// alike: WM_WIZ_STEP to the real dialog on its installing page (visible bar), an empty handler
// on a message-only window of the dialog's own thread, and one on a thread without windows
// (figure 3's floor). Writes the median of the rounds' ratios step/own thread, own
// thread/windowless thread.
int RunStepSplitChild(const std::wstring& resultPath) {
    std::vector<double> stepRatios, threadRatios;
    bool installing = false;
    {
        WizardProcess process(NoWorker);
        CMessageLoop& loop = process.loop;
        CMainDlg dlg;
        if (dlg.Create(nullptr) != nullptr) {
            dlg.ShowWindow(SW_SHOWNORMAL);
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED), 0);
            dlg.SendMessage(WM_WIZ_INSTALL_BEGIN);
            ::UpdateWindow(dlg.m_hWnd);
            PumpPending();
            installing = dlg.GetPage() == WIZ_PAGE_INSTALLING &&
                         IsWindowVisible(dlg.GetDlgItem(IDC_PRG_MAINDLG_PROGRESS));
        }
        ScopedWindow ownThread(CreateFloorWindow());
        std::atomic<HWND> windowless{nullptr};
        std::atomic<DWORD> windowlessThread{0};
        std::thread other([&] {
            ScopedWindow window(CreateFloorWindow());
            windowless = window.get();
            windowlessThread = GetCurrentThreadId();
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
        });
        while (windowlessThread == 0) Sleep(1);
        const DWORD mainThread = GetCurrentThreadId();
        std::thread sender([&] {
            const HWND targets[3] = {dlg.m_hWnd, ownThread.get(), windowless};
            const UINT messages[3] = {WM_WIZ_STEP, WM_BENCH_PING, WM_BENCH_PING};
            for (int round = 0; installing && round < SPLIT_ROUNDS; ++round) {
                double seconds[3];
                for (int i = 0; i < 3; ++i) {
                    const double start = Now();
                    for (uint32_t n = 0; n < SPLIT_SLICE; ++n) SendMessageW(targets[i], messages[i], 0, 0);
                    seconds[i] = Now() - start;
                }
                stepRatios.push_back(seconds[0] / seconds[1]);
                threadRatios.push_back(seconds[1] / seconds[2]);
            }
            PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
        });
        loop.Run();
        sender.join();
        PostThreadMessageW(windowlessThread, WM_QUIT, 0, 0);
        other.join();
        dlg.SendMessage(WM_WIZ_INSTALL_END);
        dlg.DestroyWindow();
    }

    FILE* out = _wfopen(resultPath.c_str(), L"w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%.4f %.4f\n", Median(stepRatios), Median(threadRatios));
    std::fclose(out);
    return installing ? 0 : 1;
}

// Where the first page's time goes: the plan's three steps, timed in a process that lies
// in the wizard's folder as Quillbox.exe would.
int RunPlanChild(const std::wstring& resultPath) {
    CInstallManager manager;
    const double t0 = Now();
    const bool host = CheckHostEnvironment();
    const double t1 = Now();
    const bool packages = manager.ScanPackages();
    const double t2 = Now();
    const bool installed = manager.ScanInstalled();
    const double t3 = Now();
    const bool decided = manager.DecideActions(manager.Packages(), manager.Installed());
    const double t4 = Now();
    FILE* out = _wfopen(resultPath.c_str(), L"w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%.6f %.6f %.6f %.6f\n", t1 - t0, t2 - t1, t3 - t2, t4 - t3);
    std::fclose(out);
    return host && packages && installed && decided ? 0 : 1;
}

// Starts `exe MODE RESULT` in the exe's folder and waits for it to end.
bool RunChild(const std::wstring& exe, const wchar_t* mode, const std::wstring& resultPath) {
    DeleteFileW(resultPath.c_str());
    std::wstring commandLine = L"\"" + exe + L"\" " + mode + L" \"" + resultPath + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, DirOf(exe).c_str(),
                        &startup, &info))
        return false;
    qb::ScopedHandle process(info.hProcess);
    qb::ScopedHandle thread(info.hThread);
    // The longest child, the 500 MB install, takes well under a minute natively and a few emulated.
    if (WaitForSingleObject(process.get(), 15 * 60 * 1000) != WAIT_OBJECT_0) {
        fwprintf(stderr, L"bench: %ls %ls did not end within 15 minutes\n", exe.c_str(), mode);
        TerminateProcess(process.get(), 1);
        return false;
    }
    return true;
}

const wchar_t* ChildArgument(const ChildMode& mode) {
    if (mode.postInput) return mode.turns ? L"--install-answer" : L"--install-answer-no-turns";
    if (mode.ownFloor) return L"--install-floor";
    return mode.hashInLine ? L"--install-hash-in-line" : L"--install";
}

bool RunInstallProcess(const std::wstring& exe, const std::wstring& resultPath, InstallRun& run,
                       const ChildMode& mode = ChildMode{}) {
    if (!RunChild(exe, ChildArgument(mode), resultPath)) return false;
    FILE* in = _wfopen(resultPath.c_str(), L"r");
    if (in == nullptr) return false;
    const int fields = std::fscanf(in, "%lf %u %d %d %ld %lf %lf %lf %ld %lf %lf %lf %ld %lf %lf %lf %lf %lf", &run.seconds,
                                   &run.total, &run.position, &run.page, &run.paints, &run.peakBytes,
                                   &run.spread.lowestPerWindow, &run.spread.longestGap, &run.inputs, &run.answerMedian,
                                   &run.answerP99, &run.answerMax, &run.keys, &run.keyMedian, &run.keyP99,
                                   &run.keyMax, &run.ownFloor, &run.cpuSeconds);
    std::fclose(in);
    return fields == 18 && run.seconds >= 0 && run.page == WIZ_PAGE_FINISHED &&
           run.position == static_cast<int>(run.total);
}

// ---- the parts on their own ----

// The same reader and output file as the install, chunk by chunk, without any message.
double ChunkedCopy(const std::wstring& package, const std::wstring& outDir) {
    EmptyDir(outDir);
    const double start = Now();
    CPackageReader reader;
    if (!reader.Open(package.c_str())) return -1;
    char chunk[CHUNK_SIZE] = {};
    for (uint32_t i = 0; i < reader.records().size(); ++i) {
        if (!reader.SeekToEntry(i)) return -1;
        COutputFile output;
        if (!output.Open((outDir + L"\\e" + std::to_wstring(i) + L".dic").c_str())) return -1;
        int result = 0;
        bool written = true;
        do {
            uint32_t count = CHUNK_SIZE;
            result = reader.ReadChunk(i, chunk, count);
            written = output.Write(chunk, count);
        } while (result == 1 && written);
        if (!output.Commit() || result != 0 || !written) return -1;
    }
    return Now() - start;
}

LRESULT CALLBACK FloorProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_BENCH_PING) return 1;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreateFloorWindow() {
    static const wchar_t className[] = L"QuillboxBenchFloor";
    static const ATOM registered = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = FloorProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        return RegisterClassW(&wc);
    }();
    if (registered == 0) return nullptr;
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// count cross-thread SendMessageW calls to a handler that does nothing, answered by a thread
// waiting in GetMessageW as the wizard's loop does; returns the seconds they took.
double MessageFloor(uint32_t count) {
    ScopedWindow window(CreateFloorWindow());
    if (!window) return -1;
    const DWORD mainThread = GetCurrentThreadId();
    double start = 0, end = 0;
    std::thread sender([&] {
        start = Now();
        for (uint32_t i = 0; i < count; ++i) SendMessageW(window.get(), WM_BENCH_PING, 0, 0);
        end = Now();
        PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
    });
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    sender.join();
    return end - start;
}

double CopyWhole(const std::wstring& from, const std::wstring& to) {
    DeleteFileW(to.c_str());
    const double start = Now();
    const bool copied = CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
    const double seconds = Now() - start;
    DeleteFileW(to.c_str());
    return copied ? seconds : -1;
}

double FileBytes(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<double>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

// ---- the real wizard's first page ----

// The wizard's dialog, or with wizard false any dialog, of the process once it is visible.
HWND FindVisibleDialog(DWORD processId, bool wizard = true) {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId && (!wizard || GetDlgItem(w, IDC_STC_MAINDLG_TIPINFO) != nullptr) &&
            IsWindowVisible(w))
            return w;
    }
    return nullptr;
}

// Seconds from CreateProcessW to the wizard's dialog being visible; -1 if it never shows.
double TimeToFirstPage(const std::wstring& wizardExe) {
    std::wstring commandLine = L"\"" + wizardExe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    const double start = Now();
    if (!CreateProcessW(wizardExe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        DirOf(wizardExe).c_str(), &startup, &info))
        return -1;
    qb::ScopedHandle process(info.hProcess);
    qb::ScopedHandle thread(info.hThread);
    HWND dialog = nullptr;
    double seconds = -1;
    while (Now() - start < FIRST_PAGE_GIVE_UP_S) {
        dialog = FindVisibleDialog(info.dwProcessId);
        if (dialog != nullptr) {
            seconds = Now() - start;
            break;
        }
        if (WaitForSingleObject(process.get(), 1) == WAIT_OBJECT_0) break;
    }
    if (dialog != nullptr) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(process.get(), CHILD_EXIT_WAIT_MS) == WAIT_TIMEOUT) {
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), CHILD_EXIT_WAIT_MS);
    }
    return seconds;
}

// ---- the real wizard's memory against a bare dialog program ----

struct ShownProgram {
    qb::ScopedHandle process;
    HWND dialog = nullptr;
};

// Starts exe in its folder and waits until its dialog is visible.
bool StartShown(const std::wstring& exe, bool wizard, ShownProgram& shown, const wchar_t* arguments = L"") {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, DirOf(exe).c_str(),
                        &startup, &info))
        return false;
    shown.process.reset(info.hProcess);
    qb::ScopedHandle thread(info.hThread);
    const double start = Now();
    while (Now() - start < FIRST_PAGE_GIVE_UP_S) {
        shown.dialog = FindVisibleDialog(info.dwProcessId, wizard);
        if (shown.dialog != nullptr) return true;
        if (WaitForSingleObject(shown.process.get(), 1) == WAIT_OBJECT_0) break;
    }
    return false;
}

// Esc: both programs close on it (the wizard on every page but the installing one).
void CloseShown(ShownProgram& shown) {
    if (shown.dialog != nullptr) PostMessageW(shown.dialog, WM_COMMAND, IDCANCEL, 0);
    if (shown.process && WaitForSingleObject(shown.process.get(), CHILD_EXIT_WAIT_MS) == WAIT_TIMEOUT) {
        TerminateProcess(shown.process.get(), 0);
        WaitForSingleObject(shown.process.get(), CHILD_EXIT_WAIT_MS);
    }
}

// Read while the process lives: afterwards Wine reports nothing.
double PeakWorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters) ? static_cast<double>(counters.PeakWorkingSetSize)
                                                                      : -1;
}

struct WizardMemory {
    double welcome = -1;  // peak working set on the welcome page, before the install
    double peak = -1;     // on the finished page
    double seconds = -1;  // from the next button to the finished page
};

// The shipped wizard through a whole install as a user runs it: shown, the next button, the
// finished page.
WizardMemory WizardInstallPeak(const std::wstring& wizardExe) {
    ShownProgram wizard;
    WizardMemory memory;
    if (StartShown(wizardExe, true, wizard)) {
        Sleep(BARE_SETTLE_MS);
        memory.welcome = PeakWorkingSet(wizard.process.get());
        HWND next = GetDlgItem(wizard.dialog, IDC_BTN_MAINDLG_NEXT);
        HWND check = GetDlgItem(wizard.dialog, IDC_CHK_MAINDLG_LAUNCH);
        const double start = Now();
        PostMessageW(wizard.dialog, WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED),
                     reinterpret_cast<LPARAM>(next));
        while (!IsWindowVisible(check) && Now() - start < WIZARD_INSTALL_GIVE_UP_S &&
               WaitForSingleObject(wizard.process.get(), WIZARD_POLL_MS) == WAIT_TIMEOUT) {
        }
        memory.seconds = Now() - start;
        if (IsWindowVisible(check)) memory.peak = PeakWorkingSet(wizard.process.get());
    }
    CloseShown(wizard);
    return memory;
}

double BareDialogPeak(const std::wstring& bareExe, const wchar_t* arguments) {
    ShownProgram bare;
    double peak = -1;
    if (StartShown(bareExe, false, bare, arguments)) {
        Sleep(BARE_SETTLE_MS);
        peak = PeakWorkingSet(bare.process.get());
    }
    CloseShown(bare);
    return peak;
}

struct Machine {
    std::wstring wizardDir, hostDir;
};

std::wstring FirstPageId(uint32_t n) {
    wchar_t id[16];
    swprintf(id, 16, L"d%05u", n);
    return id;
}

// The wizard as shipped; with packages, 500 of 10 entries each; with installed files, one
// per entry name, so every entry is compared by date (half are newer in the package).
bool LayOutFirstPage(const Machine& machine, const std::wstring& binDir, bool packages, bool installed) {
    if (!test::MakeDirs(machine.wizardDir) || !MakeHost(machine.hostDir)) return false;
    if (!CopyFileW((binDir + L"Quillbox.exe").c_str(), (machine.wizardDir + L"\\Quillbox.exe").c_str(), FALSE) ||
        !CopyFileW((binDir + L"dict_ver.dll").c_str(), (machine.wizardDir + L"\\dict_ver.dll").c_str(), FALSE))
        return false;
    const std::wstring dictData = DictDataDir(machine.hostDir);
    const std::string content(64, '\0');
    for (uint32_t n = 0; installed && n < FIRST_PAGE_PACKAGES * FIRST_PAGE_ENTRIES; ++n) {
        if (!test::WriteFileBytes(dictData + L"\\" + FirstPageId(n) + L".dic", content)) return false;
    }
    for (uint32_t p = 0; packages && p < FIRST_PAGE_PACKAGES; ++p) {
        std::vector<BenchEntry> entries;
        for (uint32_t e = 0; e < FIRST_PAGE_ENTRIES; ++e) {
            const uint32_t n = p * FIRST_PAGE_ENTRIES + e;
            entries.push_back({FirstPageId(n), n % 2 ? L"2099-01-01" : L"2000-01-01", FIRST_PAGE_ENTRY_BYTES});
        }
        wchar_t name[16];
        swprintf(name, 16, L"p%03u.dir", p);
        if (!WritePackage(machine.wizardDir + L"\\" + name, entries, p)) return false;
    }
    return true;
}

// ---- the report ----

void Fail(const char* what) {
    std::printf("benchmark failed: %s\n", what);
    std::fflush(stdout);
    UnregisterHost();
    std::exit(1);
}

const char* Verdict(bool held) { return held ? "holds" : "MISSED"; }

struct Selection {
    bool copy = true;    // figures 1 to 5
    bool seal = true;    // figure 10
    int sealPairs = SEALED_PAIRS;
    bool sealInLine = false;  // figure 10 also for the seal hashed on the worker
    bool answer = true;  // figure 8
    bool first = true;   // figure 6
    bool memory = true;  // figures 7 and 9
};

// Appends a seal to a package file: every entry hashed as the wizard hashes it.
bool SealPackageFile(const std::wstring& path) {
    std::vector<EntryDigest> digests;
    std::string seal;
    {
        CPackageReader reader;
        if (!reader.Open(path.c_str())) return false;
        std::vector<char> chunk(CHUNK_SIZE);
        for (uint32_t i = 0; i < reader.records().size(); ++i) {
            if (!reader.SeekToEntry(i)) return false;
            CSha256 hash;
            int result = 0;
            do {
                uint32_t count = CHUNK_SIZE;
                result = reader.ReadChunk(i, chunk.data(), count);
                hash.Update(chunk.data(), count);
            } while (result == 1);
            digests.emplace_back();
            if (result != 0 || !hash.Finish(digests.back())) return false;
        }
        seal = BuildPackageSeal(reader.header(), reader.records(), digests);
    }
    FILE* out = _wfopen(path.c_str(), L"ab");
    if (out == nullptr) return false;
    const bool written = std::fwrite(seal.data(), 1, seal.size(), out) == seal.size();
    return std::fclose(out) == 0 && written;
}

// The session says how 32-bit code runs under it. Under qemu-i386 every instruction is translated:
// absolute figures then say little of Windows, and only ratios of two paths that are both
// emulated carry over.
void PrintPlatform() {
    wchar_t how[256] = L"";
    const DWORD got = GetEnvironmentVariableW(L"QUILLBOX_32BIT", how, 256);
    if (got == 0 || got >= 256) {
        std::printf("32-bit code: not said (run through scripts/bench.sh to know)\n");
    } else if (wcsncmp(how, L"qemu", 4) == 0) {
        std::printf("32-bit code: EMULATED by %ls\n"
                    "  absolute figures are not comparable with a native run; only ratios of two emulated paths carry\n",
                    how);
    } else {
        std::printf("32-bit code: %ls\n", how);
    }
}

// How far the pairs' ratios spread, and whether the median holds still: the medians of the
// first and of the second half of the pairs stand for two runs of half as many.
void PrintPairSpread(const std::vector<double>& ratios) {
    if (ratios.empty()) return;
    const size_t half = ratios.size() / 2;
    const double first = Median(std::vector<double>(ratios.begin(), ratios.begin() + half));
    const double second = Median(std::vector<double>(ratios.begin() + half, ratios.end()));
    std::printf("    pairs from %.3f to %.3f, the middle half from %.3f to %.3f;  medians of the first and second half %.3f and %.3f (%s within %.2f)\n",
                Percentile(ratios, 0.0), Percentile(ratios, 1.0), Percentile(ratios, 0.25), Percentile(ratios, 0.75),
                first, second, std::fabs(first - second) <= SEALED_AGREEMENT ? "agree" : "DO NOT agree",
                SEALED_AGREEMENT);
}

int RunBenchmark(int runs, std::wstring binDir, Selection only) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"qb-bench-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring self = ExePath();
    if (binDir.empty()) binDir = DirOf(self) + L"..\\bin\\";
    if (binDir.back() != L'\\') binDir += L'\\';

    std::printf("Quillbox speed: median of %d runs, MB = 2^20 bytes\n", runs);
    PrintPlatform();
    std::printf("laying out %ls ...\n", root.c_str());
    std::fflush(stdout);

    // Figures 1 to 5: one package of 100 MB in a few entries.
    const std::wstring hostDir = root + L"\\host";
    const std::wstring realDir = root + L"\\real";
    const std::wstring realExe = realDir + L"\\qb_bench.exe";
    const std::wstring realPackage = realDir + L"\\big.dir";
    const std::wstring copyDir = root + L"\\copy";
    const std::wstring result = root + L"\\result.txt";
    std::vector<BenchEntry> realEntries;
    for (uint32_t i = 0; i < REAL_ENTRIES; ++i) realEntries.push_back({L"big" + std::to_wstring(i), L"", REAL_ENTRY_BYTES});
    if (!MakeHost(hostDir) || !test::MakeDirs(realDir) || !test::MakeDirs(copyDir) ||
        !CopyFileW(self.c_str(), realExe.c_str(), FALSE) || !WritePackage(realPackage, realEntries, SEED_REAL))
        Fail("cannot lay out the 100 MB install");
    if (!RegisterHost(hostDir)) Fail("cannot write the host's registry values");
    // Figure 10: the same package sealed, beside its own copy of the program.
    const std::wstring sealedDir = root + L"\\sealed";
    const std::wstring sealedExe = sealedDir + L"\\qb_bench.exe";
    if (only.seal && (!test::MakeDirs(sealedDir) || !CopyFileW(self.c_str(), sealedExe.c_str(), FALSE) ||
                      !CopyFileW(realPackage.c_str(), (sealedDir + L"\\big.dir").c_str(), FALSE) ||
                      !SealPackageFile(sealedDir + L"\\big.dir")))
        Fail("cannot lay out the sealed install");
    const double planBytes = double{REAL_ENTRIES} * REAL_ENTRY_BYTES;
    const uint32_t steps = REAL_ENTRIES * (REAL_ENTRY_BYTES / CHUNK_SIZE);
    const double packageBytes = FileBytes(realPackage);

    std::vector<double> real, chunked, floor, whole, paintRates, floorRatios, ownFloors;
    std::vector<double> sealRatios[2];  // with the hashing thread (shipped), hashed on the worker
    std::vector<double> sealCpuRatios[2];  // the same pairs' processor time
    std::vector<double> answerMedians, answerP99s, answerMaxes, answerPaintRates, answerLowestPaints, answerPaintGaps;
    std::vector<double> keyMedians, keyP99s, keyMaxes, turnRatios;
    std::vector<double> plainMedians, plainP99s, plainMaxes, plainKeyP99s;  // the same without turns
    long answerInputs = 0, answerKeys = 0;
    // In pairs, with turns and without, taking turns at going first.
    for (int round = 0; only.answer && round < std::max(runs, ANSWER_PAIRS_MIN); ++round) {
        double seconds[2] = {};
        for (int k = 0; k < 2; ++k) {
            const bool turns = (round + k) % 2 == 0;
            EmptyDir(DictDataDir(hostDir));
            InstallRun run;
            if (!RunInstallProcess(realExe, result, run, ChildMode{true, turns})) Fail("install with posted input");
            seconds[turns ? 1 : 0] = run.seconds;
            std::printf("  round %d with posted input and key presses, %s: install %.2f s, %ld inputs answered in "
                        "median %.2f ms, p99 %.2f ms, max %.2f ms; %ld keys in median %.2f ms, p99 %.2f ms, max %.2f ms; "
                        "bar %ld repaints, at least %.0f in every %.0f s, longest gap %.0f ms\n",
                        round + 1, turns ? "with turns" : "without turns", run.seconds, run.inputs, run.answerMedian,
                        run.answerP99, run.answerMax, run.keys, run.keyMedian, run.keyP99, run.keyMax, run.paints,
                        run.spread.lowestPerWindow, PAINT_WINDOW_S, run.spread.longestGap * 1000.0);
            std::fflush(stdout);
            if (!turns) {
                plainMedians.push_back(run.answerMedian);
                plainP99s.push_back(run.answerP99);
                plainMaxes.push_back(run.answerMax);
                plainKeyP99s.push_back(run.keyP99);
                continue;
            }
            answerMedians.push_back(run.answerMedian);
            answerP99s.push_back(run.answerP99);
            answerMaxes.push_back(run.answerMax);
            keyMedians.push_back(run.keyMedian);
            keyP99s.push_back(run.keyP99);
            keyMaxes.push_back(run.keyMax);
            answerPaintRates.push_back(run.paints / run.seconds);
            answerLowestPaints.push_back(run.spread.lowestPerWindow);
            answerPaintGaps.push_back(run.spread.longestGap);
            answerInputs = run.inputs;
            answerKeys = run.keys;
        }
        turnRatios.push_back(seconds[1] / seconds[0]);
    }
    for (int round = 0; only.copy && round < runs; ++round) {
        const double c = ChunkedCopy(realPackage, copyDir);
        if (c < 0) Fail("chunked copy");
        chunked.push_back(c);
        const double w = CopyWhole(realPackage, copyDir + L"\\whole.dir");
        if (w < 0) Fail("CopyFileW");
        whole.push_back(w);
        const double f = MessageFloor(steps);
        if (f < 0) Fail("message floor");
        floor.push_back(f);
        EmptyDir(DictDataDir(hostDir));
        InstallRun run;
        if (!RunInstallProcess(realExe, result, run, ChildMode{false, true, true}) || run.ownFloor < 0)
            Fail("real install (not finished, or the bar not at its total)");
        if (run.total != steps) Fail("real install: unexpected progress total");
        if (round == 0) {
            for (uint32_t i = 0; i < REAL_ENTRIES; ++i)
                if (!EntryMatches(DictDataDir(hostDir) + L"\\big" + std::to_wstring(i) + L".dic", REAL_ENTRY_BYTES,
                                  SEED_REAL, i))
                    Fail("real install: an installed file differs from its entry");
        }
        real.push_back(run.seconds);
        paintRates.push_back(run.paints / run.seconds);
        // Paired within the round, the floor taken on both sides of the install: the load on a
        // shared machine changes from minute to minute.
        const double after = MessageFloor(steps);
        if (after < 0) Fail("message floor");
        floor.push_back(after);
        floorRatios.push_back(run.seconds / (c + run.ownFloor));
        ownFloors.push_back(run.ownFloor);
        std::printf("  round %d: install %.2f s, chunked copy %.3f s, messages %.2f s before and %.2f s after, "
                    "on the dialog's own thread %.2f s, CopyFileW %.3f s\n", round + 1, run.seconds, c, f, after,
                    run.ownFloor, w);
        std::fflush(stdout);
    }
    // Figure 10: sealed and unsealed installs in turn, and the ratio of every two neighbours, so
    // that the pairs take turns at going first (the second of two installs in a row is a few per
    // cent slower on its own) and each install but the first and last counts in two pairs. The
    // shipped seal's installs first, then, if asked, those of the seal hashed on the worker.
    for (int inLine = 0; only.seal && inLine <= (only.sealInLine ? 1 : 0); ++inLine) {
        double previous = -1, previousCpu = -1;
        for (int turn = 0; turn < 2 * only.sealPairs; ++turn) {
            const bool sealed = turn % 2 == 0;
            EmptyDir(DictDataDir(hostDir));
            InstallRun run;
            if (!RunInstallProcess(sealed ? sealedExe : realExe, result, run, ChildMode{false, true, false, sealed && inLine}))
                Fail("sealed or unsealed install");
            if (sealed && turn == 0 && !EntryMatches(DictDataDir(hostDir) + L"\\big0.dic", REAL_ENTRY_BYTES, SEED_REAL, 0))
                Fail("sealed install: an installed file differs from its entry");
            std::printf("  %s %.2f s (processor %.2f s)", sealed ? (inLine ? "sealed, hashed on the worker" : "sealed") : "unsealed",
                        run.seconds, run.cpuSeconds);
            if (previous > 0) {
                const double ratio = sealed ? run.seconds / previous : previous / run.seconds;
                sealRatios[inLine].push_back(ratio);
                sealCpuRatios[inLine].push_back(sealed ? run.cpuSeconds / previousCpu : previousCpu / run.cpuSeconds);
                std::printf(", sealed against unsealed with the one before %.3f (processor %.3f)", ratio,
                            sealCpuRatios[inLine].back());
            }
            std::printf("\n");
            std::fflush(stdout);
            previous = run.seconds;
            previousCpu = run.cpuSeconds;
        }
    }
    double split[2] = {-1, -1};
    if (only.copy && RunChild(realExe, L"--step-split", result)) {
        if (FILE* in = _wfopen(result.c_str(), L"r")) {
            if (std::fscanf(in, "%lf %lf", &split[0], &split[1]) != 2) split[0] = -1;
            std::fclose(in);
        }
    }
    EmptyDir(copyDir);
    EmptyDir(DictDataDir(hostDir));

    // Figure 6: the real wizard's first page.
    // "none" is the same host without any package; "bare" has no installed file either.
    const Machine many = {root + L"\\many\\wizard", root + L"\\many\\host"};
    const Machine none = {root + L"\\none\\wizard", root + L"\\none\\host"};
    const Machine bare = {root + L"\\bare\\wizard", root + L"\\bare\\host"};
    if (only.first && (!LayOutFirstPage(many, binDir, true, true) || !LayOutFirstPage(none, binDir, false, true) ||
                       !LayOutFirstPage(bare, binDir, false, false)))
        Fail("cannot lay out the first-page machines (is --bin right?)");
    std::vector<double> firstMany, firstNone, firstBare;
    const Machine* machines[3] = {&many, &none, &bare};
    std::vector<double>* firsts[3] = {&firstMany, &firstNone, &firstBare};
    for (int round = -1; only.first && round < runs; ++round) {  // round -1 warms Wine up
        for (int i = 0; i < 3; ++i) {
            RegisterHost(machines[i]->hostDir);
            const double seconds = TimeToFirstPage(machines[i]->wizardDir + L"\\Quillbox.exe");
            if (seconds < 0) Fail("the wizard's first page never showed");
            if (round >= 0) firsts[i]->push_back(seconds);
        }
    }
    // Where the time goes, from a process in the same folder.
    double planSteps[4] = {-1, -1, -1, -1};
    const std::wstring planExe = many.wizardDir + L"\\qb_bench.exe";
    RegisterHost(many.hostDir);
    if (only.first && CopyFileW(self.c_str(), planExe.c_str(), FALSE) && RunChild(planExe, L"--plan", result)) {
        if (FILE* in = _wfopen(result.c_str(), L"r")) {
            if (std::fscanf(in, "%lf %lf %lf %lf", &planSteps[0], &planSteps[1], &planSteps[2], &planSteps[3]) != 4)
                planSteps[0] = -1;
            std::fclose(in);
        }
    }
    test::RemoveTree(root + L"\\many");
    test::RemoveTree(root + L"\\none");
    test::RemoveTree(root + L"\\bare");

    // Figure 11: one package of few entries against one of ten times as many, no installed file.
    const uint32_t linearCounts[2] = {LINEAR_FEW_ENTRIES, LINEAR_MANY_ENTRIES};
    std::vector<double> linearFirsts[2];
    for (int i = 0; only.first && i < 2; ++i) {
        const Machine machine = {root + L"\\linear" + std::to_wstring(i) + L"\\wizard",
                                 root + L"\\linear" + std::to_wstring(i) + L"\\host"};
        if (!LayOutFirstPage(machine, binDir, false, false)) Fail("cannot lay out the one-package machines");
        std::vector<BenchEntry> entries;
        for (uint32_t n = 0; n < linearCounts[i]; ++n) entries.push_back({FirstPageId(n), L"2024-01-01", LINEAR_ENTRY_BYTES});
        if (!WritePackage(machine.wizardDir + L"\\one.dir", entries, 11)) Fail("cannot write the one-package machines");
        RegisterHost(machine.hostDir);
        for (int round = -1; round < runs; ++round) {
            const double seconds = TimeToFirstPage(machine.wizardDir + L"\\Quillbox.exe");
            if (seconds < 0) Fail("the wizard's first page never showed for one large package");
            if (round >= 0) linearFirsts[i].push_back(seconds);
        }
        test::RemoveTree(root + L"\\linear" + std::to_wstring(i));
    }

    // Figure 7: peak working set of the real install path, one process per plan.
    // Figure 9: the shipped wizard through the 500 MB plan against a bare dialog program.
    RegisterHost(hostDir);
    double peak[2] = {};
    WizardMemory wizard;
    const uint32_t planSizes[2] = {SMALL_PLAN_BYTES, LARGE_PLAN_BYTES};
    for (int i = 0; only.memory && i < 2; ++i) {
        const std::wstring dir = root + L"\\memory" + std::to_wstring(i);
        const std::wstring exe = dir + L"\\qb_bench.exe";
        if (!test::MakeDirs(dir) || !CopyFileW(self.c_str(), exe.c_str(), FALSE) ||
            !WritePackage(dir + L"\\one.dir", {{L"one", L"", planSizes[i]}}, SEED_MEMORY))
            Fail("cannot lay out the memory plans");
        EmptyDir(DictDataDir(hostDir));
        InstallRun run;
        if (!RunInstallProcess(exe, result, run)) Fail("memory plan install");
        if (!EntryMatches(DictDataDir(hostDir) + L"\\one.dic", planSizes[i], SEED_MEMORY, 0))
            Fail("memory plan: the installed file differs from its entry");
        peak[i] = run.peakBytes;
        std::printf("  memory plan %u MB: %.2f s, peak working set %.1f MB\n", planSizes[i] / MIB, run.seconds,
                    MiB(run.peakBytes));
        std::fflush(stdout);
        if (planSizes[i] == LARGE_PLAN_BYTES) {
            EmptyDir(DictDataDir(hostDir));
            if (!CopyFileW((binDir + L"Quillbox.exe").c_str(), (dir + L"\\Quillbox.exe").c_str(), FALSE) ||
                !CopyFileW((binDir + L"dict_ver.dll").c_str(), (dir + L"\\dict_ver.dll").c_str(), FALSE))
                Fail("cannot copy the wizard for the memory figure (is --bin right?)");
            wizard = WizardInstallPeak(dir + L"\\Quillbox.exe");
            if (wizard.peak < 0 || !EntryMatches(DictDataDir(hostDir) + L"\\one.dic", planSizes[i], SEED_MEMORY, 0))
                Fail("Quillbox.exe did not finish the 500 MB install");
            std::printf("  Quillbox.exe, 500 MB plan: %.2f s, peak working set %.1f MB (%.1f MB on the welcome page)\n",
                        wizard.seconds, MiB(wizard.peak), MiB(wizard.welcome));
            std::fflush(stdout);
        }
        test::RemoveTree(dir);
        EmptyDir(DictDataDir(hostDir));
    }
    // The bare program, then with each of the wizard's libraries, its SHA-256 provider and its
    // text, to say where the wizard's difference goes; then the yardstick with all three, and
    // as it stood before every install hashed for its removal record.
    enum { BARE, BARE_DLLS, BARE_SHA256, BARE_TEXT, BARE_YARDSTICK, BARE_NO_SHA256, BARE_KINDS };
    const wchar_t* bareArguments[BARE_KINDS] = {L"", L"--dlls", L"--sha256", L"--text", L"--dlls --sha256 --text",
                                                L"--dlls --text"};
    std::vector<double> barePeaks[BARE_KINDS];
    for (int round = 0; only.memory && round < runs; ++round) {
        for (int i = 0; i < BARE_KINDS; ++i) {
            const double bare = BareDialogPeak(DirOf(self) + L"qb_bare_dialog.exe", bareArguments[i]);
            if (bare < 0) Fail("the bare dialog program never showed");
            barePeaks[i].push_back(bare);
        }
    }
    UnregisterHost();
    test::RemoveTree(root);

    const double tReal = Median(real), tChunked = Median(chunked), tFloor = Median(floor), tWhole = Median(whole);
    const double realRate = MiB(planBytes) / tReal, chunkedRate = MiB(planBytes) / tChunked;
    const double wholeRate = MiB(packageBytes) / tWhole, messageRate = steps / tFloor;
    const double floorRatio = Median(floorRatios);
    const double copyRatio = chunkedRate / wholeRate;
    const double firstRatio = Median(firstMany) / Median(firstNone);
    const double peakDelta = MiB(peak[1] - peak[0]);

    std::printf("\n");
    PrintPlatform();
    if (only.copy) {
    std::printf("1. real install path (dialog + worker, visible bar), %.0f MB in %u entries:  %8.1f MB/s  (%.2f s, %u steps, %.0f bar repaints/s)\n",
                MiB(planBytes), REAL_ENTRIES, realRate, tReal, steps, Median(paintRates));
    std::printf("2. same chunked copy, 2048-byte chunks, no messages:                 %8.1f MB/s  (%.3f s)\n", chunkedRate, tChunked);
    std::printf("3. message floor, cross-thread SendMessageW to an empty handler:     %8.0f messages/s  (%u in %.2f s)\n",
                messageRate, steps, tFloor);
    std::printf("4. CopyFileW of the same package:                                    %8.1f MB/s  (%.3f s)\n", wholeRate, tWhole);
    std::printf("5. ratios: 1/2 = %.3f   1/4 = %.3f   1 against 2 + a step's floor on the dialog's own thread (%.2f s) = %.2f x, median of the rounds' own  (target <= %.2f: %s)\n",
                realRate / chunkedRate, realRate / wholeRate, Median(ownFloors), floorRatio, FLOOR_TARGET,
                Verdict(floorRatio <= FLOOR_TARGET));
    std::printf("           2/4 = %.2f  (target >= 0.5: %s)\n", copyRatio, Verdict(copyRatio >= 0.5));
    std::printf("   where 1 against 2+3 goes, %d interleaved rounds of %u messages: a step to the dialog against an empty handler on the dialog's own thread %.2f x;  that thread, which owns windows, against one without %.2f x\n",
                SPLIT_ROUNDS, SPLIT_SLICE, split[0], split[1]);
    }
    if (only.seal) {
    const double sealedRatio = Median(sealRatios[0]);
    std::printf("10. sealed install path (every entry hashed as it is written) against the unsealed one, median of %zu neighbouring pairs taking turns at going first:  %.3f x with the hashing thread (shipped)  (target <= %.2f: %s)\n",
                sealRatios[0].size(), sealedRatio, SEALED_TARGET, Verdict(sealedRatio <= SEALED_TARGET));
    PrintPairSpread(sealRatios[0]);
    std::printf("    the install's own processor time (every thread of the child) in the same pairs: %.3f x\n",
                Median(sealCpuRatios[0]));
    if (!sealRatios[1].empty()) {
        std::printf("    hashed on the worker in %u KiB blocks, %zu pairs:  %.3f x (processor time %.3f x)\n",
                    static_cast<unsigned>(HASH_BLOCK_BYTES / 1024), sealRatios[1].size(), Median(sealRatios[1]),
                    Median(sealCpuRatios[1]));
        PrintPairSpread(sealRatios[1]);
    }
    }
    if (only.first) {
    std::printf("6. first page of Quillbox.exe, %u installed files: %u packages x %u entries %.3f s;  no package %.3f s;  ratio %.2f  (target <= 2: %s)\n",
                FIRST_PAGE_PACKAGES * FIRST_PAGE_ENTRIES, FIRST_PAGE_PACKAGES, FIRST_PAGE_ENTRIES, Median(firstMany),
                Median(firstNone), firstRatio, Verdict(firstRatio <= 2.0));
    std::printf("   bare start (no package, no installed file): %.3f s\n", Median(firstBare));
    std::printf("   plan of the 500 x 10 machine: host check %.3f s, package scan %.3f s, installed scan %.3f s, decisions %.3f s\n",
                planSteps[0], planSteps[1], planSteps[2], planSteps[3]);
    const double linearRatio = Median(linearFirsts[1]) / Median(linearFirsts[0]);
    std::printf("11. first page of Quillbox.exe for one package, no installed file: %u entries %.3f s;  %u entries %.3f s;  ratio %.2f  (target <= %.0f: %s)\n",
                LINEAR_FEW_ENTRIES, Median(linearFirsts[0]), LINEAR_MANY_ENTRIES, Median(linearFirsts[1]), linearRatio,
                LINEAR_TARGET, Verdict(linearRatio <= LINEAR_TARGET));
    }
    if (only.memory) {
    std::printf("7. peak working set: 1 MB plan %.1f MB;  500 MB plan %.1f MB;  difference %.2f MB  (target <= 2 MB: %s)\n",
                MiB(peak[0]), MiB(peak[1]), peakDelta, Verdict(peakDelta <= 2.0));
    }
    if (only.answer) {
    const double p99 = Median(answerP99s), lowestPaints = Median(answerLowestPaints);
    const double keyP99 = Median(keyP99s), turnCost = Median(turnRatios);
    std::printf("8. answer to input posted every %lu ms during the 100 MB install (%ld inputs): median %.2f ms, p99 %.2f ms, max %.1f ms  (target p99 <= %.0f ms: %s)\n",
                INPUT_INTERVAL_MS, answerInputs, Median(answerMedians), p99, Median(answerMaxes), ANSWER_TARGET_P99_MS,
                Verdict(p99 <= ANSWER_TARGET_P99_MS));
    std::printf("   Esc pressed every %lu ms through SendInput, meanwhile (%ld keys): median %.2f ms, p99 %.2f ms, max %.1f ms  (target p99 <= %.0f ms: %s)\n",
                KEY_INTERVAL_MS, answerKeys, Median(keyMedians), keyP99, Median(keyMaxes), ANSWER_TARGET_P99_MS,
                Verdict(keyP99 <= ANSWER_TARGET_P99_MS));
    std::printf("   the same installs without the dialog's turns: posted median %.2f ms, p99 %.2f ms, max %.1f ms; keys p99 %.2f ms\n",
                Median(plainMedians), Median(plainP99s), Median(plainMaxes), Median(plainKeyP99s));
    std::printf("   install with turns against without, median of %zu pairs taking turns: %.3f x  (target <= %.2f: %s)\n",
                turnRatios.size(), turnCost, TURN_COST_TARGET, Verdict(turnCost <= TURN_COST_TARGET));
    std::printf("   bar repaints meanwhile: %.0f/s, at least %.0f in every %.0f s, longest gap %.0f ms  (target >= %.0f/s throughout: %s)\n",
                Median(answerPaintRates), lowestPaints, PAINT_WINDOW_S, Median(answerPaintGaps) * 1000.0,
                PAINT_TARGET_PER_S, Verdict(lowestPaints / PAINT_WINDOW_S >= PAINT_TARGET_PER_S));
    }
    if (only.memory) {
    const double bare = Median(barePeaks[BARE]), yardstick = Median(barePeaks[BARE_YARDSTICK]);
    const double over = MiB(wizard.peak - yardstick), overNoSha = MiB(wizard.peak - Median(barePeaks[BARE_NO_SHA256]));
    const double dlls = MiB(Median(barePeaks[BARE_DLLS]) - bare), sha = MiB(Median(barePeaks[BARE_SHA256]) - bare);
    const double text = MiB(Median(barePeaks[BARE_TEXT]) - bare);
    // The provider is loaded during the install: its share is taken out of the install's.
    const double install = MiB(wizard.peak - wizard.welcome) - sha;
    std::printf("9. peak working set of Quillbox.exe through the 500 MB install %.1f MB;  bare dialog program with the same libraries, SHA-256 provider and Chinese text %.1f MB;  difference %.2f MB  (target <= %.0f MB: %s)\n",
                MiB(wizard.peak), MiB(yardstick), over, BARE_TARGET_MB, Verdict(over <= BARE_TARGET_MB));
    std::printf("   against the yardstick without the SHA-256 provider (as before every install hashed for its removal record): %.2f MB more;  against the bare program alone (%.1f MB): %.2f MB more\n",
                overNoSha, MiB(bare), MiB(wizard.peak - bare));
    std::printf("   where it goes: COM, common controls, shell and registry libraries %.2f MB;  CNG's SHA-256 (bcrypt.dll) %.2f MB;  the Chinese text's font %.2f MB;  the install after the welcome page, the provider aside, %.2f MB;  the rest (the wizard's code, plan, pages) %.2f MB\n",
                dlls, sha, text, install, MiB(wizard.peak - bare) - dlls - sha - text - install);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (const ChildMode& mode : {ChildMode{}, ChildMode{true, true}, ChildMode{true, false},
                                  ChildMode{false, true, true}, ChildMode{false, true, false, true}})
        if (argc == 3 && std::wstring(argv[1]) == ChildArgument(mode)) return RunInstallChild(argv[2], mode);
    if (argc == 3 && std::wstring(argv[1]) == L"--plan") return RunPlanChild(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"--step-split") return RunStepSplitChild(argv[2]);
    int runs = 3;
    std::wstring binDir;
    Selection only;
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--seal-in-line") {
            only.sealInLine = true;
            continue;
        }
        if (i + 1 >= argc) break;
        if (option == L"--runs") runs = std::max(1, _wtoi(argv[++i]));
        else if (option == L"--seal-pairs") only.sealPairs = std::max(2, _wtoi(argv[++i]));
        else if (option == L"--bin") binDir = argv[++i];
        else if (option == L"--only") {
            const std::wstring which = argv[++i];
            only.copy = which.find(L"copy") != std::wstring::npos;
            only.seal = only.copy || which.find(L"seal") != std::wstring::npos;
            only.answer = which.find(L"answer") != std::wstring::npos;
            only.first = which.find(L"first") != std::wstring::npos;
            only.memory = which.find(L"memory") != std::wstring::npos;
        }
    }
    return RunBenchmark(runs, binDir, only);
}
