#include "app/HostNotify.h"

#include "host/ProcessControl.h"

bool AskHostToShowDictManager() {
    HWND tray = nullptr;
    for (int look = 0; look < POLL_COUNT; ++look) {
        tray = ::FindWindowW(nullptr, HOST_TRAY_WINDOW_TITLE);
        if (tray != nullptr) break;
        WaitAnsweringSentMessages(POLL_INTERVAL_MS);
    }
    if (tray == nullptr) return false;

    const UINT message = ::RegisterWindowMessageW(SHOW_DICT_MANAGER_MSG_NAME);
    if (message == 0) return true;
    DWORD recipients = SHOW_DICT_MANAGER_RECIPIENTS;
    ::BroadcastSystemMessageW(SHOW_DICT_MANAGER_BROADCAST_FLAGS, &recipients, message, 0, 0);
    return true;
}
