#include "app/KeptCopy.h"

#include "app/CommandLine.h"
#include "app/LogReporter.h"
#include "app/RemovalQuestion.h"
#include "app/WizardStart.h"
#include "app/WizardTexts.h"
#include "install/RecordRemoval.h"

bool IsKeptCopy() {
    std::wstring folder;
    return RunningAsKeptCopy(folder);
}

int RemoveKeptSetup(bool silent, CRunLog& log) {
    const RemovalNote note = [&log](const std::wstring& line) { log.Line(line); };
    std::wstring folder;
    if (!RunningAsKeptCopy(folder)) {
        log.Line(L"no removal record beside this copy");
        return FinishRemoval(RemovalVerdict::Failed, silent, log);
    }
    // A copy of the folder anywhere else (a backup, an administrator looking at it) must not
    // act for the real one, nor delete what lies beside it. Only the setup id is read here;
    // what the record claims is read again once the host's lock is held.
    RemovalRecord own;
    if (!ReadSetupClaims(folder, own)) {
        log.Line(L"the removal record beside this copy cannot be read: " + folder);
        return FinishRemoval(RemovalVerdict::Failed, silent, log);
    }
    std::wstring where;
    if (!RunsFromOwnRecordFolder(own.setupId, where)) {
        log.Line(L"this copy does not run from the record folder of setup " + own.setupId + L" but from " + where +
                 L": nothing removed");
        return FinishRemoval(RemovalVerdict::Failed, silent, log);
    }
    const HostPresence host = CurrentHostPresence();
    RemovalRecord claims;
    bool read = false;
    std::vector<CRemovalRecord> records;
    CWizardStart start(log);
    if (host == HostPresence::Present) {
        const WizardStartResult started = start.RunForRecords([&] {
            read = ReadSetupClaims(folder, claims);
            records = RemovalRecordsOf(claims);
            return records;
        });
        if (started != WizardStartResult::Ready) return ExitOfStart(started, silent);
    } else {
        read = ReadSetupClaims(folder, claims);
    }
    if (!read || claims.setupId != own.setupId) {
        log.Line(L"the removal record beside this copy cannot be read: " + folder);
        return FinishRemoval(RemovalVerdict::Failed, silent, log);
    }
    log.Line(L"removal from the record of setup " + claims.setupId + L" in " + folder);

    if (host == HostPresence::Gone) {
        log.Line(L"the host's registry values are gone: nothing of this setup can be left on this PC");
        return FinishRemoval(VerdictOf(SettleForGoneHost(folder, claims, note)), silent, log);
    }
    if (host == HostPresence::Unreachable) {
        log.Line(L"failed: the host's dictionary folder cannot be reached: the record and the entry stay");
        return FinishRemoval(RemovalVerdict::Failed, silent, log);
    }
    const std::vector<CRemovalRecord> otherClaims = ClaimsOfOtherSetups(folder);
    // By hand the question lists what would go now; every file is matched again as it goes.
    const RemovalAnswer answer = silent ? RemovalAnswer::NothingListed : AskRemoval(records, otherClaims, log);
    if (answer == RemovalAnswer::No) return WIZ_EXIT_USER_DECLINED;
    CRemovalLog reporter(log);
    RemovalSummary summary = RemoveAndSettle(folder, &claims, records, otherClaims, reporter, note);
    summary.confirmed = answer == RemovalAnswer::Yes;
    reporter.LogResults();
    return FinishRemoval(VerdictOf(summary), silent, log);
}
