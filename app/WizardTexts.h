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

#define WIZ_TEXT_PLAN_FAILED L"fail"

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
