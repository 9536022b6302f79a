#include "app/MainDlg.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <initializer_list>

#include "app/HostNotify.h"
#include "app/LogReporter.h"
#include "app/WizardMessages.h"
#include "app/WizardTexts.h"
#include "host/HostPaths.h"
#include "host/ProcessControl.h"
#include "host/SessionUser.h"
#include "install/RecordKeeper.h"

namespace {

CMainDlg::ThreadCreator g_threadCreator = ::CreateThread;
bool g_turnsEnabled = true;

void Show(HWND hWnd, bool visible) { ::ShowWindow(hWnd, visible ? SW_SHOWNA : SW_HIDE); }

struct ControlVisibility {
    HWND hWnd;
    bool visible;
};

// Shows or hides each control named; the controls not named keep their state.
void ShowControls(std::initializer_list<ControlVisibility> controls) {
    for (const ControlVisibility& control : controls) Show(control.hWnd, control.visible);
}

HICON LoadProgramIcon(int metricX, int metricY) {
    return static_cast<HICON>(::LoadImageW(g_appModule.GetResourceInstance(), MAKEINTRESOURCEW(IDI_MAINDLG),
                                           IMAGE_ICON, ::GetSystemMetrics(metricX), ::GetSystemMetrics(metricY),
                                           LR_DEFAULTCOLOR));
}

// The part of the bar that moving its fill from `from` to its present position changes, for
// a horizontal bar with a range. The fill starts inside the bar's border, so its end lies up
// to an edge's width from where the client width puts it.
bool ChangedPartOfBar(HWND hBar, WNDPROC barProc, int64_t from, RECT& changed) {
    PBRANGE range = {};
    ::CallWindowProcW(barProc, hBar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    const int64_t span = int64_t{range.iHigh} - range.iLow;
    if (span <= 0 || (::GetWindowLongW(hBar, GWL_STYLE) & PBS_VERTICAL) || !::GetClientRect(hBar, &changed))
        return false;
    const int64_t to = ::CallWindowProcW(barProc, hBar, PBM_GETPOS, 0, 0);
    const int64_t width = changed.right - changed.left;
    const LONG slack = ::GetSystemMetrics(SM_CXEDGE);
    const LONG left = changed.left;
    changed.left = left + static_cast<LONG>(width * (std::min(from, to) - range.iLow) / span) - slack;
    changed.right = left + static_cast<LONG>(width * (std::max(from, to) - range.iLow) / span) + slack + 1;
    return true;
}

// The DPI the window is laid out for: its monitor's where the system knows per-monitor DPI
// (Windows 10 1607 and later), the system's before that.
UINT WindowDpi(HWND hWnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(hWnd)) return dpi;
    }
    qb::ScopedScreenDC screen(::GetDC(nullptr));
    const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : WIZ_LAYOUT_DPI;
}

}  // namespace

std::wstring FormatWizardText(const wchar_t* format, const wchar_t* text) {
    std::wstring result(format);
    const size_t at = result.find(L"%s");
    if (at != std::wstring::npos) result.replace(at, 2, text != nullptr ? text : L"");
    return result;
}

CMainDlg::CMainDlg()
    : m_nPage(WIZ_PAGE_NONE),
      m_bSingleEntry(false),
      m_hMsgLine(nullptr),
      m_hList(nullptr),
      m_hProgress(nullptr),
      m_hCheck(nullptr),
      m_hNext(nullptr),
      m_hDownload(nullptr),
      m_hCancel(nullptr),
      m_progressProc(nullptr),
      m_nPendingSteps(0),
      m_nPendingBase(0),
      m_nPendingHigh(0),
      m_progressPaintTick(0),
      m_bHandingOver(false),
      m_turnCheckTick(0),
      m_bTurnWanted(false),
      m_bTurnsPaused(false) {}

void CMainDlg::SetThreadCreatorForTesting(ThreadCreator creator) {
    g_threadCreator = creator != nullptr ? creator : ::CreateThread;
}

void CMainDlg::SetTurnsForTesting(bool enabled) { g_turnsEnabled = enabled; }

