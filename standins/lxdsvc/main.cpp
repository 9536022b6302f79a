// Stand-in for the host's background service: no window, alive until the stop event is set
// or it is terminated.
#include <windows.h>

#include "base/ScopedWin.h"
#include "standins/lxdsvc/ServiceStop.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    qb::ScopedHandle stop(CreateEventW(nullptr, TRUE, FALSE, STANDIN_SERVICE_STOP_EVENT));
    if (!stop) return 1;
    WaitForSingleObject(stop.get(), INFINITE);
    return 0;
}
