#include "install/RemovalRecord.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

#include "base/CrashPoint.h"
#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "install/InstallEngine.h"
#include "install/OutputFile.h"
#include "install/Removal.h"
#include "install/SetupIdentity.h"
#include "install/WorkFiles.h"
#include "package/VersionLibrary.h"

namespace {

#define KEPT_WIZARD_NAME L"Quillbox.exe"
#define RECORD_KEY_SETUP L"setup="
#define RECORD_KEY_NAME L"name="
#define RECORD_KEY_PUBLISHER L"publisher="
#define RECORD_KEY_ENTRY L"entry="
#define RECORD_NO_PICTURE L"-"
#define RECORD_OWNERSHIP_NEW L"new"
#define RECORD_OWNERSHIP_REPLACED L"replaced"
#define RECORD_OWNERSHIP_FOUND L"found"

std::wstring Sanitized(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
    return text;
}

bool ParseDigest(const std::wstring& text, EntryDigest& digest) {
    if (text.size() != digest.size() * 2) return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        unsigned value = 0;
        for (size_t k = 0; k < 2; ++k) {
            const wchar_t c = text[i * 2 + k];
            const int nibble = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
            if (nibble < 0) return false;
            value = value * 16 + static_cast<unsigned>(nibble);
        }
        digest[i] = static_cast<uint8_t>(value);
    }
    return true;
}

std::vector<std::wstring> Fields(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find(L'\t', start);
        fields.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) return fields;
        start = tab + 1;
    }
}

const wchar_t* OwnershipText(Ownership ownership) {
    switch (ownership) {
    case Ownership::New: return RECORD_OWNERSHIP_NEW;
    case Ownership::Replaced: return RECORD_OWNERSHIP_REPLACED;
    case Ownership::Found: break;
    }
    return RECORD_OWNERSHIP_FOUND;
}

// A record written before ownership was kept has none: its setup counted every file as its
// own then, and keeps doing so. A word not known here never lets a file go.
Ownership ParseOwnership(const std::vector<std::wstring>& fields) {
    if (fields.size() < 8 || fields[7] == RECORD_OWNERSHIP_NEW) return Ownership::New;
    return fields[7] == RECORD_OWNERSHIP_REPLACED ? Ownership::Replaced : Ownership::Found;
}

bool ParseEntry(const std::wstring& line, RecordedEntry& entry) {
    const std::vector<std::wstring> fields = Fields(line);
    if (fields.size() < 7 || fields.size() > 8 || fields[0].empty() || fields[3].empty()) return false;
    entry.targetName = fields[0];
    wchar_t* end = nullptr;
    entry.size = std::wcstoull(fields[1].c_str(), &end, 10);
    if (fields[1].empty() || *end != 0) return false;
    if (!ParseDigest(fields[2], entry.sha)) return false;
    entry.dictId = fields[3];
    entry.hasPicture = fields[4] != RECORD_NO_PICTURE;
    if (entry.hasPicture && !ParseDigest(fields[4], entry.pictureSha)) return false;
    entry.dateText = fields[5];
    entry.displayName = fields[6];
    entry.ownership = ParseOwnership(fields);
    // A name that is not a plain file name in the data folder (nor, as the picture, in the
    // image folder) is never acted on.
    for (const std::wstring* name : {&entry.targetName, &entry.dictId})
        if (name->find_first_of(L"\\/:") != std::wstring::npos || *name == L"." || *name == L"..") return false;
    return true;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix, std::wstring& rest) {
    const size_t length = wcslen(prefix);
    if (text.compare(0, length, prefix) != 0) return false;
    rest = text.substr(length);
    return true;
}

// A file of ours is always new: a leftover at its name (whoever made it, a link included)
// is deleted first, and the file is made with CREATE_NEW, never opened as it was found.
bool FreeTheName(const std::wstring& path, DWORD& error) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES && !NameIsItself(path)) {
        error = ERROR_REPARSE_POINT_ENCOUNTERED;
        return false;
    }
    if (DeleteWorkFile(path)) return true;
    error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_ALREADY_EXISTS;
    return false;
}