BOOL CMainDlg::PreTranslateMessage(MSG* pMsg) {
    m_bTurnsPaused = false;
    // The loop has got to what was waiting: once the last of it is out of the queue, the
    // worker may go on.
    if (m_bTurnWanted && HIWORD(::GetQueueStatus(WIZ_TURN_QUEUE_FLAGS)) == 0) SetTurnWanted(false);
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

BOOL CMainDlg::OnIdle() {
    m_bTurnsPaused = false;
    if (m_bTurnWanted) SetTurnWanted(false);
    return FALSE;
}

void CMainDlg::SetTurnWanted(bool wanted) {
    if (wanted == m_bTurnWanted) return;
    if (wanted && !m_turnTaken) {
        m_turnTaken.reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
        if (!m_turnTaken) return;  // no turns without the event: the steps go on as without them
    }
    m_bTurnWanted = wanted;
    if (wanted) {
        ::ResetEvent(m_turnTaken.get());
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(m_turnTaken.get()));
    } else {
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        ::SetEvent(m_turnTaken.get());
    }
}

BOOL CMainDlg::ProcessWindowMessage(HWND /*hWnd*/, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD /*dwMsgMapID*/) {
    switch (uMsg) {
    case WM_INITDIALOG: lResult = OnInitDialog(); return TRUE;
    case WM_DESTROY: lResult = OnDestroy(); return TRUE;
    case WM_WIZ_INSTALL_BEGIN: lResult = OnInstallBegin(); return TRUE;
    case WM_WIZ_INSTALL_END: lResult = OnInstallEnd(); return TRUE;
    case WM_WIZ_ITEM_BEGIN: lResult = OnItemBegin(wParam, lParam); return TRUE;
    case WM_WIZ_ITEM_DONE: lResult = OnItemDone(wParam, lParam); return TRUE;
    case WM_WIZ_STEP: lResult = OnStep(); return TRUE;
    case WM_WIZ_ITEM_FAILED: lResult = OnItemFailed(wParam, lParam); return TRUE;
    case WM_WIZ_PACKAGE_BAD: lResult = OnPackageBad(wParam); return TRUE;
    case WM_COMMAND: {
        const WORD id = LOWORD(wParam);
        if (id == IDOK) { lResult = OnOK(); return TRUE; }
        if (id == IDCANCEL) { lResult = OnCancel(); return TRUE; }
        if (HIWORD(wParam) != BN_CLICKED) return FALSE;
        switch (id) {
        case IDC_BTN_MAINDLG_NEXT: lResult = OnNext(); return TRUE;
        case IDC_BTN_MAINDLG_DOWNLOAD: lResult = OnDownload(); return TRUE;
        case IDC_BTN_MAINDLG_CANCEL: lResult = OnCloseButton(); return TRUE;
        default: return FALSE;
        }
    }
    default:
        return FALSE;
    }
}

LRESULT CMainDlg::OnInitDialog() {
    CenterWindow();
    m_bigIcon.reset(LoadProgramIcon(SM_CXICON, SM_CYICON));
    SetIcon(m_bigIcon.get(), TRUE);
    m_smallIcon.reset(LoadProgramIcon(SM_CXSMICON, SM_CYSMICON));
    SetIcon(m_smallIcon.get(), FALSE);

    if (CMessageLoop* loop = g_appModule.GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }
    UIAddChildWindowContainer(m_hWnd);

    m_hMsgLine = GetDlgItem(IDC_STC_MAINDLG_TIPINFO);
    m_hList = GetDlgItem(IDC_LST_MAINDLG_INFO);
    m_hProgress = GetDlgItem(IDC_PRG_MAINDLG_PROGRESS);
    m_hNext = GetDlgItem(IDC_BTN_MAINDLG_NEXT);
    m_hDownload = GetDlgItem(IDC_BTN_MAINDLG_DOWNLOAD);
    m_hCancel = GetDlgItem(IDC_BTN_MAINDLG_CANCEL);
    m_hCheck = GetDlgItem(IDC_CHK_MAINDLG_LAUNCH);
    ::SetWindowLongPtrW(m_hProgress, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_progressProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_hProgress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressProc)));

    SetWindowText(WIZ_TEXT_TITLE);
    ShowFirstPage();
    return TRUE;
}

