// The file an entry is extracted into: shared for reading and writing, written through a
// fixed buffer. Every write and the commit report failure, so a full disk never passes for
// a complete file.
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

    // disposition: CREATE_ALWAYS, CREATE_NEW, or OPEN_EXISTING to rewrite a file's bytes
    // where it is (its length is cut to what was written at the commit).
    bool Open(const wchar_t* path, DWORD disposition = CREATE_ALWAYS);
    bool Write(const void* data, size_t count);
    // Writes what is buffered, ends the file there, gives it lastWrite when not null, has
    // the system put it on the disk and closes it; false when any of it failed or an
    // earlier write did. A file closed without a commit may be partial.
    bool Commit(const FILETIME* lastWrite = nullptr);

private:
    bool Flush();
    bool WriteAll(const char* bytes, size_t count);

    qb::ScopedHandle m_file;
    std::vector<char> m_buffer;
    size_t m_used = 0;
    bool m_failed = false;
};