bool PutPermissions(const std::wstring& path, const wchar_t* sddl, DWORD& error) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw, nullptr)) {
        error = GetLastError();
        return false;
    }
    qb::ScopedLocalMemory descriptor(raw);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(raw, &present, &dacl, &defaulted);
    qb::ScopedHandle file(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        error = GetLastError();
        return false;
    }
    error = SetSecurityInfo(file.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, dacl, nullptr);
    return error == ERROR_SUCCESS;
}

// fresh renamed over name, never over a link there that this system would follow.
bool RenameOver(const std::wstring& fresh, const std::wstring& name, DWORD& error) {
    if (GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES && !NameIsItself(name)) {
        error = ERROR_REPARSE_POINT_ENCOUNTERED;
        return false;
    }
    if (MoveDurably(fresh, name, true)) return true;
    error = GetLastError();
    return false;
}

// source's bytes under folder\name, flushed and then renamed over it; sddl, when given, is put
// on the new file before it takes the name.
bool ReplaceDurably(const std::wstring& source, const std::wstring& destination, DWORD& error,
                    const wchar_t* sddl = nullptr) {
    const std::wstring fresh = destination + RECORD_NEW_SUFFIX;
    if (!FreeTheName(fresh, error)) return false;
    if (!CopyDurably(source, fresh, CREATE_NEW)) {
        error = GetLastError();
        DeleteWorkFile(fresh);
        return false;
    }
    if (sddl != nullptr && !PutPermissions(fresh, sddl, error)) {
        DeleteWorkFile(fresh);
        return false;
    }
    QB_CRASH_POINT();
    if (!RenameOver(fresh, destination, error)) {
        DeleteWorkFile(fresh);
        return false;
    }
    return true;
}

bool ModulePath(std::wstring& path) {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return false;
    path.assign(buffer, length);
    return true;
}

// The names the wizard writes into a record's folder, besides the record: the only ones its
// removal deletes. The wizard last: the running copy is the one that may have nowhere to go.
const wchar_t* const RECORD_FOLDER_NAMES[] = {
    VERSION_LIBRARY_NAME, VERSION_LIBRARY_NAME RECORD_NEW_SUFFIX, KEPT_WIZARD_NAME RECORD_NEW_SUFFIX,
    RECORD_FILE_NAME RECORD_NEW_SUFFIX, RECORD_PENDING_NAME RECORD_NEW_SUFFIX, RECORD_PENDING_NAME, KEPT_WIZARD_NAME,
};

// A file that cannot go now (it runs) leaves the folder and goes when Windows next starts.
bool MoveOutForReboot(const std::wstring& path, DWORD& error) {
    std::wstring base, removed;
    if (!ProgramDataDir(base)) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    removed = base + RECORD_REMOVED_PIECE;
    if (!MakeProtectedFolder(removed, error)) return false;
    wchar_t unique[64];
    swprintf(unique, 64, L"%08lx-%08lx-", static_cast<unsigned long>(GetCurrentProcessId()),
             static_cast<unsigned long>(GetTickCount()));
    const std::wstring aside = removed + unique + path.substr(path.find_last_of(L'\\') + 1);
    if (!MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        return false;
    }
    MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return true;
}

// What earlier removals moved out and can be deleted by now. Only once the folder is proven
// ours (a planted folder or link is moved aside, whole, or refused), and only files that are
// themselves: a link found there is left alone, and so is what it leads to.
void SweepRemoved() {
    std::wstring base;
    if (!ProgramDataDir(base)) return;
    const std::wstring removed = base + RECORD_REMOVED_PIECE;
    DWORD error = ERROR_SUCCESS;
    if (GetFileAttributesW(removed.c_str()) == INVALID_FILE_ATTRIBUTES || !MakeProtectedFolder(removed, error)) return;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((removed + L"*").c_str(), &data));
    if (!find) return;
    do {
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring path = removed + data.cFileName;
        if (NameIsItself(path)) DeleteWorkFile(path);
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    RemoveEmptyProtectedFolders(removed);
}

}  // namespace

bool RecordFolderOf(const std::wstring& setupId, std::wstring& folder) {
    std::wstring base;
    if (setupId.empty() || !ProgramDataDir(base)) return false;
    folder = base + RECORD_ROOT_PIECE + setupId + L"\\";
    return true;
}

