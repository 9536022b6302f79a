#include "app/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include <initializer_list>

namespace {

bool SameSwitch(const std::wstring& text, const wchar_t* name) {
    return CompareStringOrdinal(text.c_str(), static_cast<int>(text.size()), name, -1, TRUE) == CSTR_EQUAL;
}

bool IsAnyOf(const std::wstring& text, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* name : names)
        if (SameSwitch(text, name)) return true;
    return false;
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
    for (const std::wstring& argument : arguments) {
        if (argument.empty() || (argument[0] != L'/' && argument[0] != L'-')) continue;
        const std::wstring name = argument.substr(1);
        const size_t equals = name.find(L'=');
        if (equals != std::wstring::npos && SameSwitch(name.substr(0, equals), L"LOG")) {
            options.log = true;
            options.logPath = name.substr(equals + 1);
        } else if (IsAnyOf(name, {L"S", L"SILENT", L"VERYSILENT", L"QUIET", L"QN"})) {
            options.silent = true;
        } else if (SameSwitch(name, L"LOG")) {
            options.log = true;
        } else if (SameSwitch(name, L"LAUNCH")) {
            options.launch = true;
        } else if (SameSwitch(name, L"UNINSTALL")) {
            options.uninstall = true;
        } else if (IsAnyOf(name, {L"?", L"H", L"HELP"})) {
            options.help = true;
        } else if (options.badSwitch.empty()) {
            options.badSwitch = argument;
        }
    }
    return options.badSwitch.empty();
}
