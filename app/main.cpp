#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "app/MainDlg.h"
#include "app/WizardTexts.h"
#include "framework/AppModule.h"
#include "host/HostLock.h"
#include "install/Recovery.h"

// One dialog handle for every process started from this executable file: GCC marks the
// section shared and ld keeps it so (characteristics 0xD0000040), so a second start finds
// the first dialog.
HWND g_hWndMainDlg __attribute__((section("Shared_S"), shared)) = nullptr;

namespace {

int Run(LPWSTR /*lpCmdLine*/, int nCmdShow) {
    CMessageLoop theLoop;
    g_appModule.AddMessageLoop(&theLoop);
    // Destroyed on return, with the plan it holds: only after the loop has left the module.
    CMainDlg dlgMain;

    int result = 0;
    if (dlgMain.Create(nullptr, 0) == nullptr) {
        // A dialog that ended itself while initialising (the plan could not be built) has
        // posted its quit code already; that code, not "no dialog", is the outcome.
        MSG quit;
        if (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) result = static_cast<int>(quit.wParam);
    } else {
        g_hWndMainDlg = dlgMain.m_hWnd;
        dlgMain.ShowWindow(nCmdShow);
        result = theLoop.Run();
    }

    g_appModule.RemoveMessageLoop();
    return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR lpCmdLine, int nCmdShow) {
    HWND other = g_hWndMainDlg;
    if (other != nullptr && ::IsWindow(other)) {
        ::ShowWindow(other, SW_SHOWNORMAL);
        ::BringWindowToTop(other);
        ::SetActiveWindow(other);
        ::SetForegroundWindow(other);
        return WIZ_EXIT_ALREADY_RUNNING;
    }

    // One wizard at a time works on a host, whatever folder it was started from; the one
    // that holds the lock first settles what a wizard killed earlier left behind.
    qb::ScopedHandle hostLock;
    if (AcquireHostInstallLock(hostLock) == HostLockResult::Busy) {
        ::MessageBoxW(nullptr, WIZ_TEXT_ANOTHER_INSTALL, WIZ_TEXT_TITLE, MB_OK | MB_ICONINFORMATION);
        return WIZ_EXIT_CANCELLED;
    }
    if (hostLock) RecoverInterruptedInstall();

    ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    g_appModule.Init(nullptr, hInstance);

    const int result = Run(lpCmdLine, nCmdShow);

    g_appModule.Term();
    ::CoUninitialize();
    return result;
}
