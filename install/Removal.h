// Removing installed dictionaries, and only what is exactly ours, at the moment it is taken.
//
// The engine works from records: a file's name in the host's data directory, its size and
// SHA-256, its dictionary id and the SHA-256 of the dictionary's picture. A setup folder's
// packages give them (RemovalRecordsOf); so can a record kept on the machine after the setup
// folder is gone. Files that share a dictionary id share one section of the host's file.
//
// One dictionary at a time:
//   1. each file is settled by the state table (package/DictFiles.h), as the start does; a
//      file not complete after it (held by another program) is left, and so is its dictionary;
//   2. each file is opened for deletion, sharing reading only, so that nothing can change or
//      replace it from here until it is gone; a file that another program holds gets what an
//      install gives it: the host's service stopped, then one more try. Its bytes are hashed
//      through that handle and compared with the record. A dictionary keeps every file, its
//      section and its picture while any file of it is another build, unreadable, held, not
//      settled, or not named by a record at all; and while any file of it, ours by its bytes,
//      is not the setup's to take by the ownership rule (OwnershipOutcome);
//   3. a backup of the dictionary left by another installer (T + B, none of the engine's
//      evidence) goes first when its bytes are ours too, so that no later start can put it
//      back; a backup that is not ours keeps the whole dictionary;
//   4. an empty unregistered mark beside every file (flushed), then the section out of the
//      host's file (the proven whole-file replacement), then the picture when its bytes are
//      the record's, then each file through its own handle, then its mark.
// A kill leaves each dictionary installed and registered, installed and unregistered with its
// mark (the next install registers it again; the next removal takes it), or removed and
// unregistered.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageSeal.h"

class CInstallManager;
class CPackageReader;
class IRemovalReporter;
struct EntryItem;

// What a setup did to a dictionary file, as its record keeps it.
enum class Ownership {
    New,       // put it where nothing of that name was: the setup's to remove
    Replaced,  // replaced a build that was on the machine before: it stays at the build it has
    Found,     // found the same bytes there and left them: named for detection only
};

struct CRemovalRecord {
    std::wstring m_strFileName;  // "abc.dic": the file's name in the data directory
    uint64_t m_nSize = 0;
    EntryDigest m_digest{};      // SHA-256 of the file's bytes
    std::wstring m_strDictId;    // its section in the host's file
    std::wstring m_strDisplayName;  // for the reports; may be empty
    bool m_bHasPicture = false;     // the setup folder had a picture for the dictionary
    EntryDigest m_pictureDigest{};
    Ownership m_nOwnership = Ownership::New;
};

enum class RemovalOutcome {
    Removed,             // gone (in a preview: would go)
    NotInstalled,        // nothing answers to its name
    LeftDifferent,       // another build, or changed since it was matched: left as it is
    LeftWithDictionary,  // ours, kept with its dictionary: another file of it stays
    KeptBefore,          // on the machine before this setup (replaced or found): stays at its build
    KeptForOther,        // another setup's record claims these bytes: stays for it
    Held,                // another program holds it, the host's service stopped or not (error)
    Unreadable,          // it could not be read (error)
    Unsettled,           // recovery could not make it complete: left as it is
    ForeignBackup,       // a backup that is not ours lies beside it: both stay
    Failed,              // a step failed (error): left installed and unregistered, its mark beside it
};

// True for the outcomes that mean a dictionary of ours may still be on the machine.
bool IsRemovalFailure(RemovalOutcome outcome);

// The ownership rule, for a file whose bytes are matched's: Removed when this setup put it
// there new and no record of another setup (otherClaims) names those bytes; else KeptBefore
// or KeptForOther. Nothing that was on the machine before a setup goes with its removal.
RemovalOutcome OwnershipOutcome(const CRemovalRecord& matched, const std::vector<CRemovalRecord>& otherClaims);

struct CRemovalItem {
    const CRemovalRecord* m_pRecord = nullptr;
    std::wstring m_strPath;  // the file in the data directory, its letter case as found
    RemovalOutcome m_nOutcome = RemovalOutcome::NotInstalled;
    DWORD m_nError = ERROR_SUCCESS;
};

// The records of the setup folder's packages: each entry's size and SHA-256 (the seal's, or
// hashed from the package) and the SHA-256 of the setup folder's picture. A package that
// cannot be read is reported and gives no record; false then.
bool RemovalRecordsOf(const CInstallManager& manager, std::vector<CRemovalRecord>& records,
                      IRemovalReporter& reporter);

// The SHA-256 of an entry's bytes: the seal's where the package is sealed, else hashed from
// the package (reader open on the entry's package).
bool EntryDigestOf(const EntryItem& entry, CPackageReader& reader, EntryDigest& digest);
// The size and SHA-256 of an open file, read from its start to the size it has now.
bool HashOpenFile(HANDLE file, uint64_t& size, EntryDigest& digest);

// What a removal would do with the files as they stand, changing nothing: for the question
// asked before a removal by hand. A held file shows as one that goes: the removal will stop
// the host's service for it, as an install does.
std::vector<CRemovalItem> PreviewRemoval(const std::vector<CRemovalRecord>& records,
                                         const std::vector<CRemovalRecord>& otherClaims);

// Removes what the records name, dictionary by dictionary as above, one report per file, each
// also in results. True when no dictionary of ours was left behind (a different build, or a
// dictionary kept by the ownership rule, counts as done).
bool RemoveInstalledDictionaries(const std::vector<CRemovalRecord>& records,
                                 const std::vector<CRemovalRecord>& otherClaims, IRemovalReporter& reporter,
                                 std::vector<CRemovalItem>& results);
