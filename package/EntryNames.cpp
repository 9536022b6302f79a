#include "package/EntryNames.h"

#include "base/NameFolding.h"
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

// Windows opens a device for these names whatever directory and extension come with them.
bool IsDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    base = LowerAscii(base);
    static const wchar_t* const kDevices[] = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    for (const wchar_t* device : kDevices)
        if (base == device) return true;
    if (base.size() == 4 && (base.compare(0, 3, L"com") == 0 || base.compare(0, 3, L"lpt") == 0))
        return (base[3] >= L'0' && base[3] <= L'9') || base[3] == 0xB9 || base[3] == 0xB2 || base[3] == 0xB3;
    return false;
}

bool EndsLikeWorkFile(const std::wstring& name) {
    for (const wchar_t* suffix : WORK_FILE_SUFFIXES)
        if (EndsWithAsciiNoCase(name, suffix)) return true;
    return false;
}

}  // namespace

bool IsSafeEntryName(const std::wstring& dictId, const std::wstring& fileExt) {
    // The id names the dictionary's section and picture too: it cannot be left out.
    if (dictId.empty()) return false;
    const std::wstring name = dictId + fileExt;
    for (wchar_t c : name)
        if (IsForbiddenUnit(c)) return false;
    if (name.find_first_not_of(L". ") == std::wstring::npos) return false;
    if (name.back() == L'.' || name.back() == L' ') return false;
    if (EndsLikeWorkFile(name)) return false;
    return !IsDeviceName(name);
}
