#include "app/KeptCopy.h"

#include "app/CommandLine.h"
#include "app/LogReporter.h"
#include "app/MainDlg.h"
#include "app/WizardTexts.h"
#include "host/HostLock.h"
#include "host/HostPaths.h"
#include "install/RecordRemoval.h"
#include "install/Recovery.h"

namespace {

std::wstring ItemList(const std::vector<RecordedRemoval>& items, bool goes) {
    std::wstring list, last;
    for (const RecordedRemoval& item : items) {
        if ((item.match == RecordedMatch::Same) != goes || item.match == RecordedMatch::Absent) continue;
        // A dictionary's files share its name: it is listed once.
        if (item.entry.displayName == last) continue;
        last = item.entry.displayName;
        list += FormatWizardText(WIZ_TEXT_REMOVE_ITEM_FORMAT, item.entry.displayName.c_str());
    }
    return list;
}

}  // namespace

bool IsKeptCopy() {
    std::wstring folder;
    return RunningAsKeptCopy(folder);
}

int RemoveKeptSetup(bool silent, CRunLog& log) {
    auto box = [silent](const std::wstring& text, UINT type) {
        return silent ? IDOK : MessageBoxW(nullptr, text.c_str(), WIZ_TEXT_TITLE, type);
    };
    std::wstring folder;
    RemovalRecord record;
    if (!RunningAsKeptCopy(folder) || !ReadRemovalRecord(folder, record)) {
        log.Line(L"the removal record beside this copy cannot be read: " + folder);
        box(WIZ_TEXT_REMOVE_FAILED, MB_OK | MB_ICONERROR);
        return WIZ_EXIT_INSTALL_FAILED;
    }
    log.Line(L"removal from the record of setup " + record.setupId + L" in " + folder);

    // Where the host's data folder is gone, nothing of the setup can be left in it.
    std::wstring dataDir;
    qb::ScopedHandle lock;
    if (!GetDictDataDir(dataDir) || !PathExists(dataDir)) {
        log.Line(L"host's dictionary folder not found: nothing of this setup is left in it");
        dataDir.clear();
    } else {
        DWORD error = ERROR_SUCCESS;
        switch (AcquireHostInstallLock(lock, error)) {
        case HostLockResult::Acquired: break;
        case HostLockResult::Busy:
            log.Line(L"another wizard is working on this host");
            box(WIZ_TEXT_ANOTHER_INSTALL, MB_OK | MB_ICONINFORMATION);
            return WIZ_EXIT_ANOTHER_INSTALL;
        case HostLockResult::NoHost: dataDir.clear(); break;
        case HostLockResult::Failed:
            log.Failure(L"host lock cannot be made", error);
            box(WIZ_TEXT_PLAN_FAILED, MB_OK);
            return WIZ_EXIT_INSTALL_FAILED;
        }
        if (!dataDir.empty()) LogRecovery(log, RecoverInterruptedInstall());
    }

    const std::vector<RecordedRemoval> found = MatchRecordedEntries(record.entries, dataDir);
    const std::wstring goes = ItemList(found, true);
    if (!silent && !goes.empty()) {
        const std::wstring stays = ItemList(found, false);
        const std::wstring question = WIZ_TEXT_REMOVE_LIST + goes + L"\r\n" +
                                      (stays.empty() ? L"" : WIZ_TEXT_LEAVE_LIST + stays + L"\r\n") +
                                      WIZ_TEXT_REMOVE_QUESTION;
        if (box(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            log.Line(L"removal declined");
            return WIZ_EXIT_USER_DECLINED;
        }
    }

    // Only what the question named as going, matched again as it goes.
    std::vector<RecordedEntry> going;
    for (const RecordedRemoval& item : found)
        if (item.match == RecordedMatch::Same) going.push_back(item.entry);
    bool failed = false;
    for (const RecordedRemoval& item : RemoveRecordedEntries(going, dataDir)) {
        const std::wstring target = RecordedTargetPath(item.entry, dataDir);
        if (item.removed) {
            log.Line(L"removed and unregistered: " + target);
        } else if (item.match == RecordedMatch::Same || item.match == RecordedMatch::Unreadable) {
            failed = true;
            log.Failure(L"removal failed: " + target, item.error);
        } else if (item.match == RecordedMatch::Different) {
            log.Line(L"left, changed since it was installed: " + target);
        }
    }
    for (const RecordedRemoval& item : found) {
        const std::wstring target = RecordedTargetPath(item.entry, dataDir);
        if (item.match == RecordedMatch::Different) log.Line(L"left, changed since it was installed: " + target);
        if (item.match == RecordedMatch::Unreadable) log.Failure(L"cannot be compared: " + target, item.error);
        if (item.match == RecordedMatch::Absent) log.Line(L"not installed: " + item.entry.targetName);
    }

    DWORD error = ERROR_SUCCESS;
    const bool allGone = SettleRecord(folder, record, dataDir, [&log](const std::wstring& line) { log.Line(line); }, error);
    if (error != ERROR_SUCCESS) {
        failed = true;
        log.Failure(L"the record or the entry of installed apps could not be settled", error);
    } else if (!allGone) {
        log.Line(L"the entry of installed apps stays: dictionaries of this setup are left");
    }
    if (goes.empty()) {
        box(failed ? WIZ_TEXT_REMOVE_FAILED : WIZ_TEXT_NOTHING_TO_REMOVE,
            MB_OK | (failed ? MB_ICONERROR : MB_ICONINFORMATION));
    } else {
        box(failed ? WIZ_TEXT_REMOVE_FAILED : WIZ_TEXT_REMOVE_DONE, MB_OK | (failed ? MB_ICONERROR : MB_ICONINFORMATION));
    }
    return failed ? WIZ_EXIT_INSTALL_FAILED : WIZ_EXIT_SUCCESS;
}
