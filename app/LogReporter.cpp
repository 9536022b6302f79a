#include "app/LogReporter.h"

#include <cstring>
#include <cwchar>
#include <unordered_map>

#include "base/NameFolding.h"
#include "install/FailureCause.h"
#include "install/Removal.h"

namespace {

std::wstring DateText(const DictDate& date) {
    SYSTEMTIME time;
    std::memcpy(&time, date.bytes, sizeof time);
    if (time.wYear == 0) return L"none";
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
             time.wSecond);
    return text;
}

const wchar_t* RemovalOutcomeName(RemovalOutcome outcome) {
    switch (outcome) {
    case RemovalOutcome::Removed: return L"removed";
    case RemovalOutcome::NotInstalled: return L"not-installed";
    case RemovalOutcome::LeftDifferent:
    case RemovalOutcome::LeftWithDictionary: return L"left";
    case RemovalOutcome::KeptBefore:
    case RemovalOutcome::KeptForOther: return L"kept";
    case RemovalOutcome::Held: return L"held";
    case RemovalOutcome::Unreadable: return L"unreadable";
    case RemovalOutcome::Unsettled: return L"unsettled";
    case RemovalOutcome::ForeignBackup: return L"left-foreign-backup";
    case RemovalOutcome::Failed: break;
    }
    return L"failed";
}

}  // namespace

const wchar_t* ActionName(EntryAction action) {
    return action == ACTION_INSTALL ? L"install" : action == ACTION_UPGRADE ? L"upgrade" : L"skip";
}

std::wstring EntryName(const EntryItem& entry) {
    return entry.dictId + entry.fileExt + L" (" + entry.displayName + L")";
}

void LogEntryResult(CRunLog& log, const std::wstring& dictId, const std::wstring& fileName, const wchar_t* action,
                    const wchar_t* outcome, DWORD error, const std::wstring& reason) {
    log.Line(L"entry id=" + LogValue(dictId) + L" file=" + LogValue(fileName) + L" action=" + action +
             L" outcome=" + outcome + L" error=" + std::to_wstring(error) +
             (reason.empty() ? std::wstring() : L" reason=" + LogValue(reason)));
}

void LogEntryResult(CRunLog& log, const EntryItem& entry, const wchar_t* action, const wchar_t* outcome, DWORD error,
                    const std::wstring& reason) {
    LogEntryResult(log, entry.dictId, entry.dictId + entry.fileExt, action, outcome, error, reason);
}

int LogPlan(CRunLog& log, const CInstallManager& manager) {
    std::unordered_map<std::wstring, const InstalledDictItem*> installedAt;
    for (const InstalledDictItem& item : manager.Installed()) installedAt.emplace(FoldedName(item.filePath), &item);
    int planned = 0;
    for (const PackageItem& package : manager.Packages()) {
        if (!package.entries) continue;
        for (const EntryItem& entry : *package.entries) {
            const auto installed = installedAt.find(FoldedName(entry.targetPath));
            log.Line(L"plan: " + EntryName(entry) + L" " + ActionName(entry.action) + L", package date " +
                     entry.dateText + L", installed date " +
                     (installed != installedAt.end() ? DateText(installed->second->fileDate) : L"none"));
            if (entry.action != ACTION_SKIP) ++planned;
        }
    }
    return planned;
}

void CLogReporter::OnInstallBegin() {
    m_log.Line(L"install begins");
    if (m_pForward) m_pForward->OnInstallBegin();
}

void CLogReporter::OnInstallEnd() {
    m_log.Line(L"install ends");
    if (m_pForward) m_pForward->OnInstallEnd();
}

void CLogReporter::OnItemBegin(const EntryItem& entry) {
    m_log.Line(std::wstring(ActionName(entry.action)) + L" " + EntryName(entry) + L" to " + entry.targetPath);
    if (m_pForward) m_pForward->OnItemBegin(entry);
}

void CLogReporter::OnStep() {
    if (m_pForward) m_pForward->OnStep();
}

void CLogReporter::OnItemDone(const EntryItem& entry) {
    m_results[&entry] = {true, ERROR_SUCCESS, {}};
    ++m_nDone;
    m_log.Line(L"done and registered: " + EntryName(entry));
    if (m_pForward) m_pForward->OnItemDone(entry);
}

void CLogReporter::LogFailure(const EntryItem& entry, DWORD error, const CFailureCause& cause) {
    m_bFailed = true;
    m_results[&entry] = {false, error, cause.m_strReason};
    m_log.Failure(L"failed: " + EntryName(entry) + L": " + cause.m_strText, error);
}

bool CLogReporter::OnItemFailed(const EntryItem& entry, DWORD error) {
    LogFailure(entry, error, PlacementFailureCause(entry, error));
    return m_pForward == nullptr || m_pForward->OnItemFailed(entry, error);
}

