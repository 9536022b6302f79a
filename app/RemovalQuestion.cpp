#include "app/RemovalQuestion.h"

#include "app/CommandLine.h"
#include "app/MainDlg.h"
#include "app/WizardTexts.h"

namespace {

enum class Listed { Goes, KeptBefore, KeptForOther, Stays };

Listed ListOf(RemovalOutcome outcome) {
    switch (outcome) {
    case RemovalOutcome::Removed: return Listed::Goes;
    case RemovalOutcome::KeptBefore: return Listed::KeptBefore;
    case RemovalOutcome::KeptForOther: return Listed::KeptForOther;
    default: return Listed::Stays;
    }
}

// Each dictionary once: the preview gives its files one after another. A dictionary kept by
// the ownership rule is listed with that reason only.
std::wstring ItemList(const std::vector<CRemovalItem>& items, Listed list) {
    std::wstring text, last;
    for (const CRemovalItem& item : items) {
        if (item.m_nOutcome == RemovalOutcome::NotInstalled || ListOf(item.m_nOutcome) != list) continue;
        if (list == Listed::Stays) {
            bool keptByRule = false;
            for (const CRemovalItem& other : items)
                keptByRule = keptByRule || (other.m_pRecord->m_strDictId == item.m_pRecord->m_strDictId &&
                                            (other.m_nOutcome == RemovalOutcome::KeptBefore ||
                                             other.m_nOutcome == RemovalOutcome::KeptForOther));
            if (keptByRule) continue;
        }
        if (item.m_pRecord->m_strDictId == last) continue;
        last = item.m_pRecord->m_strDictId;
        text += FormatWizardText(WIZ_TEXT_REMOVE_ITEM_FORMAT, item.m_pRecord->m_strDisplayName.c_str());
    }
    return text;
}

std::wstring Section(const wchar_t* heading, const std::wstring& list) {
    return list.empty() ? std::wstring() : heading + list + L"\r\n";
}

}  // namespace

RemovalAnswer AskRemoval(const std::vector<CRemovalRecord>& records, const std::vector<CRemovalRecord>& otherClaims,
                         CRunLog& log) {
    const std::vector<CRemovalItem> preview = PreviewRemoval(records, otherClaims);
    const std::wstring goes = ItemList(preview, Listed::Goes);
    const std::wstring before = ItemList(preview, Listed::KeptBefore);
    const std::wstring forOther = ItemList(preview, Listed::KeptForOther);
    const std::wstring stays = ItemList(preview, Listed::Stays);
    if (goes.empty() && stays.empty() && before.empty() && forOther.empty()) return RemovalAnswer::NothingListed;
    const std::wstring question = Section(WIZ_TEXT_REMOVE_LIST, goes) +
                                  Section(WIZ_TEXT_LEAVE_LIST, stays) +
                                  Section(WIZ_TEXT_KEPT_BEFORE_LIST, before) +
                                  Section(WIZ_TEXT_KEPT_FOR_OTHER_LIST, forOther) + WIZ_TEXT_REMOVE_QUESTION;
    if (MessageBoxW(nullptr, question.c_str(), WIZ_TEXT_TITLE, MB_YESNO | MB_ICONQUESTION) == IDYES)
        return goes.empty() ? RemovalAnswer::Acknowledged : RemovalAnswer::Yes;
    log.Line(L"removal declined");
    return RemovalAnswer::No;
}

int FinishRemoval(RemovalVerdict verdict, bool silent, CRunLog& log) {
    struct Outcome {
        const wchar_t* line;
        const wchar_t* box;
        UINT icon;
        int exitCode;
    };
    static const Outcome removed = {L"removal done: what this setup put on this PC is gone", WIZ_TEXT_REMOVE_DONE,
                                    MB_ICONINFORMATION, WIZ_EXIT_SUCCESS};
    static const Outcome nothing = {L"removal done: nothing this setup put on this PC was there to remove",
                                    WIZ_TEXT_NOTHING_TO_REMOVE, MB_ICONINFORMATION, WIZ_EXIT_SUCCESS};
    static const Outcome failed = {L"removal failed: something of this setup is left, or its record or entry is not in step",
                                   WIZ_TEXT_REMOVE_FAILED, MB_ICONERROR, WIZ_EXIT_INSTALL_FAILED};
    const Outcome& outcome = verdict == RemovalVerdict::Removed         ? removed
                             : verdict == RemovalVerdict::NothingOfOurs ? nothing
                                                                        : failed;
    log.Line(outcome.line);
    if (!silent) MessageBoxW(nullptr, outcome.box, WIZ_TEXT_TITLE, MB_OK | outcome.icon);
    return outcome.exitCode;
}
