#include "install/OutputFile.h"

#include <algorithm>
#include <cstring>

#include "install/InstallEngine.h"

bool COutputFile::Open(const wchar_t* path) {
    m_file.reset(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    m_buffer.resize(OUTPUT_BUFFER_BYTES);
    m_used = 0;
    m_failed = !m_file;
    return !m_failed;
}

bool COutputFile::Write(const void* data, size_t count) {
    if (m_failed || !m_file) return false;
    const char* bytes = static_cast<const char*>(data);
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

bool COutputFile::Flush() {
    size_t done = 0;
    while (done < m_used) {
        DWORD written = 0;
        if (!WriteFile(m_file.get(), &m_buffer[done], static_cast<DWORD>(m_used - done), &written, nullptr) ||
            written == 0) {
            m_failed = true;
            return false;
        }
        done += written;
    }
    m_used = 0;
    return true;
}

bool COutputFile::Close() {
    if (!m_file) return false;
    const bool flushed = !m_failed && Flush();
    const bool closed = CloseHandle(m_file.release()) != FALSE;
    return flushed && closed;
}
