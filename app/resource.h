// Resource and control ids; shared by the resource script and the code.
#pragma once

#define IDI_MAINDLG 128
#define IDD_MAINDLG 129

#define IDC_STC_MAINDLG_TIPINFO 1000
#define IDC_PRG_MAINDLG_PROGRESS 1001
#define IDC_BTN_MAINDLG_NEXT 1002
#define IDC_BTN_MAINDLG_DOWNLOAD 1003
#define IDC_BTN_MAINDLG_CANCEL 1004
#define IDC_LST_MAINDLG_INFO 1006
#define IDC_CHK_MAINDLG_LAUNCH 1008
