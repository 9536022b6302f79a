#include "app/InstallThread.h"

#include "app/DialogReporter.h"
#include "app/LogReporter.h"
#include "install/RecordKeeper.h"
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
    CRunLog* log = CRunLog::OfProcess();
    const RecordNote note = [log](const std::wstring& line) {
        if (log) log->Line(line);
    };
    if (log) {
        CLogReporter logged(*log, &reporter);
        CRecordKeeper keeper(logged, Packages(), note);
        const bool walked = InstallPlan(keeper);
        logged.LogResults(*this);
        return walked;
    }
    CRecordKeeper keeper(reporter, Packages(), note);
    return InstallPlan(keeper);
}
