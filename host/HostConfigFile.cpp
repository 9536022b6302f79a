#include "host/HostConfigFile.h"

#include "base/NameFolding.h"
#include "base/ScopedWin.h"

namespace {

DWORD ErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

std::wstring Trimmed(const std::wstring& text, size_t begin, size_t end) {
    while (begin < end && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
    while (end > begin && (text[end - 1] == L' ' || text[end - 1] == L'\t' || text[end - 1] == L'\r')) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

bool ReadProfileText(const std::wstring& path, std::wstring& text, DWORD& error) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFF0) {
        error = ErrorOr(ERROR_FILE_TOO_LARGE);
        return false;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size())) {
        error = ErrorOr(ERROR_READ_FAULT);
        return false;
    }
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && (b[0] == 0xFF && b[1] == 0xFE)) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return true;
    }
    if (bytes.size() >= 2 && (b[0] == 0xFE && b[1] == 0xFF)) {
        text.clear();
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += static_cast<wchar_t>((b[i] << 8) | b[i + 1]);
        return true;
    }
    UINT codePage = CP_ACP;
    size_t skip = 0;
    if (bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        codePage = CP_UTF8;
        skip = 3;
    }
    text.clear();
    if (bytes.size() == skip) return true;
    const int length = static_cast<int>(bytes.size() - skip);
    const int units = MultiByteToWideChar(codePage, 0, bytes.data() + skip, length, nullptr, 0);
    if (units <= 0) {
        error = ErrorOr(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    text.resize(static_cast<size_t>(units));
    MultiByteToWideChar(codePage, 0, bytes.data() + skip, length, &text[0], units);
    return true;
}

std::wstring ItemOf(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    return section + L'\1' + key + L'\1' + value;
}

CProfileItems ParseProfile(const std::wstring& text) {
    CProfileItems items;
    std::wstring section;  // keys ahead of the first section belong to the unnamed one
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = Trimmed(text, pos, end);
        pos = end + 1;
        if (line.empty()) continue;
        if (line[0] == L'[') {
            const size_t close = line.find(L']');
            section = FoldedName(Trimmed(line, 1, close == std::wstring::npos ? line.size() : close));
            items.sections.insert(section);
            ++items.counts[section + L'\1'];
            continue;
        }
        const size_t equals = line.find(L'=');
        const std::wstring key = FoldedName(Trimmed(line, 0, equals == std::wstring::npos ? line.size() : equals));
        const std::wstring value = equals == std::wstring::npos ? L"\2" : Trimmed(line, equals + 1, line.size());
        ++items.counts[ItemOf(section, key, value)];
    }
    return items;
}

bool ReadRegisteredIds(const std::wstring& path, std::unordered_set<std::wstring>& ids) {
    std::wstring text;
    DWORD error = ERROR_SUCCESS;
    if (!ReadProfileText(path, text, error)) return false;
    const std::wstring idKey = FoldedName(L"id");
    for (const auto& item : ParseProfile(text).counts) {
        const size_t cut = item.first.find(L'\1');
        const size_t keyEnd = item.first.find(L'\1', cut + 1);
        if (keyEnd == std::wstring::npos || item.first.compare(cut + 1, keyEnd - cut - 1, idKey) != 0) continue;
        const std::wstring section = item.first.substr(0, cut);
        if (FoldedName(item.first.substr(keyEnd + 1)) == section) ids.insert(section);
    }
    return true;
}
