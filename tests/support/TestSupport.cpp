#include "tests/support/TestSupport.h"

#include <tlhelp32.h>

#include <vector>

#include "base/ScopedWin.h"
#include "host/HostPaths.h"

namespace test {

TempDir::TempDir(const wchar_t* tag) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        wchar_t name[64];
        wsprintfW(name, L"%s_%lu_%u", tag, GetCurrentProcessId(), ++counter);
        m_path = std::wstring(base) + name;
        if (CreateDirectoryW(m_path.c_str(), nullptr)) break;
    }
}

TempDir::~TempDir() { RemoveTree(m_path); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        if (!WriteFile(file.get(), bytes.data() + done, part, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

std::string ReadFileBytes(const std::wstring& path) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    return out;
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MakeDirs(const std::wstring& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\') CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void EndProcessesNamed(const wchar_t* exeName) {
    qb::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    std::vector<qb::ScopedHandle> ended;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (lstrcmpiW(entry.szExeFile, exeName) != 0) continue;
        qb::ScopedHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process || !TerminateProcess(process.get(), 1)) continue;
        ended.push_back(std::move(process));
    }
    for (const qb::ScopedHandle& process : ended) WaitForSingleObject(process.get(), 5000);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

std::wstring ExeDir() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string PatternBytes(size_t n, unsigned seed) {
    std::string out(n, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        state = state * 1103515245u + 12345u;
        out[i] = static_cast<char>(state >> 16);
    }
    return out;
}

HostRegistry::HostRegistry(const wchar_t* location, const wchar_t* executableName) {
    Delete();
    HKEY raw = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr);
    qb::ScopedRegKey key(raw);
    auto set = [&](const wchar_t* name, const wchar_t* value) {
        if (value == nullptr) return;
        RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    };
    set(HOST_VALUE_LOCATION, location);
    set(HOST_VALUE_EXECUTABLE, executableName);
}

HostRegistry::~HostRegistry() { Delete(); }

void HostRegistry::Delete() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY); }

}  // namespace test