LRESULT CMainDlg::OnDestroy() {
    if (CMessageLoop* loop = g_appModule.GetMessageLoop()) {
        loop->RemoveMessageFilter(this);
        loop->RemoveIdleHandler(this);
    }
    return 0;
}

void CMainDlg::Close(int quitCode) {
    DestroyWindow();
    ::PostQuitMessage(quitCode);
}

LRESULT CMainDlg::OnOK() {
    if (m_nPage != WIZ_PAGE_INSTALLING) Close(WIZ_EXIT_CLOSED);
    return 0;
}

LRESULT CMainDlg::OnCancel() {
    if (m_nPage != WIZ_PAGE_INSTALLING) Close(WIZ_EXIT_CANCELLED);
    return 1;
}

LRESULT CMainDlg::OnNext() {
    if (m_nPage == WIZ_PAGE_WELCOME) StartInstall();
    return 0;
}

LRESULT CMainDlg::OnDownload() {
    if (m_nPage == WIZ_PAGE_HOST_NOT_FOUND) {
        // In the signed-in user's browser, as that user: never a browser with the wizard's rights.
        const SessionStart start = OpenAddressAsSessionUser(HOST_DOWNLOAD_URL);
        if (CRunLog* log = CRunLog::OfProcess()) log->Line(DescribeStart(L"the download page " HOST_DOWNLOAD_URL, start));
    }
    Close(WIZ_EXIT_CLOSED);
    return 0;
}

LRESULT CMainDlg::OnCloseButton() {
    if (m_nPage == WIZ_PAGE_FINISHED && ::SendMessageW(m_hCheck, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        ShowWindow(SW_HIDE);
        LaunchHostAndNotify();
    }
    Close(WIZ_EXIT_CLOSED);
    return 1;
}

void CMainDlg::ShowFirstPage() {
    if (!m_bHostLocked || !CheckHostEnvironment()) {
        ShowHostNotFoundPage();
        return;
    }
    const int count = m_installManager.CountPlannedEntries();
    // The start logged a plan that cannot be built.
    if (CRunLog* log = CRunLog::OfProcess()) {
        if (count >= 0) LogPlan(*log, m_installManager);
    }
    if (count >= 1) {
        m_bSingleEntry = (count == 1);
        ShowWelcomePage();
    } else if (count == 0) {
        // Nothing to install, but an earlier install of this setup may have been cut off
        // before its record: settled as every other run settles it.
        SettlePendingRecord(m_installManager.Packages(), [](const std::wstring& line) {
            if (CRunLog* log = CRunLog::OfProcess()) log->Line(line);
        });
        ShowUpToDatePage();
    } else {
        ::MessageBoxW(m_hWnd, WIZ_TEXT_PLAN_FAILED, nullptr, MB_OK);
        Close(WIZ_EXIT_CANCELLED);
    }
}

void CMainDlg::ResizeMessageLine(bool grow) {
    RECT rect;
    if (!::GetWindowRect(m_hMsgLine, &rect)) return;
    const int growth = MessageLineGrowth();
    rect.bottom += grow ? growth : -growth;
    POINT topLeft = {rect.left, rect.top};
    POINT bottomRight = {rect.right, rect.bottom};
    // Moving by half-converted (screen) coordinates would throw the line off the dialog.
    if (!ScreenToClient(&topLeft) || !ScreenToClient(&bottomRight)) return;
    ::MoveWindow(m_hMsgLine, topLeft.x, topLeft.y, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y, TRUE);
}

// The dialog's font scales with its DPI, and the system rescales a grown line with the dialog
// when it moves to a monitor of another DPI; shrinking at the new DPI takes back that share.
int CMainDlg::MessageLineGrowth() const {
    return ::MulDiv(WIZ_MESSAGE_LINE_GROWTH, static_cast<int>(WindowDpi(m_hWnd)), WIZ_LAYOUT_DPI);
}

void CMainDlg::ShowWelcomePage() {
    ResizeMessageLine(true);
    std::wstring summary;
    m_installManager.GetActionSummary(summary);
    ::SetWindowTextW(m_hMsgLine, FormatWizardText(WIZ_TEXT_WELCOME_FORMAT, summary.c_str()).c_str());
    ::SetWindowTextW(m_hNext, WIZ_TEXT_NEXT);
    ::SetWindowTextW(m_hCancel, WIZ_TEXT_CANCEL);
    ShowControls({{m_hList, false}, {m_hProgress, false}, {m_hCheck, false}, {m_hNext, true}, {m_hDownload, false},
                  {m_hCancel, true}});
    m_nPage = WIZ_PAGE_WELCOME;
    FocusControl(m_hNext);
}

void CMainDlg::ShowUpToDatePage() {
    ResizeMessageLine(true);
    ::SetWindowTextW(m_hMsgLine, WIZ_TEXT_UP_TO_DATE);
    ::SetWindowTextW(m_hCancel, WIZ_TEXT_CLOSE);
    ShowControls({{m_hMsgLine, true}, {m_hList, false}, {m_hProgress, false}, {m_hCheck, false}, {m_hNext, false},
                  {m_hDownload, false}, {m_hCancel, true}});
    m_nPage = WIZ_PAGE_UP_TO_DATE;
    FocusControl(m_hCancel);
}

void CMainDlg::ShowHostNotFoundPage() {
    ResizeMessageLine(true);
    ::SetWindowTextW(m_hMsgLine, WIZ_TEXT_HOST_NOT_FOUND);
    ::SetWindowTextW(m_hDownload, WIZ_TEXT_DOWNLOAD);
    ::SetWindowTextW(m_hCancel, WIZ_TEXT_CLOSE);
    ShowControls({{m_hMsgLine, true}, {m_hList, false}, {m_hProgress, false}, {m_hCheck, false}, {m_hNext, false},
                  {m_hDownload, true}, {m_hCancel, true}});
    m_nPage = WIZ_PAGE_HOST_NOT_FOUND;
    FocusControl(m_hDownload);
}

void CMainDlg::FocusControl(HWND hControl) {
    // As the dialog manager moves it, so that a focused push button is also the one Enter presses.
    SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hControl), TRUE);
}

