#include "app/LogReporter.h"

const wchar_t* ActionName(EntryAction action) {
    return action == ACTION_INSTALL ? L"install" : action == ACTION_UPGRADE ? L"upgrade" : L"skip";
}

std::wstring EntryName(const EntryItem& entry) {
    return entry.dictId + entry.fileExt + L" (" + entry.displayName + L")";
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
    m_log.Line(L"done and registered: " + EntryName(entry));
    if (m_pForward) m_pForward->OnItemDone(entry);
}

bool CLogReporter::OnItemFailed(const EntryItem& entry, DWORD error) {
    m_bFailed = true;
    m_log.Failure(L"failed: " + EntryName(entry), error);
    return m_pForward == nullptr || m_pForward->OnItemFailed(entry, error);
}

bool CLogReporter::OnPackageBad(const std::wstring& packagePath, DWORD error) {
    m_bFailed = true;
    m_log.Failure(L"package cannot be read: " + packagePath, error);
    return m_pForward == nullptr || m_pForward->OnPackageBad(packagePath, error);
}
