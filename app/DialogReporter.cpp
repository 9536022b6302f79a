#include "app/DialogReporter.h"

#include "app/WizardMessages.h"
#include "install/InstallManager.h"

LRESULT CDialogReporter::SendEntryMessage(UINT message, const EntryItem& entry) {
    return SendMessageW(m_hDlg, message, reinterpret_cast<WPARAM>(entry.displayName.c_str()),
                        static_cast<LPARAM>(entry.action));
}

void CDialogReporter::OnInstallBegin() { SendMessageW(m_hDlg, WM_WIZ_INSTALL_BEGIN, 0, 0); }
void CDialogReporter::OnInstallEnd() { SendMessageW(m_hDlg, WM_WIZ_INSTALL_END, 0, 0); }
void CDialogReporter::OnItemBegin(const EntryItem& entry) { SendEntryMessage(WM_WIZ_ITEM_BEGIN, entry); }
void CDialogReporter::OnStep() {
    SendMessageW(m_hDlg, WM_WIZ_STEP, 0, 0);
    // Read from this process's own copy of the window's data: costs nothing per step.
    const HANDLE turnTaken = reinterpret_cast<HANDLE>(GetWindowLongPtrW(m_hDlg, GWLP_USERDATA));
    if (turnTaken != nullptr) WaitForSingleObject(turnTaken, WIZ_TURN_MAX_MS);
}
void CDialogReporter::OnItemDone(const EntryItem& entry) { SendEntryMessage(WM_WIZ_ITEM_DONE, entry); }

// The dialog shows no error codes; the code is for reporters that log.
bool CDialogReporter::OnItemFailed(const EntryItem& entry, DWORD /*error*/) {
    return SendEntryMessage(WM_WIZ_ITEM_FAILED, entry) == 1;
}

bool CDialogReporter::OnPackageBad(const std::wstring& packagePath, DWORD /*error*/) {
    return SendMessageW(m_hDlg, WM_WIZ_PACKAGE_BAD, reinterpret_cast<WPARAM>(packagePath.c_str()), 0) == 1;
}
