// The file an entry is extracted into: created or truncated, shared for reading and
// writing, written through a fixed buffer. Every write and the close report failure, so a
// full disk never passes for a complete file.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "base/ScopedWin.h"

class COutputFile {
public:
    COutputFile() = default;
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    bool Open(const wchar_t* path);
    bool Write(const void* data, size_t count);
    // Writes what is buffered and closes; false when either failed or an earlier write did.
    bool Close();

private:
    bool Flush();

    qb::ScopedHandle m_file;
    std::vector<char> m_buffer;
    size_t m_used = 0;
    bool m_failed = false;
};
