// Exit code 2 when GetModuleDir fails; otherwise writes the directory it gave, UTF-16, to
// the file named by the first argument and exits with 0.
#include <windows.h>

#include <string>

#include "host/HostPaths.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 3;
    std::wstring dir = L"unchanged";
    if (!GetModuleDir(dir)) return dir == L"unchanged" ? 2 : 4;
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    WriteFile(file, dir.data(), static_cast<DWORD>(dir.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return 0;
}
