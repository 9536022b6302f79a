// Another program keeping a file open, as a virus scanner or the host itself might:
//   FileHolder.exe none|r|rw|rwd PATH EVENT
// opens PATH for reading and writing with no sharing ("none"), sharing reading only ("r"),
// sharing reading and writing but not deletion ("rw"), or sharing all three ("rwd", as a
// virus scanner does), sets the named event, and waits until it is ended.
#include <windows.h>

#include <string>

#include "base/ScopedWin.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const std::wstring mode = argv[1];
    const DWORD share = mode == L"rwd"  ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                        : mode == L"rw" ? FILE_SHARE_READ | FILE_SHARE_WRITE
                        : mode == L"r"  ? FILE_SHARE_READ
                                        : 0;
    qb::ScopedHandle file(
        CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return 3;
    qb::ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    if (!ready) return 4;
    SetEvent(ready.get());
    Sleep(INFINITE);
    return 0;
}
