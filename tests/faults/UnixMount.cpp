#include "tests/faults/UnixMount.h"

#include "base/ScopedWin.h"

namespace faults {

namespace {

#define SHELL_WAIT_MS 60000

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (unsigned char c : text) wide += static_cast<wchar_t>(c);
    return wide;
}

std::string ReadSmallFile(const std::wstring& path) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    char buffer[64];
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::string();
    return std::string(buffer, got);
}

}  // namespace

std::string UnixPath(const std::wstring& path) {
    typedef char*(CDECL * UnixNameFn)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr) return std::string();
    char* unixPath = unixName(path.c_str());
    if (unixPath == nullptr) return std::string();
    std::string result(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

int RunShell(const std::string& script, const std::wstring& marker) {
    // A Unix program started from Wine is not waited for like a Windows one: the script
    // writes its status last, and the status file is polled.
    const std::wstring status = marker + L".status";
    DeleteFileW(status.c_str());
    const std::string unixStatus = UnixPath(status);
    if (unixStatus.empty()) return -1;
    std::wstring commandLine =
        L"sh -c \"" + Widen(script) + L"; echo $? > '" + Widen(unixStatus) + L".tmp'; mv '" + Widen(unixStatus) +
        L".tmp' '" + Widen(unixStatus) + L"'\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return -1;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    for (DWORD waited = 0; waited < SHELL_WAIT_MS; waited += 20) {
        const std::string text = ReadSmallFile(status);
        if (!text.empty()) {
            DeleteFileW(status.c_str());
            return atoi(text.c_str());
        }
        Sleep(20);
    }
    return -1;
}

TmpfsMount::TmpfsMount(const std::wstring& dir, unsigned sizeKb, const std::wstring& scratch)
    : m_unixDir(UnixPath(dir)), m_scratch(scratch + L"\\mount") {
    if (m_unixDir.empty() || m_unixDir.find('\'') != std::string::npos) return;
    m_mounted = RunShell("[ $(id -u) = 0 ] && mount -t tmpfs -o size=" + std::to_string(sizeKb) + "k quillbox-faults '" +
                             m_unixDir + "'",
                         m_scratch) == 0;
}

TmpfsMount::~TmpfsMount() {
    if (m_mounted) RunShell("umount '" + m_unixDir + "' || umount -l '" + m_unixDir + "'", m_scratch);
}

bool TmpfsMount::MakeReadOnly() {
    return m_mounted && RunShell("mount -o remount,ro '" + m_unixDir + "'", m_scratch) == 0;
}

}  // namespace faults