bool RunningAsKeptCopy(std::wstring& folder) {
    std::wstring dir;
    if (!GetModuleDir(dir) || !FileExistsAt(dir + RECORD_FILE_NAME)) return false;
    folder = dir;
    return true;
}

bool RunsFromOwnRecordFolder(const std::wstring& setupId, std::wstring& where) {
    std::wstring exe, base;
    if (!ModulePath(exe) || !ProgramDataDir(base)) return false;
    qb::ScopedHandle self(CreateFileW(exe.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    qb::ScopedHandle programData(CreateFileW(base.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    where = self ? FinalPathOf(self.get()) : exe;
    if (!self || !programData || !IsSafeSetupId(setupId)) return false;
    const std::wstring programDataFinal = FinalPathOf(programData.get());
    const std::wstring own = programDataFinal + RECORD_ROOT_PIECE + setupId + L"\\" KEPT_WIZARD_NAME;
    return !programDataFinal.empty() &&
           CompareStringOrdinal(where.c_str(), -1, own.c_str(), -1, TRUE) == CSTR_EQUAL;
}

namespace {

bool ReadRecordFile(const std::wstring& path, RemovalRecord& record) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 2 || size.QuadPart > 16 * 1024 * 1024 ||
        size.QuadPart % 2 != 0)
        return false;
    std::wstring text(static_cast<size_t>(size.QuadPart) / 2, L'\0');
    DWORD got = 0;
    if (!ReadFile(file.get(), &text[0], static_cast<DWORD>(size.QuadPart), &got, nullptr) || got != size.QuadPart ||
        text[0] != 0xFEFF)
        return false;
    RemovalRecord read;
    size_t start = 1;
    bool signed_ = false;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(start, end - start);
        start = end + 2;
        std::wstring rest;
        if (!signed_) {
            if (line != RECORD_SIGNATURE) return false;
            signed_ = true;
        } else if (StartsWith(line, RECORD_KEY_SETUP, rest)) {
            read.setupId = rest;
        } else if (StartsWith(line, RECORD_KEY_NAME, rest)) {
            read.displayName = rest;
        } else if (StartsWith(line, RECORD_KEY_PUBLISHER, rest)) {
            read.publisher = rest;
        } else if (StartsWith(line, RECORD_KEY_ENTRY, rest)) {
            RecordedEntry entry;
            if (!ParseEntry(rest, entry)) return false;
            read.entries.push_back(entry);
        }
    }
    if (!signed_) return false;
    record = std::move(read);
    return true;
}

bool WriteRecordFile(const std::wstring& path, const RemovalRecord& record, DWORD& error) {
    std::wstring text = L"\xFEFF" RECORD_SIGNATURE L"\r\n";
    text += RECORD_KEY_SETUP + Sanitized(record.setupId) + L"\r\n";
    text += RECORD_KEY_NAME + Sanitized(record.displayName) + L"\r\n";
    text += RECORD_KEY_PUBLISHER + Sanitized(record.publisher) + L"\r\n";
    for (const RecordedEntry& entry : record.entries) {
        text += RECORD_KEY_ENTRY + Sanitized(entry.targetName) + L"\t" + std::to_wstring(entry.size) + L"\t" +
                DigestText(entry.sha) + L"\t" + Sanitized(entry.dictId) + L"\t" +
                (entry.hasPicture ? DigestText(entry.pictureSha) : std::wstring(RECORD_NO_PICTURE)) + L"\t" +
                Sanitized(entry.dateText) + L"\t" + Sanitized(entry.displayName) + L"\t" +
                OwnershipText(entry.ownership) + L"\r\n";
    }
    const std::wstring fresh = path + RECORD_NEW_SUFFIX;
    if (!FreeTheName(fresh, error)) return false;
    COutputFile output;
    if (!output.Open(fresh.c_str(), CREATE_NEW) || !output.Write(text.data(), text.size() * sizeof(wchar_t)) ||
        !output.Commit()) {
        error = GetLastError();
        DeleteWorkFile(fresh);
        return false;
    }
    QB_CRASH_POINT();
    if (!RenameOver(fresh, path, error)) {
        DeleteWorkFile(fresh);
        return false;
    }
    error = ERROR_SUCCESS;
    return true;
}

}  // namespace

bool ReadRemovalRecord(const std::wstring& folder, RemovalRecord& record) {
    return ReadRecordFile(folder + RECORD_FILE_NAME, record);
}

bool WriteRemovalRecord(const std::wstring& folder, const RemovalRecord& record, DWORD& error) {
    return WriteRecordFile(folder + RECORD_FILE_NAME, record, error);
}

bool ReadPendingRecord(const std::wstring& folder, RemovalRecord& record) {
    return ReadRecordFile(folder + RECORD_PENDING_NAME, record);
}

bool WritePendingRecord(const std::wstring& folder, const RemovalRecord& record, DWORD& error) {
    return WriteRecordFile(folder + RECORD_PENDING_NAME, record, error);
}

std::vector<std::wstring> AllRecordFolders() {
    std::vector<std::wstring> folders;
    std::wstring base;
    if (!ProgramDataDir(base)) return folders;
    const std::wstring root = base + RECORD_ROOT_PIECE;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((root + L"*").c_str(), &data));
    if (!find) return folders;
    do {
        const std::wstring name = data.cFileName;
        // A link planted among the setups' folders is nobody's record.
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            name != L"." && name != L"..")
            folders.push_back(root + name + L"\\");
    } while (FindNextFileW(find.get(), &data));
    return folders;
}

