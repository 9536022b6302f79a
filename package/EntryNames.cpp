#include "package/EntryNames.h"

#include "base/WorkFileNames.h"

namespace {

bool IsForbiddenUnit(wchar_t c) {
    if (c < 0x20) return true;
    switch (c) {
        case L'\\': case L'/': case L':': case L'*': case L'?':
        case L'"': case L'<': case L'>': case L'|':
            return true;
        default:
            return false;
    }
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Windows opens a device for these names whatever directory and extension come with them.
bool IsDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (auto& c : base) c = AsciiUpper(c);
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices)
        if (base == device) return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0))
        return (base[3] >= L'0' && base[3] <= L'9') || base[3] == 0xB9 || base[3] == 0xB2 || base[3] == 0xB3;
    return false;
}

bool EndsWithSuffix(const std::wstring& name, const std::wstring& suffix) {
    if (name.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (AsciiUpper(name[name.size() - suffix.size() + i]) != AsciiUpper(suffix[i])) return false;
    return true;
}

bool EndsLikeWorkFile(const std::wstring& name) {
    for (const wchar_t* suffix : WORK_FILE_SUFFIXES)
        if (EndsWithSuffix(name, suffix)) return true;
    return false;
}

}  // namespace

bool IsSafeEntryName(const std::wstring& dictId, const std::wstring& fileExt) {
    const std::wstring name = dictId + fileExt;
    for (wchar_t c : name)
        if (IsForbiddenUnit(c)) return false;
    if (name.find_first_not_of(L". ") == std::wstring::npos) return false;
    if (name.back() == L'.' || name.back() == L' ') return false;
    if (EndsLikeWorkFile(name)) return false;
    return !IsDeviceName(name);
}
