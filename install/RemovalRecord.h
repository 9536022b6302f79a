// What an install leaves on the machine so that its dictionaries can be removed long after
// its setup folder is gone: a folder of its own under %ProgramData% (SYSTEM and
// Administrators only) with a copy of the wizard, its version library and the record of
// what it installed: per file its name in the host's data folder, size and SHA-256, its
// dictionary and that dictionary's picture's SHA-256. No package data.
//
// Per file the record also keeps what the setup did to it (Ownership, install/Removal.h): put
// it there new, replaced a build that was there before, or found the same bytes and left them.
//
// Every file there is written beside its final name, flushed, and renamed over it in one
// step, so a kill leaves the previous file or the new one, never half of one. Before an
// install from the setup touches its first dictionary, the pending mark beside the record is
// written in the record's own form, naming every dictionary the install is about to place:
// after a kill anywhere, the record and the mark together name everything placed. The next
// run of the same setup settles it (install/RecordKeeper.h); a removal takes both.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/ProtectedFolder.h"
#include "install/Removal.h"
#include "package/PackageSeal.h"

#define RECORD_ROOT_PIECE L"\\Quillbox\\Setups\\"
#define RECORD_REMOVED_PIECE L"\\Quillbox\\Removed\\"
#define RECORD_FILE_NAME L"record.txt"
#define RECORD_PENDING_NAME L"install.pending"
#define RECORD_NEW_SUFFIX L".new"
// The first line of a record file; a file without it is not read.
#define RECORD_SIGNATURE L"Quillbox removal record 1"
// The kept wizard: as its folder, and readable by every user, since Windows' list of installed
// apps shows its icon to whoever opens it.
#define KEPT_WIZARD_SDDL L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)"

struct RecordedEntry {
    std::wstring targetName;  // the file's name in the host's data folder, as installed
    uint64_t size = 0;
    EntryDigest sha{};
    std::wstring dictId;  // lowered
    bool hasPicture = false;
    EntryDigest pictureSha{};
    std::wstring displayName;
    std::wstring dateText;  // the entry's version date, YYYY-MM-DD
    Ownership ownership = Ownership::New;  // a record without it was written before it was kept
};

struct RemovalRecord {
    std::wstring setupId;
    std::wstring displayName;  // the publisher's, or empty
    std::wstring publisher;
    std::vector<RecordedEntry> entries;
};

// %ProgramData%\Quillbox\Setups\<id>\ (with the backslash); false when %ProgramData% is unknown.
bool RecordFolderOf(const std::wstring& setupId, std::wstring& folder);
// The folder of the running executable when it is a kept copy: a record beside it.
bool RunningAsKeptCopy(std::wstring& folder);
// The running executable's own file, links resolved, is Quillbox.exe in the record folder of
// setupId: a kept copy acts only there. Else false, with where it runs.
bool RunsFromOwnRecordFolder(const std::wstring& setupId, std::wstring& where);

bool ReadRemovalRecord(const std::wstring& folder, RemovalRecord& record);
bool WriteRemovalRecord(const std::wstring& folder, const RemovalRecord& record, DWORD& error);
// The pending mark, in the record's form. An empty mark (left by an earlier build of the
// wizard) names nothing and reads false, as does a missing one.
bool ReadPendingRecord(const std::wstring& folder, RemovalRecord& record);
bool WritePendingRecord(const std::wstring& folder, const RemovalRecord& record, DWORD& error);
// Every setup's record folder under %ProgramData%\Quillbox\Setups\ (each with the backslash).
std::vector<std::wstring> AllRecordFolders();
// The running wizard and the version library beside it, copied into folder.
bool KeepWizardCopy(const std::wstring& folder, DWORD& error);
std::wstring KeptWizardPath(const std::wstring& folder);
// The copies, then the record, then the folder, and the folders above it that are left empty.
// Only the names the wizard writes there go; a folder that still holds anything else stays. A copy that is running (the removal's own) cannot be
// deleted: it is moved out of the folder into %ProgramData%\Quillbox\Removed\ under a name of
// its own and deleted when Windows next starts (MOVEFILE_DELAY_UNTIL_REBOOT), so the folder
// goes now and a later install may make it again.
bool RemoveRecordFolder(const std::wstring& folder, DWORD& error);

bool FileDigest(const std::wstring& path, uint64_t& size, EntryDigest& digest);
std::wstring DigestText(const EntryDigest& digest);
