#include "install/OutputFile.h"

#include <algorithm>
#include <cstring>

#include "base/CrashPoint.h"
#include "install/InstallEngine.h"

bool COutputFile::Open(const wchar_t* path, DWORD disposition) {
    m_file.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    m_buffer.resize(OUTPUT_BUFFER_BYTES);
    m_used = 0;
    m_failed = !m_file;
    return !m_failed;
}

bool COutputFile::Write(const void* data, size_t count) {
    if (m_failed || !m_file) return false;
    const char* bytes = static_cast<const char*>(data);
    // A stretch larger than the buffer goes out from where it lies, without a copy (in parts
    // of the buffer's size: one write of megabytes costs several times as much under Wine).
    if (count >= m_buffer.size()) return Flush() && WriteAll(bytes, count);
    while (count > 0) {
        if (m_used == m_buffer.size() && !Flush()) return false;
        const size_t part = std::min(count, m_buffer.size() - m_used);
        std::memcpy(&m_buffer[m_used], bytes, part);
        m_used += part;
        bytes += part;
        count -= part;
    }
    return true;
}

bool COutputFile::WriteAll(const char* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        DWORD written = 0;
        const size_t part = std::min(count - done, OUTPUT_BUFFER_BYTES);
        if (!WriteFile(m_file.get(), bytes + done, static_cast<DWORD>(part), &written, nullptr) ||
            written == 0) {
            m_failed = true;
            return false;
        }
        done += written;
    }
    return true;
}

bool COutputFile::Flush() {
    if (!WriteAll(m_buffer.data(), m_used)) return false;
    m_used = 0;
    return true;
}

bool COutputFile::Commit(const FILETIME* lastWrite) {
    if (!m_file) return false;
    bool ok = !m_failed && Flush();
    QB_CRASH_POINT();  // every byte written, the old length not yet cut: a rewrite in place is partial here
    ok = ok && SetEndOfFile(m_file.get());
    if (ok && lastWrite != nullptr) ok = SetFileTime(m_file.get(), nullptr, nullptr, lastWrite) != FALSE;
    if (ok) ok = FlushFileBuffers(m_file.get()) != FALSE;
    const bool closed = CloseHandle(m_file.release()) != FALSE;
    return ok && closed;
}
