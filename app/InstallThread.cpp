#include "app/InstallThread.h"

#include "app/DialogReporter.h"
#include "app/LogReporter.h"
#include "package/InstallManager.h"

DWORD WINAPI InstallThreadProc(LPVOID parameter) {
    const InstallThreadParam* param = static_cast<const InstallThreadParam*>(parameter);
    if (param == nullptr || param->hDlg == nullptr || param->pManager == nullptr) return 1;
    return param->pManager->RunInstall(param->hDlg) ? 0 : static_cast<DWORD>(-1);
}

bool CInstallManager::RunInstall(HWND hDlg) {
    if (hDlg == nullptr || !IsWindow(hDlg)) return false;
    if (!EnsurePlanned()) return false;
    CDialogReporter reporter(hDlg);
    if (CRunLog* log = CRunLog::OfProcess()) {
        CLogReporter logged(*log, &reporter);
        const bool walked = InstallPlan(logged);
        logged.LogResults(*this);
        return walked;
    }
    return InstallPlan(reporter);
}
