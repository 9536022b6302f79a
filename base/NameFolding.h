// Letters folded for comparison, in the two ways the wizard compares names. The variant is
// in each name: ASCII (the dictionary names the plan lowers: 'A' to 'Z' only, as the host
// does) or as the file system compares (every letter in one case, as Windows' file systems
// fold them). The ASCII functions build on every platform; the rest needs Windows.
#pragma once

#include <string>

// 'A' to 'Z' become 'a' to 'z'; every other unit, accented and Chinese letters included,
// stays as it is.
inline std::wstring LowerAscii(std::wstring text) {
    for (auto& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

inline bool EndsWithAsciiNoCase(const std::wstring& name, const std::wstring& suffix) {
    return name.size() >= suffix.size() && LowerAscii(name.substr(name.size() - suffix.size())) == LowerAscii(suffix);
}

#ifdef _WIN32
// A name as the file system compares it: every letter in one case, not only A-Z.
std::wstring FoldedName(std::wstring name);
inline bool SameFileName(const std::wstring& a, const std::wstring& b) { return FoldedName(a) == FoldedName(b); }
inline bool EndsWithFileName(const std::wstring& name, const std::wstring& suffix) {
    return name.size() >= suffix.size() && SameFileName(name.substr(name.size() - suffix.size()), suffix);
}
#endif