void CMainDlg::SetCloseItemEnabled(bool enabled) {
    if (HMENU menu = GetSystemMenu(FALSE)) {
        ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

void CMainDlg::StartInstall() {
    ResizeMessageLine(false);
    if (!m_bSingleEntry) ShowControls({{m_hMsgLine, false}, {m_hList, true}});
    Show(m_hProgress, true);
    SetCloseItemEnabled(false);
    ::EnableWindow(m_hNext, FALSE);
    ::EnableWindow(m_hCancel, FALSE);
    SetProgressRange(m_installManager.GetProgressTotal());
    m_turnCheckTick = ::GetTickCount() - WIZ_TURN_CHECK_MS;  // the first step looks at once
    // Nothing between the start and the page change may answer the worker's messages: its
    // WM_WIZ_INSTALL_END would otherwise be overwritten by the installing page.
    const bool started = StartInstallThread();
    m_nPage = WIZ_PAGE_INSTALLING;
    if (!started) {
        // No worker means no WM_WIZ_INSTALL_END: without this the dialog could never be closed.
        ::MessageBoxW(m_hWnd, WIZ_TEXT_THREAD_FAILED, WIZ_TEXT_ERROR_CAPTION, MB_OK | MB_ICONERROR);
        Close(WIZ_EXIT_CANCELLED);
        return;
    }
    // The buttons are disabled now; the control that carries the progress texts keeps the
    // focus, so the keys still reach the dialog (which ignores them while it installs).
    FocusControl(m_bSingleEntry ? m_hMsgLine : m_hList);
}

bool CMainDlg::StartInstallThread() {
    m_threadParam.hDlg = m_hWnd;
    m_threadParam.pManager = &m_installManager;
    DWORD threadId = 0;
    m_hInstallThread.reset(g_threadCreator(nullptr, 0, InstallThreadProc, &m_threadParam, 0, &threadId));
    const bool started = m_hInstallThread.valid();
    // The thread is never waited for: it ends by itself after WM_WIZ_INSTALL_END.
    m_hInstallThread.reset();
    return started;
}

void CMainDlg::SetProgressRange(uint32_t total) {
    if (total <= WIZ_PROGRESS_RANGE16_MAX) {
        ::SendMessageW(m_hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, total));
    } else {
        ::SendMessageW(m_hProgress, PBM_SETRANGE32, 0, static_cast<LPARAM>(std::min<uint32_t>(total, INT_MAX)));
    }
}

LRESULT CALLBACK CMainDlg::ProgressProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    CMainDlg* self = reinterpret_cast<CMainDlg*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (self == nullptr || self->m_progressProc == nullptr) return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
    const WNDPROC bar = self->m_progressProc;
    const int delta = static_cast<int>(wParam);
    if (uMsg == PBM_DELTAPOS && delta > 0) {
        if (self->m_nPendingSteps == 0) {
            self->m_nPendingBase = static_cast<int32_t>(::CallWindowProcW(bar, hWnd, PBM_GETPOS, 0, 0));
            self->m_nPendingHigh = static_cast<int32_t>(::CallWindowProcW(bar, hWnd, PBM_GETRANGE, FALSE, 0));
        }
        // What the bar would answer: its previous position, which never passes the upper bound.
        const int64_t previous =
            std::min<int64_t>(int64_t{self->m_nPendingBase} + self->m_nPendingSteps, self->m_nPendingHigh);
        self->m_nPendingSteps += static_cast<uint32_t>(delta);
        return static_cast<LRESULT>(previous);
    }
    // The bar repaints all of itself within PBM_DELTAPOS. Under a visual style that takes
    // milliseconds under Wine, as long as dozens of steps, while only the part between the old
    // and the new end of the fill has changed: that repaint is cut down to the changed part.
    if (uMsg == WM_PAINT && self->m_bHandingOver) {
        RECT changed;
        if (ChangedPartOfBar(hWnd, bar, self->m_nPendingBase, changed)) {
            ::ValidateRect(hWnd, nullptr);
            ::InvalidateRect(hWnd, &changed, FALSE);
        }
        return ::CallWindowProcW(bar, hWnd, uMsg, wParam, lParam);
    }
    if (self->m_nPendingSteps != 0) {
        const WPARAM steps = self->m_nPendingSteps;
        self->m_nPendingSteps = 0;
        ::UpdateWindow(hWnd);  // what was due before must not be cut down
        self->m_bHandingOver = true;
        ::CallWindowProcW(bar, hWnd, PBM_DELTAPOS, steps, 0);
        self->m_bHandingOver = false;
    }
    if (uMsg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bar));
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        self->m_progressProc = nullptr;
    }
    return ::CallWindowProcW(bar, hWnd, uMsg, wParam, lParam);
}

