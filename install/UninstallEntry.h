// The setup's entry in Windows' list of installed apps, in the registry view a 32-bit
// installer writes (on 64-bit Windows under WOW6432Node), and beside it one value per
// installed dictionary for deployment tools' detection rules:
//   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillbox.<setup id>
//   ...\Quillbox.<setup id>\Dictionaries, value <dictionary id> = its version date
// The entry is written after the record it points to, its name last (Windows lists only
// entries with a name), and removed name first, before the record.
#pragma once

#include <windows.h>

#include <string>

#include "install/RemovalRecord.h"

#define UNINSTALL_ROOT_KEY L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
#define UNINSTALL_KEY_PREFIX L"Quillbox."
#define UNINSTALL_DICTIONARIES_KEY L"Dictionaries"
#define UNINSTALL_SWITCH L"/UNINSTALL"
#define UNINSTALL_QUIET_SWITCHES L"/UNINSTALL /S"
// The name shown when the publisher gave none: the dictionaries' names, joined so.
#define UNINSTALL_NAME_SEPARATOR L"、"
#define UNINSTALL_NAME_FALLBACK L"Lexora本地词典"
constexpr size_t UNINSTALL_NAME_MAX_UNITS = 200;

// HKLM\<UNINSTALL_ROOT_KEY>\Quillbox.<setup id>
std::wstring UninstallKeyOf(const std::wstring& setupId);
// What the entry shows, for the wizard and for dictpack check alike.
std::wstring UninstallDisplayName(const std::wstring& publisherName, const std::vector<std::wstring>& dictionaryNames);
std::wstring UninstallDisplayVersion(const RemovalRecord& record);

// installedNow: InstallDate becomes today; otherwise it stays as it was (and is today when absent).
bool WriteUninstallEntry(const RemovalRecord& record, const std::wstring& keptExe, bool installedNow, DWORD& error);
// True when the entry is gone (or was never there).
bool RemoveUninstallEntry(const std::wstring& setupId, DWORD& error);
