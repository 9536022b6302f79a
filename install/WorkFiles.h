// The engine's own files beside a dictionary, and the few file operations that must reach
// the disk whole before the next step may rely on them.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "base/WorkFileNames.h"

std::wstring BackupPathOf(const std::wstring& target);
std::wstring NewFilePathOf(const std::wstring& target);
std::wstring CopyFilePathOf(const std::wstring& target);
std::wstring UnregisteredMarkOf(const std::wstring& target);

bool FileExistsAt(const std::wstring& path);
// Nothing answers to the name any more: a delete that only waits for another program leaves it.
bool NameIsFree(const std::wstring& path);
// Deletes a file of the engine's own, read-only or not; true when its name is gone. A delete
// that only waits (another program holds the file open with delete sharing, so the name stays
// until it lets go) is not done.
bool DeleteWorkFile(const std::wstring& path);
// Renames a complete file, the rename itself on the disk before this returns. Never
// replaces an existing file unless asked to.
bool MoveDurably(const std::wstring& from, const std::wstring& to, bool replace);
// Writes source's bytes to destination and flushes them to the disk: a new file
// (CREATE_NEW) or the bytes of an existing one (OPEN_EXISTING, for a file that another
// program holds open and that cannot be renamed). The destination takes the source's
// last-write time. False on any failure; the destination may then be partial.
bool CopyDurably(const std::wstring& source, const std::wstring& destination, DWORD disposition);
// An empty file that is on the disk when this returns true.
bool CreateMarkDurably(const std::wstring& path);

// A work file that is deleted when its owner goes, unless Keep() was called: from then on
// it means something to whoever reads the directory next (install/Recovery.h).
class CWorkFile {
public:
    CWorkFile() = default;
    explicit CWorkFile(std::wstring path) : m_path(std::move(path)) {}
    ~CWorkFile();
    CWorkFile(const CWorkFile&) = delete;
    CWorkFile& operator=(const CWorkFile&) = delete;

    void Own(std::wstring path) {
        m_path = std::move(path);
        m_bKept = false;
    }
    const std::wstring& path() const { return m_path; }
    void Keep() { m_bKept = true; }

private:
    std::wstring m_path;
    bool m_bKept = false;
};