void CMainDlg::RepaintProgress() {
    m_progressPaintTick = ::GetTickCount();
    // Any message but a step makes the subclass hand the held-back steps to the bar.
    if (m_nPendingSteps != 0) ::SendMessageW(m_hProgress, PBM_GETPOS, 0, 0);
}

void CMainDlg::ShowFinishedPage() {
    ::SetWindowTextW(m_hCheck, WIZ_TEXT_LAUNCH);
    ::SetWindowTextW(m_hCancel, WIZ_TEXT_FINISH);
    ShowControls({{m_hProgress, false}, {m_hCheck, true}, {m_hNext, false}, {m_hDownload, false}});
    ::SendMessageW(m_hCheck, BM_SETCHECK, BST_CHECKED, 0);
    SetCloseItemEnabled(true);
    ::EnableWindow(m_hNext, TRUE);
    ::EnableWindow(m_hCancel, TRUE);
    m_nPage = WIZ_PAGE_FINISHED;
    FocusControl(m_hCancel);
}

LRESULT CMainDlg::OnInstallBegin() {
    ::SendMessageW(m_hProgress, PBM_SETPOS, 0, 0);
    return 1;
}

LRESULT CMainDlg::OnStep() {
    ::SendMessageW(m_hProgress, PBM_DELTAPOS, 1, 0);
    const DWORD now = ::GetTickCount();
    if (now - m_progressPaintTick >= WIZ_PROGRESS_REPAINT_MS) RepaintProgress();
    if (m_bTurnWanted) {
        // The worker gave up waiting: this thread is in a loop of its own (a window being
        // moved, a message box) that takes the input without this dialog's filter. Asking
        // again would cost the worker the longest wait at every step until that loop ends.
        SetTurnWanted(false);
        m_bTurnsPaused = true;
    }
    // Asking the queue is a call to the window server under Wine: not at every step.
    if (g_turnsEnabled && !m_bTurnsPaused && now - m_turnCheckTick >= WIZ_TURN_CHECK_MS) {
        m_turnCheckTick = now;
        if (HIWORD(::GetQueueStatus(WIZ_TURN_QUEUE_FLAGS)) != 0) SetTurnWanted(true);
    }
    return 1;
}

