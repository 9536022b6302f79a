#include "app/HostNotify.h"

#include "base/WaitLog.h"
#include "host/ProcessControl.h"

bool AskHostToShowDictManager() {
    HWND tray = nullptr;
    const DWORD start = ::GetTickCount();
    for (int look = 0; look < POLL_COUNT; ++look) {
        tray = ::FindWindowW(nullptr, HOST_TRAY_WINDOW_TITLE);
        if (tray != nullptr) break;
        WaitAnsweringSentMessages(POLL_INTERVAL_MS);
    }
    qb::ReportWait(L"the host's tray window " HOST_TRAY_WINDOW_TITLE, start,
                   tray != nullptr ? WAIT_OUTCOME_CAME : WAIT_OUTCOME_NEVER_CAME);
    if (tray == nullptr) return false;

    const UINT message = ::RegisterWindowMessageW(SHOW_DICT_MANAGER_MSG_NAME);
    if (message == 0) return true;
    DWORD recipients = SHOW_DICT_MANAGER_RECIPIENTS;
    ::BroadcastSystemMessageW(SHOW_DICT_MANAGER_BROADCAST_FLAGS, &recipients, message, 0, 0);
    return true;
}
