// Why an entry failed, in words an administrator can act on: a short token for the run's
// key=value line and a sentence for its log. Each names the step that failed (putting the
// dictionary in place, or registering it in the host's configuration file) and the file or
// folder it failed on.
#pragma once

#include <windows.h>

#include <string>

struct EntryItem;

struct CFailureCause {
    std::wstring m_strReason;  // "registration-read-only"
    std::wstring m_strText;    // "registration: the host's file C:\...\localquerydictcfg.ini is read-only"
};

// error: what RegisterDictionaries gave the entry.
CFailureCause RegistrationFailureCause(DWORD error);
// error: what InstallEntry gave the entry (ERROR_SUCCESS for a damaged entry without a code).
CFailureCause PlacementFailureCause(const EntryItem& entry, DWORD error);
