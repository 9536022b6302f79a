// The wizard's switches. Written with '/' or '-', in any letter case. Every other argument is
// refused: a switch not known, a word, a dash or slash that only looks like one.
#pragma once

#include <string>
#include <vector>

// Exit codes as deployment tools read them (the Windows Installer's own numbers).
#define WIZ_EXIT_SUCCESS 0
#define WIZ_EXIT_BAD_SWITCH 87                  // ERROR_INVALID_PARAMETER
#define WIZ_EXIT_USER_DECLINED 1602             // ERROR_INSTALL_USEREXIT
#define WIZ_EXIT_INSTALL_FAILED 1603            // ERROR_INSTALL_FAILURE
#define WIZ_EXIT_ANOTHER_INSTALL 1618           // ERROR_INSTALL_ALREADY_RUNNING
#define WIZ_EXIT_LOG_FAILED 1622                // ERROR_INSTALL_LOG_FAILURE

struct WizardOptions {
    bool silent = false;     // /S, /SILENT, /VERYSILENT, /QUIET, /QN
    bool launch = false;     // /LAUNCH
    bool uninstall = false;  // /UNINSTALL
    bool help = false;       // /?, /H, /HELP
    bool log = false;        // /LOG or /LOG=PATH
    std::wstring logPath;    // empty: a dated file in the wizard's log folder
    std::wstring badSwitch;  // the first argument not understood
};

// The arguments behind the program's name, split as the C runtime splits them.
std::vector<std::wstring> CommandLineArguments(const wchar_t* commandLine);
// False when an argument is not understood (options.badSwitch names the first). A refused
// argument that still shows a silent switch (a dash or slash that only looks like one, or a
// quote after a backslash that joined "/LOG=C:\dir\" with the "/S" behind it) makes the run
// silent all the same: whoever wrote it is not there to close a box.
bool ParseArguments(const std::vector<std::wstring>& arguments, WizardOptions& options);
