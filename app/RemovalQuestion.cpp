#include "app/RemovalQuestion.h"

#include "app/MainDlg.h"
#include "app/WizardTexts.h"

namespace {

// Each dictionary once: the preview gives its files one after another.
std::wstring ItemList(const std::vector<CRemovalItem>& items, bool goes) {
    std::wstring list, last;
    for (const CRemovalItem& item : items) {
        const bool listed = goes ? item.m_nOutcome == RemovalOutcome::Removed
                                 : item.m_nOutcome != RemovalOutcome::Removed &&
                                       item.m_nOutcome != RemovalOutcome::NotInstalled;
        if (!listed || item.m_pRecord->m_strDictId == last) continue;
        last = item.m_pRecord->m_strDictId;
        list += FormatWizardText(WIZ_TEXT_REMOVE_ITEM_FORMAT, item.m_pRecord->m_strDisplayName.c_str());
    }
    return list;
}

}  // namespace

RemovalAnswer AskRemoval(const std::vector<CRemovalRecord>& records, CRunLog& log) {
    const std::vector<CRemovalItem> preview = PreviewRemoval(records);
    const std::wstring goes = ItemList(preview, true);
    if (goes.empty()) return RemovalAnswer::NothingListed;
    const std::wstring stays = ItemList(preview, false);
    const std::wstring question = WIZ_TEXT_REMOVE_LIST + goes + L"\r\n" +
                                  (stays.empty() ? L"" : WIZ_TEXT_LEAVE_LIST + stays + L"\r\n") +
                                  WIZ_TEXT_REMOVE_QUESTION;
    if (MessageBoxW(nullptr, question.c_str(), WIZ_TEXT_TITLE, MB_YESNO | MB_ICONQUESTION) == IDYES)
        return RemovalAnswer::Yes;
    log.Line(L"removal declined");
    return RemovalAnswer::No;
}
