// What the install engine tells whoever watches it: the wizard's dialog through its
// messages, or a run without a window through a log. The engine knows only this interface.
#pragma once

#include <windows.h>

#include <string>

struct EntryItem;

// What became of one dictionary's picture. Pictures are best effort: none of these makes the
// entry fail.
struct CPictureOutcome {
    enum Kind {
        Copied,       // put in place with its dictionary
        NoneShipped,  // the setup folder has no picture for it
        Failed,       // could not be copied (m_dwError)
        PutBack,      // the dictionary was up to date, its missing picture was put in place
    };
    Kind m_nKind = Copied;
    std::wstring m_strSource, m_strDestination;
    DWORD m_dwError = ERROR_SUCCESS;
};

class IInstallReporter {
public:
    virtual void OnInstallBegin() = 0;
    virtual void OnInstallEnd() = 0;
    virtual void OnItemBegin(const EntryItem& entry) = 0;
    // One chunk of the entry copied.
    virtual void OnStep() = 0;
    virtual void OnItemDone(const EntryItem& entry) = 0;
    // error: the Windows error code of the step that failed, or ERROR_SUCCESS when none was
    // given (a refused seal, a package changed since the plan). True to go on.
    virtual bool OnItemFailed(const EntryItem& entry, DWORD error) = 0;
    // The package could not be opened. True to go on.
    virtual bool OnPackageBad(const std::wstring& packagePath, DWORD error) = 0;
    // The entry is in place, but the host's configuration file could not be made to name it
    // (error as for OnItemFailed). Reported as any failed entry unless told apart.
    virtual bool OnRegistrationFailed(const EntryItem& entry, DWORD error) { return OnItemFailed(entry, error); }
    virtual void OnPicture(const EntryItem& /*entry*/, const CPictureOutcome& /*picture*/) {}

protected:
    ~IInstallReporter() = default;
};

struct CRemovalItem;

// What the removal engine (install/Removal.h) tells whoever watches it.
class IRemovalReporter {
public:
    // One file of the records: what became of it.
    virtual void OnRemovalItem(const CRemovalItem& item) = 0;
    // A package of the setup folder could not be read; its entries are not removed.
    virtual void OnRemovalPackageBad(const std::wstring& packagePath, DWORD error) = 0;

protected:
    ~IRemovalReporter() = default;
};
