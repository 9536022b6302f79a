#include "app/KeptCopy.h"

#include "app/CommandLine.h"
#include "app/LogReporter.h"
#include "app/RemovalQuestion.h"
#include "app/WizardStart.h"
#include "app/WizardTexts.h"
#include "host/HostPaths.h"
#include "install/RecordRemoval.h"

bool IsKeptCopy() {
    std::wstring folder;
    return RunningAsKeptCopy(folder);
}

int RemoveKeptSetup(bool silent, CRunLog& log) {
    auto box = [silent](const wchar_t* text, UINT type) {
        if (!silent) MessageBoxW(nullptr, text, WIZ_TEXT_TITLE, type);
    };
    std::wstring folder;
    RemovalRecord record;
    if (!RunningAsKeptCopy(folder) || !ReadRemovalRecord(folder, record)) {
        log.Line(L"the removal record beside this copy cannot be read: " + folder);
        box(WIZ_TEXT_REMOVE_FAILED, MB_OK | MB_ICONERROR);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    // A copy of the folder anywhere else (a backup, an administrator looking at it) must not
    // act for the real one, nor delete what lies beside it.
    std::wstring where;
    if (!RunsFromOwnRecordFolder(record.setupId, where)) {
        log.Line(L"this copy does not run from the record folder of setup " + record.setupId + L" but from " + where +
                 L": nothing removed");
        box(WIZ_TEXT_REMOVE_FAILED, MB_OK | MB_ICONERROR);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    log.Line(L"removal from the record of setup " + record.setupId + L" in " + folder);
    const std::vector<CRemovalRecord> records = RemovalRecordsOf(record);

    CWizardStart start(log);
    const WizardStartResult started = start.RunForRecords(records);
    // Where the host's data folder is gone, nothing of the setup is left in it: the record
    // and the entry still go.
    const bool hostThere = started != WizardStartResult::NoHost;
    if (hostThere && started != WizardStartResult::Ready) return ExitOfStart(started, silent);

    CRemovalLog reporter(log);
    bool failed = false;
    RemovalAnswer answer = RemovalAnswer::NothingListed;
    std::wstring dataDir;
    if (hostThere) {
        // By hand the question lists what would go now; every file is matched again as it goes.
        if (!silent) answer = AskRemoval(records, log);
        if (answer == RemovalAnswer::No) return WIZ_EXIT_USER_DECLINED;
        failed = !RemoveInstalledDictionaries(records, reporter);
        reporter.LogResults();
        GetDictDataDir(dataDir);
    }

    DWORD error = ERROR_SUCCESS;
    const bool allGone = SettleRecord(folder, record, dataDir, [&log](const std::wstring& line) { log.Line(line); }, error);
    if (error != ERROR_SUCCESS) {
        failed = true;
        log.Failure(L"the record or the entry of installed apps could not be settled", error);
    } else if (!allGone) {
        log.Line(L"the entry of installed apps stays: dictionaries of this setup are left");
    }
    const wchar_t* outcome = failed ? WIZ_TEXT_REMOVE_FAILED
                             : answer == RemovalAnswer::Yes ? WIZ_TEXT_REMOVE_DONE
                                                            : WIZ_TEXT_NOTHING_TO_REMOVE;
    box(outcome, MB_OK | (failed ? MB_ICONERROR : MB_ICONINFORMATION));
    return failed ? WIZ_EXIT_INSTALL_FAILED : WIZ_EXIT_SUCCESS;
}
