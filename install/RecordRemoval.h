// Removing a setup by what its record folder says: the files go through the removal engine
// (install/Removal.h) exactly as a setup folder's do: settled by the state table, matched with
// the recorded SHA-256 through the handle that deletes them, a dictionary only whole, only when
// every file of it is ours and only by the ownership rule, its section and picture with its
// last file. What is left of the setup afterwards is settled here, by the same rules for the
// setup folder's removal and the kept copy's.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "install/Removal.h"
#include "install/RemovalRecord.h"

using RemovalNote = std::function<void(const std::wstring&)>;

// The full path of a recorded file in the host's data folder; empty without one.
std::wstring RecordedTargetPath(const RecordedEntry& entry, const std::wstring& dataDir);
// The record's files as the removal engine takes them.
std::vector<CRemovalRecord> RemovalRecordsOf(const RemovalRecord& record);

// What a setup's record folder names: the record, and what an install that was cut off wrote
// ahead in its pending mark (its files join the record's; a file named by both with the same
// bytes once). False when the folder names nothing.
bool ReadSetupClaims(const std::wstring& folder, RemovalRecord& claims);
// What every other setup's record folder names: files no removal of this setup may take.
std::vector<CRemovalRecord> ClaimsOfOtherSetups(const std::wstring& ownFolder);

enum class HostPresence {
    Present,      // its data folder is there
    Gone,         // its registry values are gone: nothing of any setup can be left in it
    Unreachable,  // the registry names a data folder that cannot be reached now
};
// The host-present rule, read afresh from the registry and the file system.
HostPresence CurrentHostPresence();

// The entry rule: which of the record's files the setup still claims after a removal whose
// files came out as results. A file's claim stays only while its dictionary holds something of
// ours the removal could not take (held, unreadable, not settled, a step failed); a file gone,
// another build, or kept by the ownership rule leaves the record, and its detection value the
// entry. With the host gone (results empty, hostGone) nothing stays.
std::vector<RecordedEntry> ClaimsThatStay(const RemovalRecord& record, const std::vector<CRemovalItem>& results,
                                          bool hostGone);

// Writes what stays: the record and the entry naming it, then the pending mark goes; with
// nothing left the entry, the record and the copies go, in that order. note gets one line per
// change. False (error set) when the record or the entry could not be brought in step.
bool SettleClaims(const std::wstring& folder, RemovalRecord& record, const std::vector<RecordedEntry>& stays,
                  const RemovalNote& note, DWORD& error);

// What a removal came to, for the outcome rule.
struct RemovalSummary {
    bool removedAny = false;   // a dictionary file of ours went
    bool leftOurs = false;     // something of ours could not be taken
    bool notSettled = false;   // the record or the entry could not be brought in step
    bool unreadable = false;   // a package of the setup folder could not be read
    bool confirmed = false;    // by hand, the user said yes to a list of what would go
};

enum class RemovalVerdict {
    Removed,        // something went (or the user said yes to what would), nothing of ours is left
    NothingOfOurs,  // nothing of ours was there to go
    Failed,         // something of ours is left, or its record or entry is not in step
};

RemovalSummary SummaryOf(const std::vector<CRemovalItem>& results);
// The outcome rule, decided after the removal for either removal.
RemovalVerdict VerdictOf(const RemovalSummary& summary);

// The files of records through the engine (otherClaims: ClaimsOfOtherSetups), one report per
// file; then, where the setup's record folder names them (claims), the entry rule and the
// settle. One sequence for the setup folder's removal and the kept copy's.
RemovalSummary RemoveAndSettle(const std::wstring& folder, RemovalRecord* claims,
                               const std::vector<CRemovalRecord>& records,
                               const std::vector<CRemovalRecord>& otherClaims, IRemovalReporter& reporter,
                               const RemovalNote& note);
// With the host gone nothing of the setup can be left: its record and entry go.
RemovalSummary SettleForGoneHost(const std::wstring& folder, RemovalRecord& claims, const RemovalNote& note);
// A setup's record folder that names nothing (its record gone or unreadable) can remove
// nothing: it goes, with the entry that would lead to it.
void RemoveFolderNamingNothing(const std::wstring& setupId, const std::wstring& folder, const RemovalNote& note);
