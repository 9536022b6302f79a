#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "host/Desktop.h"
#include "app/MainDlg.h"
#include "app/Unattended.h"
#include "app/WizardStart.h"
#include "app/WizardTexts.h"
#include "app/resource.h"
#include "base/WaitLog.h"
#include "host/ProcessControl.h"
#include "framework/AppModule.h"

namespace {

// A start of this executable that holds the lock shows its dialog within moments.
constexpr DWORD SAME_WIZARD_WAIT_MS = 5000;
constexpr DWORD SAME_WIZARD_POLL_MS = 50;

// Another running process started from this executable's own file. Its image path is the
// system's, not anything a process could write for others to read.
std::wstring ImagePathOf(HANDLE process) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    return ::QueryFullProcessImageNameW(process, 0, path, &size) ? std::wstring(path, size) : std::wstring();
}

bool IsAnotherStartOfThisExecutable(DWORD pid) {
    if (pid == ::GetCurrentProcessId()) return false;
    qb::ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    if (!process || ::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT) return false;
    const std::wstring theirs = ImagePathOf(process.get()), ours = ImagePathOf(::GetCurrentProcess());
    return !ours.empty() && ::CompareStringOrdinal(theirs.c_str(), -1, ours.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool AnotherStartOfThisExecutableRuns() {
    qb::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!snapshot || !::Process32FirstW(snapshot.get(), &entry)) return false;
    do {
        if (IsAnotherStartOfThisExecutable(entry.th32ProcessID)) return true;
    } while (::Process32NextW(snapshot.get(), &entry));
    return false;
}

// The wizard's dialog (its class, title and Next button; a message box of the wizard has the
// same class and title) in another start of this executable.
BOOL CALLBACK FindSameWizardDialog(HWND window, LPARAM found) {
    wchar_t className[16] = {}, title[128] = {};
    ::GetClassNameW(window, className, 16);
    ::GetWindowTextW(window, title, 128);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (wcscmp(className, L"#32770") != 0 || wcscmp(title, WIZ_TEXT_TITLE) != 0 ||
        ::GetDlgItem(window, IDC_BTN_MAINDLG_NEXT) == nullptr || !IsAnotherStartOfThisExecutable(pid))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

bool BringForwardExistingDialog() {
    HWND other = nullptr;
    ::EnumWindows(FindSameWizardDialog, reinterpret_cast<LPARAM>(&other));
    if (other == nullptr) return false;
    ::ShowWindow(other, SW_SHOWNORMAL);
    ::BringWindowToTop(other);
    ::SetActiveWindow(other);
    ::SetForegroundWindow(other);
    return true;
}

// The lock is held: by another start of this same executable (its dialog comes forward) or
// by a wizard from another folder. True when the dialog of this executable came forward.
bool LooksForSameWizardDialog() {
    for (DWORD waited = 0; waited < SAME_WIZARD_WAIT_MS; waited += SAME_WIZARD_POLL_MS) {
        if (BringForwardExistingDialog()) return true;
        // A start of this executable that holds the lock runs already, window or not.
        if (!AnotherStartOfThisExecutableRuns()) return false;
        ::Sleep(SAME_WIZARD_POLL_MS);
    }
    return false;
}

bool WaitForSameWizardDialog() {
    const DWORD start = ::GetTickCount();
    const bool came = LooksForSameWizardDialog();
    qb::ReportWait(L"the dialog of the wizard that holds the host's lock", start,
                   came ? WAIT_OUTCOME_CAME : WAIT_OUTCOME_NEVER_CAME);
    return came;
}

// The dialog's start: the one start of every run (WizardStart.h), then the dialog on the page
// it found. Busy and a lock that cannot be made end the run before any window.
int Run(int nCmdShow, CRunLog& log) {
    CMessageLoop theLoop;
    g_appModule.AddMessageLoop(&theLoop);
    // Destroyed on return, with the plan it holds: only after the loop has left the module.
    CMainDlg dlgMain;
    CWizardStart start(log);
    const WizardStartResult started = start.Run(dlgMain.GetInstallManager(), false);
    dlgMain.m_bHostLocked = start.locked();

    int result = WIZ_EXIT_CANCELLED;
    if (started == WizardStartResult::Busy) {
        if (WaitForSameWizardDialog()) {
            log.Line(L"this wizard's dialog is open already: brought forward");
            result = WIZ_EXIT_ALREADY_RUNNING;
        } else {
            ::MessageBoxW(nullptr, WIZ_TEXT_ANOTHER_INSTALL, WIZ_TEXT_TITLE, MB_OK | MB_ICONINFORMATION);
        }
    } else if (started == WizardStartResult::LockFailed) {
        ::MessageBoxW(nullptr, WIZ_TEXT_PLAN_FAILED, nullptr, MB_OK);
    } else if (dlgMain.Create(nullptr, 0) == nullptr) {
        // A dialog that ended itself while initialising (the plan could not be built) has
        // posted its quit code already; that code, not "no dialog", is the outcome.
        result = 0;
        MSG quit;
        if (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) result = static_cast<int>(quit.wParam);
    } else {
        dlgMain.ShowWindow(nCmdShow);
        result = theLoop.Run();
    }

    g_appModule.RemoveMessageLoop();
    return result;
}

// A silent run whose log cannot be opened ends before it changes anything; so that the
// administrator finds out why, the log folder's dated file says so when it can be written.
void LeaveTraceOfLogFailure(const std::wstring& asked, DWORD error) {
    if (asked.empty()) return;  // that was the dated file itself
    CRunLog trace;
    DWORD traceError = ERROR_SUCCESS;
    if (!trace.Open(L"", traceError)) return;
    wchar_t full[MAX_PATH] = {};
    const DWORD length = ::GetFullPathNameW(asked.c_str(), MAX_PATH, full, nullptr);
    const std::wstring path = length > 0 && length < MAX_PATH ? std::wstring(full, length) : asked;
    const size_t cut = path.find_last_of(L"\\/");
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
    std::wstring why;
    if (!folder.empty() && ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        why = L": its folder " + folder + L" does not exist (/LOG makes no folder)";
    trace.Failure(L"the log asked for cannot be opened, nothing was changed: " + path + why, error);
    trace.Exit(WIZ_EXIT_LOG_FAILED);
}

}  // namespace

// The wizard as it runs with no switch: its dialog, and exit codes 0, 1 and 2.
static int RunWizard(HINSTANCE hInstance, int nCmdShow, CRunLog& log) {
    if (BringForwardExistingDialog()) {
        log.Line(L"this wizard's dialog is open already: brought forward");
        return WIZ_EXIT_ALREADY_RUNNING;
    }
    ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    g_appModule.Init(nullptr, hInstance);

    const int result = Run(nCmdShow, log);

    g_appModule.Term();
    ::CoUninitialize();
    return result;
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/, int nCmdShow) {
    // The switches; a mistyped one ends the run at once.
    WizardOptions options;
    const bool switchesKnown = ParseArguments(CommandLineArguments(::GetCommandLineW()), options);
    // Where no one can see a window, no one could close the dialog: the run is silent.
    std::wstring noDesktop;
    const bool unseen = !options.silent && NoOneCanSeeWindows(noDesktop);
    if (unseen) options.silent = true;
    // Before any file is touched, the log included: a silent run never waits on a box for a
    // missing disk or a crash.
    if (options.silent) ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // The log, when asked for, records every kind of run. A silent run that cannot keep the
    // log it was asked for changes nothing.
    CRunLog log;
    DWORD logError = ERROR_SUCCESS;
    if (options.log && !log.Open(options.logPath, logError) && options.silent && switchesKnown) {
        LeaveTraceOfLogFailure(options.logPath, logError);
        return WIZ_EXIT_LOG_FAILED;
    }
    if (unseen) log.Line(L"no one can see a window here (" + noDesktop + L"): the run is silent, as with /S");
    // The usage, a silent install and a removal never open the wizard's dialog.
    if (RunsWithoutDialog(options, switchesKnown)) return RunWithoutDialog(options, switchesKnown, log);
    // Otherwise the wizard runs as it always has.
    log.Line(L"wizard runs with its dialog");
    const int code = RunWizard(hInstance, nCmdShow, log);
    // The service the install stopped for a held file, when the host was not started after.
    RestartStoppedDictService();
    return log.Exit(code);
}
