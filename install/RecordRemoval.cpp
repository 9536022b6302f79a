#include "install/RecordRemoval.h"

#include <set>
#include <unordered_map>

#include "base/CrashPoint.h"
#include "base/NameFolding.h"
#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "install/UninstallEntry.h"
#include "install/WorkFiles.h"

namespace {

bool SameClaim(const RecordedEntry& a, const RecordedEntry& b) {
    return SameFileName(a.targetName, b.targetName) && a.size == b.size && a.sha == b.sha;
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The one way a removal's files can say a file of ours is still there.
bool HoldsSomethingOfOurs(RemovalOutcome outcome) {
    return IsRemovalFailure(outcome) || outcome == RemovalOutcome::LeftWithDictionary;
}

void Settle(const std::wstring& folder, RemovalRecord& claims, const std::vector<RecordedEntry>& stays,
            const RemovalNote& note, RemovalSummary& summary) {
    DWORD error = ERROR_SUCCESS;
    if (SettleClaims(folder, claims, stays, note, error)) {
        if (!stays.empty()) note(L"the entry of installed apps stays: dictionaries of this setup are left");
        return;
    }
    summary.notSettled = true;
    note(L"failed: the removal record or the entry of installed apps could not be brought in step (error " +
         std::to_wstring(error) + L"): a detection rule on the entry would not tell the truth");
}

}  // namespace

std::wstring RecordedTargetPath(const RecordedEntry& entry, const std::wstring& dataDir) {
    if (dataDir.empty()) return std::wstring();
    return dataDir + (dataDir.back() == L'\\' ? L"" : L"\\") + entry.targetName;
}

std::vector<CRemovalRecord> RemovalRecordsOf(const RemovalRecord& record) {
    std::vector<CRemovalRecord> records;
    for (const RecordedEntry& entry : record.entries) {
        CRemovalRecord one;
        one.m_strFileName = entry.targetName;
        one.m_nSize = entry.size;
        one.m_digest = entry.sha;
        one.m_strDictId = entry.dictId;
        one.m_strDisplayName = entry.displayName;
        one.m_bHasPicture = entry.hasPicture;
        one.m_pictureDigest = entry.pictureSha;
        one.m_nOwnership = entry.ownership;
        records.push_back(std::move(one));
    }
    return records;
}

bool ReadSetupClaims(const std::wstring& folder, RemovalRecord& claims) {
    RemovalRecord record, pending;
    const bool hasRecord = ReadRemovalRecord(folder, record);
    const bool hasPending = ReadPendingRecord(folder, pending);
    if (!hasRecord && !hasPending) return false;
    claims = hasRecord ? record : pending;
    if (hasRecord && hasPending) {
        for (const RecordedEntry& ahead : pending.entries) {
            bool named = false;
            for (const RecordedEntry& entry : claims.entries) named = named || SameClaim(entry, ahead);
            if (!named) claims.entries.push_back(ahead);
        }
    }
    return true;
}

std::vector<CRemovalRecord> ClaimsOfOtherSetups(const std::wstring& ownFolder) {
    std::vector<CRemovalRecord> claims;
    for (const std::wstring& folder : AllRecordFolders()) {
        RemovalRecord record;
        if (SameFolder(folder, ownFolder) || !ReadSetupClaims(folder, record)) continue;
        for (CRemovalRecord& claim : RemovalRecordsOf(record)) claims.push_back(std::move(claim));
    }
    return claims;
}

HostPresence CurrentHostPresence() {
    HKEY raw = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, KEY_QUERY_VALUE, &raw);
    if (status == ERROR_FILE_NOT_FOUND) return HostPresence::Gone;
    if (status != ERROR_SUCCESS) return HostPresence::Unreachable;
    qb::ScopedRegKey key(raw);
    DWORD bytes = 0;
    status = RegQueryValueExW(key.get(), HOST_VALUE_LOCATION, nullptr, nullptr, nullptr, &bytes);
    // An empty location names no host, as at every start.
    if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && bytes <= sizeof(wchar_t)))
        return HostPresence::Gone;
    std::wstring location;
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, HOST_VALUE_LOCATION, location))
        return HostPresence::Unreachable;
    if (location.empty()) return HostPresence::Gone;
    return PathExists(location + HOST_DICT_DATA_PIECE) ? HostPresence::Present : HostPresence::Unreachable;
}

