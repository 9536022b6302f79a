// The install engine's reports as the worker's messages to the wizard dialog, each sent
// with SendMessageW so that the dialog's handler and the worker never run at once.
#pragma once

#include "install/InstallReporter.h"

class CDialogReporter final : public IInstallReporter {
public:
    explicit CDialogReporter(HWND hDlg) : m_hDlg(hDlg) {}

    void OnInstallBegin() override;
    void OnInstallEnd() override;
    void OnItemBegin(const EntryItem& entry) override;
    void OnStep() override;
    void OnItemDone(const EntryItem& entry) override;
    bool OnItemFailed(const EntryItem& entry, DWORD error) override;
    bool OnPackageBad(const std::wstring& packagePath, DWORD error) override;

private:
    LRESULT SendEntryMessage(UINT message, const EntryItem& entry);

    HWND m_hDlg;
};
