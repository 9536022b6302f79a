// The wizard's one window: a modeless dialog whose pages are sets of visible controls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/InstallThread.h"
#include "app/resource.h"
#include "base/ScopedWin.h"
#include "framework/AppModule.h"
#include "framework/DialogImpl.h"
#include "install/InstallManager.h"

enum WizardPage : int32_t {
    WIZ_PAGE_NONE = 0,
    WIZ_PAGE_WELCOME = 1,
    WIZ_PAGE_INSTALLING = 2,
    WIZ_PAGE_FINISHED = 3,
    WIZ_PAGE_UP_TO_DATE = 4,
    WIZ_PAGE_HOST_NOT_FOUND = 5,
};

// Quit codes, which become the process's exit code.
#define WIZ_EXIT_ALREADY_RUNNING 0
#define WIZ_EXIT_CLOSED 1
#define WIZ_EXIT_CANCELLED 2

// The message line grows on the first pages by this many device pixels at 96 DPI (two lines of
// the dialog's font), and by the same share of the font at any other DPI.
#define WIZ_MESSAGE_LINE_GROWTH 30
#define WIZ_LAYOUT_DPI 96
// The bar is repainted at most this often while steps pour in (about 30 times a second).
#define WIZ_PROGRESS_REPAINT_MS 33
// Above this a total no longer fits PBM_SETRANGE's 16-bit bounds.
#define WIZ_PROGRESS_RANGE16_MAX 65535u

// Replaces the single "%s" of a format with text, taken literally.
std::wstring FormatWizardText(const wchar_t* format, const wchar_t* text);

class CMainDlg : public CDialogImpl<CMainDlg>,
                 public CUpdateUI<CMainDlg>,
                 public CMessageFilter,
                 public CIdleHandler {
public:
    // False when the start (WizardStart.h) found no host and so took no lock: the
    // host-not-found page, whatever the registry says by now.
    bool m_bHostLocked = true;

    enum { IDD = IDD_MAINDLG };

    using ThreadCreator = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                          LPDWORD);

    CMainDlg();

    BOOL PreTranslateMessage(MSG* pMsg) override;
    BOOL OnIdle() override;
    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                              DWORD dwMsgMapID) override;

    WizardPage GetPage() const { return static_cast<WizardPage>(m_nPage); }
    CInstallManager& GetInstallManager() { return m_installManager; }

    // Test seam: how the worker thread is created. The program always uses CreateThread.
    static void SetThreadCreatorForTesting(ThreadCreator creator);
    // Benchmark seam: without turns the worker's steps never wait for the dialog's queue.
    static void SetTurnsForTesting(bool enabled);

    LRESULT OnInitDialog();
    LRESULT OnDestroy();
    LRESULT OnOK();
    LRESULT OnCancel();
    LRESULT OnNext();
    LRESULT OnDownload();
    LRESULT OnCloseButton();

    LRESULT OnInstallBegin();
    LRESULT OnInstallEnd();
    LRESULT OnItemBegin(WPARAM wParam, LPARAM lParam);
    LRESULT OnItemDone(WPARAM wParam, LPARAM lParam);
    LRESULT OnStep();
    LRESULT OnItemFailed(WPARAM wParam, LPARAM lParam);
    LRESULT OnPackageBad(WPARAM wParam);

private:
    void ShowFirstPage();
    void ShowWelcomePage();
    void ShowUpToDatePage();
    void ShowHostNotFoundPage();
    void StartInstall();
    void ShowFinishedPage();
    void ResizeMessageLine(bool grow);
    int MessageLineGrowth() const;
    bool StartInstallThread();
    bool LaunchHostAndNotify();

    void Close(int quitCode);
    void FocusControl(HWND hControl);
    void SetCloseItemEnabled(bool enabled);
    LRESULT ShowItemText(WPARAM wParam, LPARAM lParam, const wchar_t* installFormat, const wchar_t* upgradeFormat);
    void ShowTextLine(const std::wstring& text);
    void SetProgressRange(uint32_t total);
    // Every step is a PBM_DELTAPOS to the bar, but the bar itself would invalidate and repaint
    // on each, which costs as much as the worker's message. Its subclass therefore answers
    // positive steps itself and hands their sum to the bar before any other message, so every
    // answer (PBM_GETPOS included) stays exact; RepaintProgress hands them over now.
    // Subclassed through GWLP_WNDPROC: the common controls' own subclassing keeps its data in
    // window properties, and reading one per step costs about as much as the repaint did.
    static LRESULT CALLBACK ProgressProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void RepaintProgress();
    // The worker's steps come before this thread's posted messages and input; while those
    // wait, the dialog asks the worker for a turn (WizardMessages.h).
    void SetTurnWanted(bool wanted);

    int32_t m_nPage;
    bool m_bSingleEntry;
    HWND m_hMsgLine;
    HWND m_hList;
    HWND m_hProgress;
    HWND m_hCheck;
    HWND m_hNext;
    HWND m_hDownload;
    HWND m_hCancel;
    CInstallManager m_installManager;
    InstallThreadParam m_threadParam;
    qb::ScopedHandle m_hInstallThread;

    qb::ScopedIcon m_bigIcon;
    qb::ScopedIcon m_smallIcon;
    WNDPROC m_progressProc;    // the bar's own procedure
    uint32_t m_nPendingSteps;  // steps answered by the subclass, not yet shown by the bar
    int32_t m_nPendingBase;    // the bar's position and upper bound when they began
    int32_t m_nPendingHigh;
    DWORD m_progressPaintTick;
    bool m_bHandingOver;  // the held-back steps are being handed to the bar
    DWORD m_turnCheckTick;  // when the dialog last looked at its queue during steps
    bool m_bTurnWanted;
    qb::ScopedHandle m_turnTaken;  // set while no turn is wanted (WizardMessages.h)
    bool m_bTurnsPaused;  // a turn went untaken: this thread runs a loop of its own
};
