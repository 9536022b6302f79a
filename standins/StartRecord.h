// What a stand-in was started with, as one line for the files tests read: the elevation and
// account of its token, the program that started it and its current directory.
//   "elevated=0 user=VM\root parent=UserShell.exe dir=C:\x\Lexora"
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "base/ScopedWin.h"

namespace standin {

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

inline std::wstring ParentExeName() {
    qb::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    if (!snapshot || !Process32FirstW(snapshot.get(), &entry)) return L"?";
    do {
        if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
    } while (Process32NextW(snapshot.get(), &entry));
    Process32FirstW(snapshot.get(), &entry);
    do {
        if (entry.th32ProcessID == parent) return entry.szExeFile;
    } while (Process32NextW(snapshot.get(), &entry));
    return L"?";
}

inline std::string StartRecord() {
    std::wstring line = L"elevated=?";
    HANDLE raw = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        qb::ScopedHandle token(raw);
        TOKEN_ELEVATION elevation = {};
        DWORD needed = 0;
        if (GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &needed))
            line = elevation.TokenIsElevated ? L"elevated=1" : L"elevated=0";
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
        std::vector<unsigned char> user(needed > 0 ? needed : 1);
        wchar_t name[256], domain[256];
        DWORD nameLength = 256, domainLength = 256;
        SID_NAME_USE use;
        if (GetTokenInformation(token.get(), TokenUser, user.data(), needed, &needed) &&
            LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, name, &nameLength, domain,
                              &domainLength, &use))
            line += L" user=" + std::wstring(domain) + L"\\" + name;
    }
    wchar_t dir[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, dir);
    line += L" parent=" + ParentExeName() + L" dir=" + dir;
    return Utf8(line);
}

inline void AppendLine(const std::wstring& path, const std::string& line) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace standin