bool KeepWizardCopy(const std::wstring& folder, DWORD& error) {
    std::wstring exe, dir;
    if (!ModulePath(exe) || !GetModuleDir(dir)) {
        error = GetLastError();
        return false;
    }
    if (!ReplaceDurably(exe, folder + KEPT_WIZARD_NAME, error, KEPT_WIZARD_SDDL)) return false;
    QB_CRASH_POINT();
    const std::wstring library = dir + VERSION_LIBRARY_NAME;
    if (FileExistsAt(library) && !ReplaceDurably(library, folder + VERSION_LIBRARY_NAME, error)) return false;
    error = ERROR_SUCCESS;
    return true;
}

std::wstring KeptWizardPath(const std::wstring& folder) { return folder + KEPT_WIZARD_NAME; }

bool RemoveRecordFolder(const std::wstring& folder, DWORD& error) {
    SweepRemoved();
    // A folder that is a process's current directory cannot be removed; the kept copy starts
    // in its own.
    wchar_t system[MAX_PATH] = {};
    if (GetSystemDirectoryW(system, MAX_PATH)) SetCurrentDirectoryW(system);
    error = ERROR_SUCCESS;
    // The copies first and the record last: while the record is there, the folder is a
    // setup's that the next removal or install settles; a copy without it would not know
    // itself.
    std::wstring running;
    ModulePath(running);
    for (const wchar_t* name : RECORD_FOLDER_NAMES) {
        const std::wstring path = folder + name;
        // A link at one of our names (made before the folder was ours) is left with what it leads to.
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || !NameIsItself(path)) continue;
        // The running copy is never deleted in place, whatever the system would allow.
        const bool runs = CompareStringOrdinal(path.c_str(), -1, running.c_str(), -1, TRUE) == CSTR_EQUAL;
        if (!runs && DeleteWorkFile(path)) continue;
        if (!MoveOutForReboot(path, error)) return false;
        QB_CRASH_POINT();
    }
    QB_CRASH_POINT();
    if (NameIsItself(folder + RECORD_FILE_NAME) && !DeleteWorkFile(folder + RECORD_FILE_NAME)) {
        error = GetLastError();
        return false;
    }
    QB_CRASH_POINT();
    if (!RemoveDirectoryW(folder.c_str())) {
        // What someone else put here is not ours to delete: the folder stays with it.
        if (GetLastError() == ERROR_DIR_NOT_EMPTY) return true;
        error = GetLastError();
        return false;
    }
    RemoveEmptyProtectedFolders(folder.substr(0, folder.find_last_of(L'\\', folder.size() - 2)));
    return true;
}

bool FileDigest(const std::wstring& path, uint64_t& size, EntryDigest& digest) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return file && HashOpenFile(file.get(), size, digest);
}

std::wstring DigestText(const EntryDigest& digest) {
    std::wstring text;
    for (uint8_t byte : digest) {
        wchar_t hex[3];
        swprintf(hex, 3, L"%02x", byte);
        text += hex;
    }
    return text;
}
