// Stand-in for the host's background service: no window, alive until the stop event is set
// or it is terminated.
#include <windows.h>

#include <string>

#include "base/ScopedWin.h"
#include "standins/OwnDir.h"
#include "standins/StartRecord.h"
#include "standins/lxdsvc/ServiceStop.h"

namespace {

// The file named in the hold file, opened without sharing; nothing when none is named.
qb::ScopedHandle HoldNamedFile(const std::wstring& dir) {
    qb::ScopedHandle named(CreateFileW((dir + STANDIN_SERVICE_HOLD_FILE).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!named) return qb::ScopedHandle();
    wchar_t path[MAX_PATH + 1] = {};
    DWORD read = 0;
    ReadFile(named.get(), path, MAX_PATH * sizeof(wchar_t), &read, nullptr);
    return qb::ScopedHandle(CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring dir = standin::OwnDir();
    standin::AppendLine(dir + STANDIN_SERVICE_STARTS_FILE, standin::StartRecord());
    qb::ScopedHandle stop(CreateEventW(nullptr, TRUE, FALSE, STANDIN_SERVICE_STOP_EVENT));
    if (!stop) return 1;
    const qb::ScopedHandle held = HoldNamedFile(dir);
    WaitForSingleObject(stop.get(), INFINITE);
    return 0;
}