LRESULT CMainDlg::OnInstallEnd() {
    SetTurnWanted(false);
    RepaintProgress();
    const uint32_t total = m_installManager.GetProgressTotal();
    ::SendMessageW(m_hProgress, PBM_SETPOS, static_cast<WPARAM>(std::min<uint32_t>(total, INT_MAX)), 0);
    ShowFinishedPage();
    return 1;
}

void CMainDlg::ShowTextLine(const std::wstring& text) {
    if (m_bSingleEntry) {
        ::SetWindowTextW(m_hMsgLine, text.c_str());
    } else {
        ::SendMessageW(m_hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

LRESULT CMainDlg::ShowItemText(WPARAM wParam, LPARAM lParam, const wchar_t* installFormat,
                               const wchar_t* upgradeFormat) {
    const wchar_t* format = lParam == ACTION_INSTALL ? installFormat : lParam == ACTION_UPGRADE ? upgradeFormat : nullptr;
    if (format == nullptr) return 0;
    RepaintProgress();
    ShowTextLine(FormatWizardText(format, reinterpret_cast<const wchar_t*>(wParam)));
    return 1;
}

LRESULT CMainDlg::OnItemBegin(WPARAM wParam, LPARAM lParam) {
    return ShowItemText(wParam, lParam, WIZ_TEXT_INSTALL_BEGIN_FORMAT, WIZ_TEXT_UPGRADE_BEGIN_FORMAT);
}

LRESULT CMainDlg::OnItemDone(WPARAM wParam, LPARAM lParam) {
    return ShowItemText(wParam, lParam, WIZ_TEXT_INSTALL_DONE_FORMAT, WIZ_TEXT_UPGRADE_DONE_FORMAT);
}

LRESULT CMainDlg::OnItemFailed(WPARAM wParam, LPARAM lParam) {
    return ShowItemText(wParam, lParam, WIZ_TEXT_INSTALL_FAILED_FORMAT, WIZ_TEXT_UPGRADE_FAILED_FORMAT);
}

LRESULT CMainDlg::OnPackageBad(WPARAM wParam) {
    RepaintProgress();
    const std::wstring text = FormatWizardText(WIZ_TEXT_PACKAGE_BAD_FORMAT, reinterpret_cast<const wchar_t*>(wParam));
    ::SendMessageW(m_hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    ::MessageBoxW(m_hWnd, text.c_str(), WIZ_TEXT_ERROR_CAPTION, MB_OK);
    return 1;
}

bool CMainDlg::LaunchHostAndNotify() {
    // The host starts after the service stop and the configuration, and only when both went
    // well; the log says why it was not started where it was not.
    const bool enabled = m_installManager.EnableDictionaries(false);
    const bool started = enabled && LaunchHostExecutable();
    const bool shown = AskHostToShowDictManager();
    if (CRunLog* log = CRunLog::OfProcess()) {
        log->Line(!enabled ? L"dictionaries could not be enabled"
                  : started ? L"service stopped, dictionaries enabled, host started"
                            : L"service stopped and dictionaries enabled; the host was not started");
        log->Line(shown ? L"host asked to show its dictionary manager" : L"host's tray window never came");
    }
    return shown;
}