bool CLogReporter::OnRegistrationFailed(const EntryItem& entry, DWORD error) {
    LogFailure(entry, error, RegistrationFailureCause(error));
    return m_pForward == nullptr || m_pForward->OnRegistrationFailed(entry, error);
}

void CLogReporter::OnPicture(const EntryItem& entry, const CPictureOutcome& picture) {
    const std::wstring name = EntryName(entry);
    switch (picture.m_nKind) {
    case CPictureOutcome::Copied: m_log.Line(L"picture of " + name + L" copied to " + picture.m_strDestination); break;
    case CPictureOutcome::PutBack:
        m_log.Line(L"picture of " + name + L" was missing, put back: " + picture.m_strDestination);
        break;
    case CPictureOutcome::NoneShipped:
        m_log.Line(L"no picture of " + name + L" in the setup folder: " + picture.m_strSource);
        break;
    case CPictureOutcome::Failed:
        m_log.Failure(L"picture of " + name + L" not copied: " + picture.m_strSource + L" to " +
                          picture.m_strDestination + L" (the dictionary itself is installed)",
                      picture.m_dwError);
        break;
    }
    if (m_pForward) m_pForward->OnPicture(entry, picture);
}

bool CLogReporter::OnPackageBad(const std::wstring& packagePath, DWORD error) {
    m_bFailed = true;
    m_badPackages[packagePath] = error;
    m_log.Failure(L"package cannot be read: " + packagePath, error);
    return m_pForward == nullptr || m_pForward->OnPackageBad(packagePath, error);
}

void CLogReporter::LogResults(const CInstallManager& manager) const {
    for (const PackageItem& package : manager.Packages()) {
        if (!package.entries) continue;
        const auto bad = m_badPackages.find(package.filePath);
        for (const EntryItem& entry : *package.entries) {
            const wchar_t* action = ActionName(entry.action);
            const auto result = m_results.find(&entry);
            if (entry.action == ACTION_SKIP) LogEntryResult(m_log, entry, action, L"up-to-date", ERROR_SUCCESS);
            else if (result != m_results.end())
                LogEntryResult(m_log, entry, action, result->second.done ? L"done" : L"failed", result->second.error,
                               result->second.reason);
            else if (bad != m_badPackages.end()) LogEntryResult(m_log, entry, action, L"failed", bad->second);
            else LogEntryResult(m_log, entry, action, L"not-reached", ERROR_SUCCESS);
        }
    }
}

void CRemovalLog::OnRemovalItem(const CRemovalItem& item) {
    const CRemovalRecord& record = *item.m_pRecord;
    m_results.push_back({record.m_strDictId, record.m_strFileName, RemovalOutcomeName(item.m_nOutcome), item.m_nError});
    const DWORD error = item.m_nError;
    switch (item.m_nOutcome) {
    case RemovalOutcome::Removed: m_log.Line(L"removed and unregistered: " + item.m_strPath); break;
    case RemovalOutcome::NotInstalled:
        m_log.Line(L"not installed: " + record.m_strFileName + L" (" + record.m_strDisplayName + L")");
        break;
    case RemovalOutcome::LeftDifferent: m_log.Line(L"left, a different build: " + item.m_strPath); break;
    case RemovalOutcome::LeftWithDictionary:
        m_log.Line(L"left with its dictionary, another file of which stays: " + item.m_strPath);
        break;
    case RemovalOutcome::KeptBefore:
        m_log.Line(L"kept at the build it has, on this PC before this setup (only the setup's claim goes): " +
                   item.m_strPath);
        break;
    case RemovalOutcome::KeptForOther:
        m_log.Line(L"kept, another setup's record still names it (only this setup's claim goes): " + item.m_strPath);
        break;
    case RemovalOutcome::Held: m_log.Failure(L"left, held by another program: " + item.m_strPath, error); break;
    case RemovalOutcome::Unreadable: m_log.Failure(L"cannot be compared: " + item.m_strPath, error); break;
    case RemovalOutcome::Unsettled: m_log.Line(L"left, not complete after recovery: " + item.m_strPath); break;
    case RemovalOutcome::ForeignBackup:
        m_log.Failure(L"left, beside a backup that is not ours: " + item.m_strPath, error);
        break;
    case RemovalOutcome::Failed: m_log.Failure(L"removal failed: " + item.m_strPath, error); break;
    }
}

void CRemovalLog::OnRemovalPackageBad(const std::wstring& packagePath, DWORD error) {
    m_log.Failure(L"package cannot be read: " + packagePath, error);
}

void CRemovalLog::LogResults() const {
    for (const Result& r : m_results) LogEntryResult(m_log, r.dictId, r.fileName, L"remove", r.outcome, r.error);
}
