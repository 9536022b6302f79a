// Which setup folder an install came from, as Windows' list of installed apps shows it: an id
// that the same folder always gives (the publisher's, written by dictpack setup into
// setup.ini, else a digest of its packages' names), and the name and publisher to show.
#pragma once

#include <string>
#include <vector>

#define SETUP_INFO_FILE_NAME L"setup.ini"
#define SETUP_INFO_SECTION L"setup"
#define SETUP_KEY_ID L"id"
#define SETUP_KEY_DISPLAY_NAME L"display_name"
#define SETUP_KEY_PUBLISHER L"publisher"
// A digest id: this prefix and 16 hexadecimal digits.
#define SETUP_DIGEST_ID_PREFIX L"pk-"
// An id becomes a folder and a registry key name: at most this many letters, digits, '.',
// '-' and '_', not starting or ending with '.', and no device name (nul, com1, ...), by the
// rule that names a dictionary's file.
constexpr size_t SETUP_ID_MAX_UNITS = 40;
// The rule as dictpack words it, after "at most 40".
#define SETUP_ID_RULE_TEXT \
    " letters, digits, '.', '-' and '_', not starting or ending with '.', and not a device name (nul, com1, ...)"
// Display name and publisher are cut to this many characters.
constexpr size_t SETUP_TEXT_MAX_UNITS = 200;

struct SetupIdentity {
    std::wstring id;
    std::wstring displayName;  // empty: the dictionaries' display names are shown
    std::wstring publisher;    // empty: no publisher is shown
};

bool IsSafeSetupId(const std::wstring& id);
// SETUP_DIGEST_ID_PREFIX and the first 8 bytes of the SHA-256 of the package file names,
// lowered and sorted, one per line: the same folder gives the same id wherever it lies.
std::wstring DigestSetupId(std::vector<std::wstring> packageNames);
// setupDir ends with a backslash or not. An id in setup.ini that is not safe is ignored for
// the digest (dictpack check reports it).
SetupIdentity ReadSetupIdentity(const std::wstring& setupDir, const std::vector<std::wstring>& packageNames);
