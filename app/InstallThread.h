// The one worker thread that carries out the install plan.
#pragma once

#include <windows.h>

class CInstallManager;

struct InstallThreadParam {
    HWND hDlg = nullptr;
    CInstallManager* pManager = nullptr;
};

// 1 for missing parameters, 0 when the install ran to its end, -1 otherwise.
DWORD WINAPI InstallThreadProc(LPVOID parameter);
