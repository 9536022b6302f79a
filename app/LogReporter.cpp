#include "app/LogReporter.h"

#include <cstring>
#include <cwchar>
#include <unordered_map>

#include "base/NameFolding.h"

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

}  // namespace

const wchar_t* ActionName(EntryAction action) {
    return action == ACTION_INSTALL ? L"install" : action == ACTION_UPGRADE ? L"upgrade" : L"skip";
}

std::wstring EntryName(const EntryItem& entry) {
    return entry.dictId + entry.fileExt + L" (" + entry.displayName + L")";
}

void LogEntryResult(CRunLog& log, const std::wstring& dictId, const std::wstring& fileName, const wchar_t* action,
                    const wchar_t* outcome, DWORD error) {
    log.Line(L"entry id=" + LogValue(dictId) + L" file=" + LogValue(fileName) + L" action=" + action +
             L" outcome=" + outcome + L" error=" + std::to_wstring(error));
}

void LogEntryResult(CRunLog& log, const EntryItem& entry, const wchar_t* action, const wchar_t* outcome, DWORD error) {
    LogEntryResult(log, entry.dictId, entry.dictId + entry.fileExt, action, outcome, error);
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
    m_results[&entry] = {true, ERROR_SUCCESS};
    m_log.Line(L"done and registered: " + EntryName(entry));
    if (m_pForward) m_pForward->OnItemDone(entry);
}

bool CLogReporter::OnItemFailed(const EntryItem& entry, DWORD error) {
    m_bFailed = true;
    m_results[&entry] = {false, error};
    m_log.Failure(L"failed: " + EntryName(entry), error);
    return m_pForward == nullptr || m_pForward->OnItemFailed(entry, error);
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
                LogEntryResult(m_log, entry, action, result->second.done ? L"done" : L"failed", result->second.error);
            else if (bad != m_badPackages.end()) LogEntryResult(m_log, entry, action, L"failed", bad->second);
            else LogEntryResult(m_log, entry, action, L"not-reached", ERROR_SUCCESS);
        }
    }
}
