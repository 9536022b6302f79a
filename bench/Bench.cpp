// Prints the install path's speed side by side in one run: the real dialog and worker against
// the bare chunked copy, the bare cross-thread message and CopyFileW; the real wizard's first
// page with many packages against none; and peak memory of a small and a large install.
//
//   qb_bench.exe [--runs N] [--bin DIR] [--only copy,first,memory]
//                                            the figures (DIR holds Quillbox.exe, dict_ver.dll);
//                                            --only picks figures 1-5, 6 and/or 7
//   qb_bench.exe --plan RESULT               the plan's steps timed from this exe's folder (child)
//   qb_bench.exe --install RESULT            one real install from this exe's folder (child)
//
// Runs inside a private Wine session (scripts/bench.sh); it writes the host's registry values.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/MainDlg.h"
#include "app/resource.h"
#include "base/ScopedWin.h"
#include "bench/BenchLayout.h"
#include "framework/AppModule.h"
#include "host/HostPaths.h"
#include "install/OutputFile.h"
#include "package/PackageFormat.h"
#include "package/PackageReader.h"
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
constexpr double FIRST_PAGE_GIVE_UP_S = 120.0;
constexpr DWORD CHILD_EXIT_WAIT_MS = 10000;

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

// ---- the real install path, in a child process of its own ----

qb::ScopedHandle g_worker;
WNDPROC g_barProc = nullptr;
long g_barPaints = 0;

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
    if (msg == WM_PAINT) ++g_barPaints;
    return CallWindowProcW(g_barProc, hwnd, msg, wParam, lParam);
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
};

// As the program runs it: the dialog builds its plan while it initialises, is shown, the
// next button starts the worker, and the framework's loop runs until the worker has ended
// (after WM_WIZ_INSTALL_END has put up the finished page).
int RunInstallChild(const std::wstring& resultPath) {
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    g_appModule.Init(nullptr, GetModuleHandleW(nullptr));
    CMessageLoop loop;
    g_appModule.AddMessageLoop(&loop);
    CMainDlg::SetThreadCreatorForTesting(CreateWatchedThread);

    InstallRun run;
    {
        CMainDlg dlg;
        if (dlg.Create(nullptr) != nullptr && dlg.GetPage() == WIZ_PAGE_WELCOME) {
            dlg.ShowWindow(SW_SHOWNORMAL);
            ::UpdateWindow(dlg.m_hWnd);
            PumpPending();
            HWND bar = dlg.GetDlgItem(IDC_PRG_MAINDLG_PROGRESS);
            g_barProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountBarPaints)));

            const DWORD mainThread = GetCurrentThreadId();
            double end = 0;
            const double start = Now();
            dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_BTN_MAINDLG_NEXT, BN_CLICKED),
                            reinterpret_cast<LPARAM>(dlg.GetDlgItem(IDC_BTN_MAINDLG_NEXT)));
            std::thread watcher([&] {
                if (g_worker) WaitForSingleObject(g_worker.get(), INFINITE);
                end = Now();
                PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
            });
            loop.Run();
            watcher.join();

            run.seconds = end - start;
            run.paints = g_barPaints;
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

    g_appModule.RemoveMessageLoop();
    g_appModule.Term();
    CoUninitialize();

    FILE* out = _wfopen(resultPath.c_str(), L"w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%.6f %u %d %d %ld %.0f\n", run.seconds, run.total, run.position, run.page, run.paints,
                 run.peakBytes);
    std::fclose(out);
    return run.seconds >= 0 ? 0 : 1;
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
    const bool decided = manager.DecideActions(manager.m_packages, manager.m_installed);
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
    WaitForSingleObject(process.get(), INFINITE);
    return true;
}

bool RunInstallProcess(const std::wstring& exe, const std::wstring& resultPath, InstallRun& run) {
    if (!RunChild(exe, L"--install", resultPath)) return false;
    FILE* in = _wfopen(resultPath.c_str(), L"r");
    if (in == nullptr) return false;
    const int fields = std::fscanf(in, "%lf %u %d %d %ld %lf", &run.seconds, &run.total, &run.position, &run.page,
                                   &run.paints, &run.peakBytes);
    std::fclose(in);
    return fields == 6 && run.seconds >= 0 && run.page == WIZ_PAGE_FINISHED &&
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

// count cross-thread SendMessageW calls to a handler that does nothing, answered by a thread
// waiting in GetMessageW as the wizard's loop does; returns the seconds they took.
double MessageFloor(uint32_t count) {
    static const wchar_t className[] = L"QuillboxBenchFloor";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FloorProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    ScopedWindow window(
        CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr));
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

HWND FindVisibleDialog(DWORD processId) {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == processId && GetDlgItem(w, IDC_STC_MAINDLG_TIPINFO) != nullptr && IsWindowVisible(w)) return w;
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
    bool first = true;   // figure 6
    bool memory = true;  // figure 7
};

