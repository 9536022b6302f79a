// Stand-in for the host product's executable: a hidden tray window "LXTray" that answers the
// wizard's "show the dictionary manager" broadcast with a small window listing the enabled
// dictionaries. Files beside the executable let tests see and steer what it does.
#pragma once

// Appended with one line per start: "started " and what it was started with (StartRecord.h).
#define LEXORA_STARTS_FILE L"lexora-starts.log"
// Rewritten (UTF-8, one dictionary id and display name per line) each time the broadcast arrives.
#define LEXORA_MANAGER_SHOWN_FILE L"dictmanager-shown.txt"
// When this file lies beside the executable, no tray window is made: a host that never shows it.
#define LEXORA_NO_TRAY_FILE L"notray"

#define LEXORA_MANAGER_TITLE L"Lexora 词典管理"
#define LEXORA_CONFIG_PIECE L"plugin\\localquery\\localquerydictcfg.ini"
