// What the install engine tells whoever watches it: the wizard's dialog through its
// messages, or a run without a window through a log. The engine knows only this interface.
#pragma once

#include <windows.h>

#include <string>

struct EntryItem;

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