std::vector<RecordedEntry> ClaimsThatStay(const RemovalRecord& record, const std::vector<CRemovalItem>& results,
                                          bool hostGone) {
    std::vector<RecordedEntry> stays;
    if (hostGone) return stays;
    std::set<std::wstring> heldDictionaries;
    std::unordered_map<std::wstring, RemovalOutcome> outcomeOf;
    for (const CRemovalItem& item : results) {
        outcomeOf[FoldedName(item.m_pRecord->m_strFileName)] = item.m_nOutcome;
        if (IsRemovalFailure(item.m_nOutcome)) heldDictionaries.insert(FoldedName(item.m_pRecord->m_strDictId));
    }
    for (const RecordedEntry& entry : record.entries) {
        const auto found = outcomeOf.find(FoldedName(entry.targetName));
        if (found == outcomeOf.end() || !HoldsSomethingOfOurs(found->second)) continue;
        if (heldDictionaries.count(FoldedName(entry.dictId))) stays.push_back(entry);
    }
    return stays;
}

bool SettleClaims(const std::wstring& folder, RemovalRecord& record, const std::vector<RecordedEntry>& stays,
                  const RemovalNote& note, DWORD& error) {
    error = ERROR_SUCCESS;
    if (!stays.empty()) {
        const bool changed = stays.size() != record.entries.size();
        record.entries = stays;
        // A setup folder's removal may find a folder whose install never got as far as its copy.
        const std::wstring kept = KeptWizardPath(folder);
        if (!FileExistsAt(kept) && !KeepWizardCopy(folder, error)) return false;
        if (!WriteRemovalRecord(folder, record, error)) return false;
        QB_CRASH_POINT();
        if (changed) note(L"the removal record names what is left");
        // Written again even when the record is unchanged: a kill may have come between the two.
        if (!WriteUninstallEntry(record, kept, false, error)) return false;
        DeleteWorkFile(folder + RECORD_PENDING_NAME);
        return true;
    }
    if (!RemoveUninstallEntry(record.setupId, error)) return false;
    QB_CRASH_POINT();
    note(L"entry of installed apps removed: HKLM\\" + UninstallKeyOf(record.setupId));
    if (!RemoveRecordFolder(folder, error)) return false;
    note(L"removal record and kept copy removed: " + folder);
    return true;
}

RemovalSummary SummaryOf(const std::vector<CRemovalItem>& results) {
    RemovalSummary summary;
    for (const CRemovalItem& item : results) {
        if (item.m_nOutcome == RemovalOutcome::Removed) summary.removedAny = true;
        if (IsRemovalFailure(item.m_nOutcome)) summary.leftOurs = true;
    }
    return summary;
}

RemovalVerdict VerdictOf(const RemovalSummary& summary) {
    if (summary.leftOurs || summary.notSettled || summary.unreadable) return RemovalVerdict::Failed;
    // After a yes to what would go, a file that became another build meanwhile is left as
    // answered for; the outcome does not take the answer back.
    return summary.removedAny || summary.confirmed ? RemovalVerdict::Removed : RemovalVerdict::NothingOfOurs;
}

RemovalSummary RemoveAndSettle(const std::wstring& folder, RemovalRecord* claims,
                               const std::vector<CRemovalRecord>& records,
                               const std::vector<CRemovalRecord>& otherClaims, IRemovalReporter& reporter,
                               const RemovalNote& note) {
    std::vector<CRemovalItem> results;
    RemoveInstalledDictionaries(records, otherClaims, reporter, results);
    RemovalSummary summary = SummaryOf(results);
    if (claims != nullptr) Settle(folder, *claims, ClaimsThatStay(*claims, results, false), note, summary);
    return summary;
}

RemovalSummary SettleForGoneHost(const std::wstring& folder, RemovalRecord& claims, const RemovalNote& note) {
    RemovalSummary summary;
    Settle(folder, claims, ClaimsThatStay(claims, {}, true), note, summary);
    return summary;
}

void RemoveFolderNamingNothing(const std::wstring& setupId, const std::wstring& folder, const RemovalNote& note) {
    DWORD error = ERROR_SUCCESS;
    if (folder.empty() || !FileExistsAt(folder)) return;
    if (RemoveUninstallEntry(setupId, error) && RemoveRecordFolder(folder, error))
        note(L"a removal record's folder without its record removed: " + folder);
}
