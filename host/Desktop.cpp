#include "host/Desktop.h"

#include <windows.h>

bool NoOneCanSeeWindows(std::wstring& why) {
    wchar_t assumed[4] = {};
    if (GetEnvironmentVariableW(WIZ_ENV_ASSUME_NO_DESKTOP, assumed, 4) == 1 && assumed[0] == L'1') {
        why = WIZ_ENV_ASSUME_NO_DESKTOP L"=1";
        return true;
    }
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) {
        why = L"session 0";
        return true;
    }
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed) &&
        (flags.dwFlags & WSF_VISIBLE) == 0) {
        why = L"a window station without a display";
        return true;
    }
    return false;
}
