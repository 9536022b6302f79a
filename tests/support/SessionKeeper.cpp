// Keeps the session's desktop in use for a whole test run. Wine ends its desktop process one to
// two seconds after the last program using the desktop has ended, and the next program starts
// it again (a second or more where 32-bit code is emulated); a program started while the old
// desktop was closing was once seen waiting without end. The keeper uses the desktop and waits
// until the session's wineserver ends it; it shows nothing.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    if (GetDesktopWindow() == nullptr) return 1;
    Sleep(INFINITE);
    return 0;
}
