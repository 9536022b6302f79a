// Starting a program for the user signed in to the wizard's own session, as that user.
//
// The wizard runs elevated (its manifest requires it), often with another account's name and
// password; whatever it starts the ordinary way inherits that token. What is meant for the
// user (the host product, the download page, the host's background process) is started as a
// child of the session's shell process instead, through the process attribute that names a
// parent: the child takes its token from that parent, so it runs as the signed-in user and
// unelevated wherever the shell is, with that user's environment block. docs/processes.md
// says why this way and what Wine allows of it.
//
// The shell is the process of the shell window; where none is set, the process of the
// desktop window (under Wine that is explorer.exe; on Windows it is csrss.exe, which runs as
// SYSTEM and is refused below). Nothing is started where no one can see a window, where no
// shell process of this session can be opened, or where it runs as SYSTEM or a service
// account: the outcome then says why.
#pragma once

#include <windows.h>

#include <string>

#define RUNDLL_NAME L"rundll32.exe"
// Hands an address to the user's default program for it, as the user.
#define OPEN_ADDRESS_ENTRY L"url.dll,FileProtocolHandler "

struct SessionStart {
    bool started = false;
    DWORD error = ERROR_SUCCESS;  // of a start that was tried and failed
    DWORD processId = 0;
    std::wstring account;  // DOMAIN\name of the started program's token, where it can be read
    bool elevated = false;
    std::wstring shell;  // "explorer.exe (process 64)"
    std::wstring why;    // why nothing was started
};

// Starts exe with arguments (may be empty), its current directory folder (may be empty: the
// wizard's own is not passed on then, the exe's folder is used). With onlyAs (DOMAIN\name),
// nothing is started where the signed-in user is known to be another account.
SessionStart StartAsSessionUser(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                                const std::wstring& onlyAs = std::wstring());
// Opens a web address in the signed-in user's browser, as that user.
SessionStart OpenAddressAsSessionUser(const std::wstring& address);

// The account of a process's token (DOMAIN\name), and whether it is elevated; false when the
// token cannot be read.
bool ProcessAccount(HANDLE process, std::wstring& account, bool& elevated);

// One log line: "started WHAT as ACCOUNT (not elevated), process N, child of SHELL" or
// "did not start WHAT: WHY".
std::wstring DescribeStart(const std::wstring& what, const SessionStart& start);
