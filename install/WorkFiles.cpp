#include "install/WorkFiles.h"

#include <vector>

#include "base/ScopedWin.h"
#include "install/InstallEngine.h"
#include "install/OutputFile.h"

std::wstring BackupPathOf(const std::wstring& target) { return target + BACKUP_SUFFIX; }
std::wstring NewFilePathOf(const std::wstring& target) { return target + NEW_FILE_SUFFIX; }
std::wstring CopyFilePathOf(const std::wstring& target) { return target + COPY_FILE_SUFFIX; }
std::wstring UnregisteredMarkOf(const std::wstring& target) { return target + UNREGISTERED_SUFFIX; }

bool FileExistsAt(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Windows refuses to open a file whose delete waits (access denied): only "not found" is gone.
bool NameIsFree(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool DeleteWorkFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return NameIsFree(path);
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    DeleteFileW(path.c_str());
    return NameIsFree(path);
}

CWorkFile::~CWorkFile() {
    if (m_path.empty() || m_bKept) return;
    // The reason of the failure that ends the owner's scope stays for its caller.
    const DWORD error = GetLastError();
    DeleteWorkFile(m_path);
    SetLastError(error);
}

bool MoveDurably(const std::wstring& from, const std::wstring& to, bool replace) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(from.c_str(), to.c_str(), flags) != FALSE;
}

bool CopyDurably(const std::wstring& source, const std::wstring& destination, DWORD disposition) {
    qb::ScopedHandle input(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) return false;
    FILETIME lastWrite;
    if (!GetFileTime(input.get(), nullptr, nullptr, &lastWrite)) return false;
    COutputFile output;
    if (!output.Open(destination.c_str(), disposition)) return false;
    std::vector<char> buffer(OUTPUT_BUFFER_BYTES);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
        if (got == 0) break;
        if (!output.Write(buffer.data(), got)) return false;
    }
    return output.Commit(&lastWrite);
}

bool CreateMarkDurably(const std::wstring& path) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}
