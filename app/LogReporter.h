// The engines' reports as log lines. The install's: the whole report of a silent run, or
// beside the dialog's own reporter when the wizard runs by hand with /LOG. The removal's: for
// the setup folder's removal and the kept copy's alike.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "app/RunLog.h"
#include "install/FailureCause.h"
#include "install/InstallReporter.h"
#include "install/InstallManager.h"

const wchar_t* ActionName(EntryAction action);
// "abc.dic (ABC英汉词典)"
std::wstring EntryName(const EntryItem& entry);
// One line per entry of the plan: its action, the package's date and the installed file's.
// Returns how many entries are to be installed or upgraded.
int LogPlan(CRunLog& log, const CInstallManager& manager);

// The line a script reads for one entry:
//   entry id=abc file=abc.dic action=install outcome=done error=0
// and for a failed one its short reason last:
//   entry id=abc file=abc.dic action=install outcome=failed error=5 reason=registration-read-only
// (values with a space, a quote or an equals sign in double quotes, LogValue).
void LogEntryResult(CRunLog& log, const EntryItem& entry, const wchar_t* action, const wchar_t* outcome, DWORD error,
                    const std::wstring& reason = std::wstring());
void LogEntryResult(CRunLog& log, const std::wstring& dictId, const std::wstring& fileName, const wchar_t* action,
                    const wchar_t* outcome, DWORD error, const std::wstring& reason = std::wstring());

class CLogReporter final : public IInstallReporter {
public:
    // forward: another reporter that gets every report after it is logged, and whose answers
    // count; without one a failure is logged and the install goes on.
    explicit CLogReporter(CRunLog& log, IInstallReporter* forward = nullptr) : m_log(log), m_pForward(forward) {}
    // A failed entry or a package that could not be read.
    bool failed() const { return m_bFailed; }
    // How many entries were put in place and registered.
    int done() const { return m_nDone; }

    void OnInstallBegin() override;
    void OnInstallEnd() override;
    void OnItemBegin(const EntryItem& entry) override;
    void OnStep() override;
    void OnItemDone(const EntryItem& entry) override;
    bool OnItemFailed(const EntryItem& entry, DWORD error) override;
    bool OnPackageBad(const std::wstring& packagePath, DWORD error) override;
    bool OnRegistrationFailed(const EntryItem& entry, DWORD error) override;
    void OnPicture(const EntryItem& entry, const CPictureOutcome& picture) override;

    // One result line per entry of the plan, as the install reported it: done, failed,
    // up-to-date (skipped), or not-reached (the walk was stopped before it).
    void LogResults(const CInstallManager& manager) const;

private:
    struct Result {
        bool done;
        DWORD error;
        std::wstring reason;
    };
    void LogFailure(const EntryItem& entry, DWORD error, const CFailureCause& cause);

    CRunLog& m_log;
    IInstallReporter* m_pForward;
    bool m_bFailed = false;
    int m_nDone = 0;
    std::unordered_map<const EntryItem*, Result> m_results;
    std::unordered_map<std::wstring, DWORD> m_badPackages;
};

// The removal engine's reports as log lines, and at the end one key=value line per file.
class CRemovalLog final : public IRemovalReporter {
public:
    explicit CRemovalLog(CRunLog& log) : m_log(log) {}
    void OnRemovalItem(const CRemovalItem& item) override;
    void OnRemovalPackageBad(const std::wstring& packagePath, DWORD error) override;
    // The key=value lines, one per file, as the install writes its own.
    void LogResults() const;

private:
    struct Result {
        std::wstring dictId, fileName;
        const wchar_t* outcome;
        DWORD error;
    };
    CRunLog& m_log;
    std::vector<Result> m_results;
};
