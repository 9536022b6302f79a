// The wizard's switches. Written with '/' or '-', in any letter case; any other argument that
// starts with one of those is refused, and arguments that do not are ignored.
#pragma once

#include <string>
#include <vector>

// Exit codes as deployment tools read them (the Windows Installer's own numbers).
#define WIZ_EXIT_SUCCESS 0
#define WIZ_EXIT_BAD_SWITCH 87                  // ERROR_INVALID_PARAMETER
#define WIZ_EXIT_USER_DECLINED 1602             // ERROR_INSTALL_USEREXIT
#define WIZ_EXIT_INSTALL_FAILED 1603            // ERROR_INSTALL_FAILURE
#define WIZ_EXIT_ANOTHER_INSTALL 1618           // ERROR_INSTALL_ALREADY_RUNNING

struct WizardOptions {
    bool silent = false;     // /S, /SILENT, /VERYSILENT, /QUIET, /QN
    bool launch = false;     // /LAUNCH
    bool uninstall = false;  // /UNINSTALL
    bool help = false;       // /?, /H, /HELP
    bool log = false;        // /LOG or /LOG=PATH
    std::wstring logPath;    // empty: a dated file in the temporary folder
    std::wstring badSwitch;  // the first switch not understood
};

// The arguments behind the program's name, split as the C runtime splits them.
std::vector<std::wstring> CommandLineArguments(const wchar_t* commandLine);
// False when an argument is a switch the wizard does not know (options.badSwitch names it).
bool ParseArguments(const std::vector<std::wstring>& arguments, WizardOptions& options);
