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
