// Every text the wizard shows. Formats carry exactly one "%s".
#pragma once

#define WIZ_TEXT_TITLE L"Lexora本地词典包安装向导"

#define WIZ_TEXT_WELCOME_FORMAT \
    L"词典安装向导将帮助您%s本地词典数据。\r\n\r\n点击“下一步”继续安装过程，点击“取消”退出词典安装向导。"
#define WIZ_TEXT_UP_TO_DATE \
    L"您本地安装的词典数据版本高于本次安装向导提供的词典，您无需安装本安装向导提供的词典。"
#define WIZ_TEXT_HOST_NOT_FOUND \
    L"未检测到Lexora2.0安装信息，或您的Lexora2.0安装环境并不完整。建议您重新安装Lexora2.0后再运行本安装向导。"

#define WIZ_TEXT_NEXT L"下一步(&N)>"
#define WIZ_TEXT_CANCEL L"取消(&C)"
#define WIZ_TEXT_CLOSE L"关闭"
#define WIZ_TEXT_DOWNLOAD L"下载 Lexora2.0 "
#define WIZ_TEXT_FINISH L"完成(&C)"
#define WIZ_TEXT_LAUNCH L"立即启动Lexora并应用该词典(&R)"

#include "package/PlanTexts.h"  // WIZ_TEXT_PLAN_FAILED, which dictpack check quotes too

#define WIZ_TEXT_INSTALL_BEGIN_FORMAT L"正在为您安装《%s》，请稍候 ..."
#define WIZ_TEXT_UPGRADE_BEGIN_FORMAT L"正在升级您本地的《%s》，请稍候 ..."
#define WIZ_TEXT_INSTALL_DONE_FORMAT L"已为您成功安装《%s》。"
#define WIZ_TEXT_UPGRADE_DONE_FORMAT L"已为您成功升级《%s》到最新的版本。"
#define WIZ_TEXT_INSTALL_FAILED_FORMAT L"安装《%s》失败!"
#define WIZ_TEXT_UPGRADE_FAILED_FORMAT L"升级《%s》失败!"
#define WIZ_TEXT_PACKAGE_BAD_FORMAT L"“%s” 解压缩失败，请确认您从官方网站下载本词典安装包!"
#define WIZ_TEXT_ERROR_CAPTION L"错误"

// The install could not be started at all: nothing was changed, and the wizard closes by
// itself after this box, so the user is asked to run it again later.
#define WIZ_TEXT_THREAD_FAILED \
    L"无法启动词典安装过程，您本地的词典数据未做任何改动。安装向导将自动关闭，请稍后重新运行本安装向导。"

// Another wizard is installing into the same host: this one changes nothing and ends.
#define WIZ_TEXT_ANOTHER_INSTALL L"另一个词典安装向导正在为Lexora安装词典。请等它结束后再运行本安装向导。"

// The switches and exit codes: a box when run by hand, the log only in silent mode.
#define WIZ_TEXT_USAGE                                                                                   \
    L"用法：Quillbox.exe [/S] [/LOG[=路径]] [/LAUNCH] [/UNINSTALL] [/?]\r\n\r\n"                           \
    L"/S\t静默安装，不显示任何窗口（也可写作 /SILENT、/VERYSILENT、/quiet、/qn）\r\n"                        \
    L"/LOG[=路径]\t把运行过程写入UTF-8日志；不给路径时写到 %ProgramData%\\Quillbox\\Logs\\Quillbox-日期-时间.log\r\n"              \
    L"/LAUNCH\t与 /S 同用：安装结束后启动Lexora并打开词典管理器\r\n"                                         \
    L"/UNINSTALL\t删除本安装向导安装的词典\r\n"                                                             \
    L"/?、/h、/help\t显示本说明\r\n\r\n"                                                                    \
    L"退出码：0 成功；1603 失败；1618 另一个词典安装向导正在运行；87 参数错误；1622 日志无法打开；1602 您取消了删除。"

// Removal: the question, with what goes and what stays, and its outcome.
#define WIZ_TEXT_REMOVE_LIST L"词典安装向导将从您的电脑上删除以下本地词典数据：\r\n"
#define WIZ_TEXT_LEAVE_LIST L"以下词典不是本安装向导安装的版本，将为您保留：\r\n"
#define WIZ_TEXT_KEPT_BEFORE_LIST L"以下词典在本安装向导安装之前已在您的电脑上，将以现有版本为您保留：\r\n"
#define WIZ_TEXT_KEPT_FOR_OTHER_LIST L"以下词典仍被其他词典安装程序使用，将为您保留：\r\n"
#define WIZ_TEXT_REMOVE_QUESTION L"是否继续？"
#define WIZ_TEXT_REMOVE_ITEM_FORMAT L"《%s》\r\n"
#define WIZ_TEXT_NOTHING_TO_REMOVE L"您的电脑上没有本安装向导安装的词典数据，无需删除。"
#define WIZ_TEXT_REMOVE_DONE L"已为您删除本安装向导安装的词典数据。"
#define WIZ_TEXT_REMOVE_FAILED L"部分词典数据未能删除。请关闭Lexora后重新运行本安装向导。"
