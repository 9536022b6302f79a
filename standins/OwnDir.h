// The folder of the running stand-in program, with a trailing backslash; empty if unknown.
#pragma once

#include <windows.h>

#include <string>

namespace standin {

inline std::wstring OwnDir() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

}  // namespace standin
