// Messages by which the install worker reports to the wizard dialog, all sent with
// SendMessageW. Per-entry messages carry the entry's display name in wParam and its action
// (1 install, 2 upgrade) in lParam.
#pragma once

#include <windows.h>

#define WM_WIZ_INSTALL_BEGIN 3034
#define WM_WIZ_INSTALL_END 3035
#define WM_WIZ_ITEM_BEGIN 3036
#define WM_WIZ_ITEM_DONE 3037
#define WM_WIZ_STEP 3038
#define WM_WIZ_ITEM_FAILED 3039  // answer 1 to go on, anything else stops the worker
#define WM_WIZ_PACKAGE_BAD 3040  // wParam: the package's path; answer 1 to go on

// The dialog's thread answers sent messages before its posted messages and its input, so a
// worker that sends step after step could keep those waiting for the whole install. While the
// dialog has them waiting, its window's GWLP_USERDATA holds an event (0 otherwise) that the
// dialog sets once it has got to them; the worker waits on it before its next message (at
// most WIZ_TURN_MAX_MS). An event, not a poll: a turn then costs the worker what the dialog
// spends on its queue, not a whole timer tick.
#define WIZ_TURN_MAX_MS 200
// The dialog looks at its queue this often while steps arrive.
#define WIZ_TURN_CHECK_MS 10
// What the dialog counts as waiting: posted messages and input. Paints and timers wait for
// the dialog's idle time as before; QS_INPUT is not used, since its newer bits make Windows 7
// refuse the call.
#define WIZ_TURN_QUEUE_FLAGS (QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_HOTKEY | QS_POSTMESSAGE)
