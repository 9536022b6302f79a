// Another program keeping a file open, as a virus scanner or the host itself might:
//   FileHolder.exe none|r|rw|rwd PATH EVENT
//   FileHolder.exe scan PATH EVENT UNTIL   (below)
// opens PATH for reading and writing with no sharing ("none"), sharing reading only ("r"),
// sharing reading and writing but not deletion ("rw"), or sharing all three ("rwd", as a
// virus scanner does), sets the named event, and waits until it is ended.
#include <windows.h>

#include <string>

#include "base/ScopedWin.h"

namespace {

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// A scanner that reads a file the moment it appears: it opens PATH for reading, sharing
// reading and writing but not deletion, as soon as PATH exists, sets the event, keeps it open
// until UNTIL exists and for a moment after, then exits.
int Scan(const wchar_t* path, const wchar_t* event, const wchar_t* until) {
    qb::ScopedHandle file;
    for (int waited = 0; !file && waited < 60000; ++waited) {
        if (Exists(path))
            file.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
        if (!file) Sleep(1);
    }
    if (!file) return 3;
    qb::ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, event));
    if (ready) SetEvent(ready.get());
    for (int waited = 0; !Exists(until) && waited < 60000; ++waited) Sleep(1);
    Sleep(300);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"scan") return Scan(argv[2], argv[3], argv[4]);
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
