#include "app/InstallThread.h"

#include "app/DialogReporter.h"
#include "app/LogReporter.h"
#include "install/RecordKeeper.h"
#include "install/InstallManager.h"

namespace {

// The dialog hears of every step; with a log for the process, the log too; and what is
// installed is kept in the removal record.
bool InstallReportingToDialog(CInstallManager& manager, HWND hDlg) {
    CDialogReporter reporter(hDlg);
    CRunLog* log = CRunLog::OfProcess();
    const RecordNote note = [log](const std::wstring& line) {
        if (log) log->Line(line);
    };
    if (log) {
        CLogReporter logged(*log, &reporter);
        CRecordKeeper keeper(logged, manager.Packages(), note);
        const bool walked = manager.RunInstall(hDlg, keeper);
        logged.LogResults(manager);
        return walked;
    }
    CRecordKeeper keeper(reporter, manager.Packages(), note);
    return manager.RunInstall(hDlg, keeper);
}

}  // namespace

DWORD WINAPI InstallThreadProc(LPVOID parameter) {
    const InstallThreadParam* param = static_cast<const InstallThreadParam*>(parameter);
    if (param == nullptr || param->hDlg == nullptr || param->pManager == nullptr) return 1;
    return InstallReportingToDialog(*param->pManager, param->hDlg) ? 0 : static_cast<DWORD>(-1);
}
