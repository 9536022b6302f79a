// How the wizard hands over to the host product at the end: its tray window, the message
// that asks it to show the dictionary manager, and the host's download page.
#pragma once

#include <windows.h>

#define HOST_TRAY_WINDOW_TITLE L"LXTray"
#define SHOW_DICT_MANAGER_MSG_NAME L"ShowDictManagerWindow_MsgName"
#define SHOW_DICT_MANAGER_BROADCAST_FLAGS \
    (BSF_IGNORECURRENTTASK | BSF_POSTMESSAGE | BSF_FORCEIFHUNG | BSF_ALLOWSFW)
#define SHOW_DICT_MANAGER_RECIPIENTS (BSM_APPLICATIONS | BSM_ALLDESKTOPS)
#define HOST_DOWNLOAD_URL L"https://www.lexora.example/download/"

// Waits for the host's tray window, then broadcasts the request to show the dictionary
// manager; false when the tray window never came.
bool AskHostToShowDictManager();
