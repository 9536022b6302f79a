#include "base/CrashPoint.h"

#ifdef QB_CRASH_POINTS
#include <windows.h>

#include <cwchar>

namespace qb {

void CrashPoint() {
    static long target = -1;
    static long passed = 0;
    if (target < 0) {
        wchar_t text[32] = {};
        target = GetEnvironmentVariableW(QB_CRASH_AT_VARIABLE, text, 32) ? std::wcstol(text, nullptr, 10) : 0;
    }
    if (target > 0 && InterlockedIncrement(&passed) == target) TerminateProcess(GetCurrentProcess(), QB_CRASH_EXIT_CODE);
}

}  // namespace qb
#endif