int RunBenchmark(int runs, std::wstring binDir, Selection only) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"qb-bench-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring self = ExePath();
    if (binDir.empty()) binDir = DirOf(self) + L"..\\bin\\";
    if (binDir.back() != L'\\') binDir += L'\\';

    std::printf("Quillbox speed: median of %d runs, MB = 2^20 bytes\n", runs);
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
    const double planBytes = double{REAL_ENTRIES} * REAL_ENTRY_BYTES;
    const uint32_t steps = REAL_ENTRIES * (REAL_ENTRY_BYTES / CHUNK_SIZE);
    const double packageBytes = FileBytes(realPackage);

    std::vector<double> real, chunked, floor, whole, paintRates;
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
        if (!RunInstallProcess(realExe, result, run)) Fail("real install (not finished, or the bar not at its total)");
        if (run.total != steps) Fail("real install: unexpected progress total");
        if (round == 0) {
            for (uint32_t i = 0; i < REAL_ENTRIES; ++i)
                if (!EntryMatches(DictDataDir(hostDir) + L"\\big" + std::to_wstring(i) + L".dic", REAL_ENTRY_BYTES,
                                  SEED_REAL, i))
                    Fail("real install: an installed file differs from its entry");
        }
        real.push_back(run.seconds);
        paintRates.push_back(run.paints / run.seconds);
        std::printf("  round %d: install %.2f s, chunked copy %.3f s, messages %.2f s, CopyFileW %.3f s\n", round + 1,
                    run.seconds, c, f, w);
        std::fflush(stdout);
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

    // Figure 7: peak working set of the real install path, one process per plan.
    RegisterHost(hostDir);
    double peak[2] = {};
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
        test::RemoveTree(dir);
        EmptyDir(DictDataDir(hostDir));
    }
    UnregisterHost();
    test::RemoveTree(root);

    const double tReal = Median(real), tChunked = Median(chunked), tFloor = Median(floor), tWhole = Median(whole);
    const double realRate = MiB(planBytes) / tReal, chunkedRate = MiB(planBytes) / tChunked;
    const double wholeRate = MiB(packageBytes) / tWhole, messageRate = steps / tFloor;
    const double floorRatio = tReal / (tChunked + tFloor);
    const double copyRatio = chunkedRate / wholeRate;
    const double firstRatio = Median(firstMany) / Median(firstNone);
    const double peakDelta = MiB(peak[1] - peak[0]);

    std::printf("\n");
    if (only.copy) {
    std::printf("1. real install path (dialog + worker, visible bar), %.0f MB in %u entries:  %8.1f MB/s  (%.2f s, %u steps, %.0f bar repaints/s)\n",
                MiB(planBytes), REAL_ENTRIES, realRate, tReal, steps, Median(paintRates));
    std::printf("2. same chunked copy, 2048-byte chunks, no messages:                 %8.1f MB/s  (%.3f s)\n", chunkedRate, tChunked);
    std::printf("3. message floor, cross-thread SendMessageW to an empty handler:     %8.0f messages/s  (%u in %.2f s)\n",
                messageRate, steps, tFloor);
    std::printf("4. CopyFileW of the same package:                                    %8.1f MB/s  (%.3f s)\n", wholeRate, tWhole);
    std::printf("5. ratios: 1/2 = %.3f   1/4 = %.3f   1 against 2+3 = %.2f x  (target <= 1.25: %s)\n",
                realRate / chunkedRate, realRate / wholeRate, floorRatio, Verdict(floorRatio <= 1.25));
    std::printf("           2/4 = %.2f  (target >= 0.5: %s)\n", copyRatio, Verdict(copyRatio >= 0.5));
    }
    if (only.first) {
    std::printf("6. first page of Quillbox.exe, %u installed files: %u packages x %u entries %.3f s;  no package %.3f s;  ratio %.2f  (target <= 2: %s)\n",
                FIRST_PAGE_PACKAGES * FIRST_PAGE_ENTRIES, FIRST_PAGE_PACKAGES, FIRST_PAGE_ENTRIES, Median(firstMany),
                Median(firstNone), firstRatio, Verdict(firstRatio <= 2.0));
    std::printf("   bare start (no package, no installed file): %.3f s\n", Median(firstBare));
    std::printf("   plan of the 500 x 10 machine: host check %.3f s, package scan %.3f s, installed scan %.3f s, decisions %.3f s\n",
                planSteps[0], planSteps[1], planSteps[2], planSteps[3]);
    }
    if (only.memory) {
    std::printf("7. peak working set: 1 MB plan %.1f MB;  500 MB plan %.1f MB;  difference %.2f MB  (target <= 2 MB: %s)\n",
                MiB(peak[0]), MiB(peak[1]), peakDelta, Verdict(peakDelta <= 2.0));
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--install") return RunInstallChild(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"--plan") return RunPlanChild(argv[2]);
    int runs = 3;
    std::wstring binDir;
    Selection only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--runs") runs = std::max(1, _wtoi(argv[i + 1]));
        else if (option == L"--bin") binDir = argv[i + 1];
        else if (option == L"--only") {
            const std::wstring which = argv[i + 1];
            only.copy = which.find(L"copy") != std::wstring::npos;
            only.first = which.find(L"first") != std::wstring::npos;
            only.memory = which.find(L"memory") != std::wstring::npos;
        }
    }
    return RunBenchmark(runs, binDir, only);
}
