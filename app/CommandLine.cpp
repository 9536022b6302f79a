#include "app/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include <initializer_list>

namespace {

const std::initializer_list<const wchar_t*> SILENT_SWITCHES = {L"S", L"SILENT", L"VERYSILENT", L"QUIET", L"QN"};

// Characters that a keyboard layout, a word processor or a copied web page puts where a
// switch's '/' or '-' belongs: dashes, minus signs, full-width and fraction slashes, the
// backslash.
const wchar_t SWITCH_LOOKALIKES[] = L"/-\\\u2010\u2011\u2012\u2013\u2014\u2015\u2212\uFE63\uFF0D\uFF0F\uFF3C\u2044\u2215";

// Characters no file name may hold; a log path with one of them was split wrongly.
const wchar_t PATH_FORBIDDEN[] = L"\"<>|";

bool SameSwitch(const std::wstring& text, const wchar_t* name) {
    return CompareStringOrdinal(text.c_str(), static_cast<int>(text.size()), name, -1, TRUE) == CSTR_EQUAL;
}

bool IsAnyOf(const std::wstring& text, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* name : names)
        if (SameSwitch(text, name)) return true;
    return false;
}

bool IsUsablePath(const std::wstring& path) {
    for (wchar_t c : path)
        if (c < 0x20 || std::wstring(PATH_FORBIDDEN).find(c) != std::wstring::npos) return false;
    return true;
}

// Whether a refused argument still says "silent": any of its words, split at quotes and
// spaces, is a silent switch behind a dash or slash of any kind.
bool ShowsSilentSwitch(const std::wstring& argument) {
    size_t pos = 0;
    while (pos < argument.size()) {
        const size_t end = argument.find_first_of(L"\" \t", pos);
        const std::wstring word = argument.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos);
        const size_t body = word.find_first_not_of(SWITCH_LOOKALIKES);
        if (body != 0 && body != std::wstring::npos && IsAnyOf(word.substr(body), SILENT_SWITCHES)) return true;
        if (end == std::wstring::npos) break;
        pos = end + 1;
    }
    return false;
}

// One argument into the options; false when it is not understood.
bool TakeArgument(const std::wstring& argument, WizardOptions& options) {
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) return false;
    const std::wstring name = argument.substr(1);
    const size_t equals = name.find(L'=');
    if (equals != std::wstring::npos && SameSwitch(name.substr(0, equals), L"LOG")) {
        const std::wstring path = name.substr(equals + 1);
        if (!IsUsablePath(path)) return false;
        options.log = true;
        options.logPath = path;
    } else if (IsAnyOf(name, SILENT_SWITCHES)) {
        options.silent = true;
    } else if (SameSwitch(name, L"LOG")) {
        options.log = true;
    } else if (SameSwitch(name, L"LAUNCH")) {
        options.launch = true;
    } else if (SameSwitch(name, L"UNINSTALL")) {
        options.uninstall = true;
    } else if (IsAnyOf(name, {L"?", L"H", L"HELP"})) {
        options.help = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::wstring> CommandLineArguments(const wchar_t* commandLine) {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(commandLine, &count);
    if (words == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(words[i]);
    LocalFree(words);
    return arguments;
}

bool ParseArguments(const std::vector<std::wstring>& arguments, WizardOptions& options) {
    bool silentIntended = false;
    for (const std::wstring& argument : arguments) {
        if (TakeArgument(argument, options)) continue;
        if (options.badSwitch.empty()) options.badSwitch = argument.empty() ? L"\"\"" : argument;
        silentIntended = silentIntended || ShowsSilentSwitch(argument);
    }
    if (silentIntended) options.silent = true;
    return options.badSwitch.empty();
}
