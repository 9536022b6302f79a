// Keeps the session's desktop in use for a whole test run. Wine ends its desktop process a
// moment after the last program using the desktop has ended, and the next program starts it
// again: once per test program, each time a few seconds where 32-bit code is emulated, and a
// program started while the old desktop was closing was once seen waiting forever. The
// keeper uses the desktop and waits until the session's wineserver ends it; it shows nothing.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    if (GetDesktopWindow() == nullptr) return 1;
    Sleep(INFINITE);
    return 0;
}
