#include "host/HostConfigFile.h"

#include <map>

#include "base/NameFolding.h"
#include "base/ScopedWin.h"

namespace {

DWORD ErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// What the profile functions skip around lines, names and values.
bool IsProfileSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x1A; }

std::wstring Trimmed(const wchar_t* text, size_t begin, size_t end) {
    while (begin < end && IsProfileSpace(text[begin])) ++begin;
    while (end > begin && IsProfileSpace(text[end - 1])) --end;
    return std::wstring(text + begin, end - begin);
}

std::wstring Trimmed(const std::wstring& text) { return Trimmed(text.c_str(), 0, text.size()); }

std::wstring Unquoted(const std::wstring& value) {
    const bool quoted = value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0];
    return quoted ? value.substr(1, value.size() - 2) : value;
}

enum LineKind { LK_BLANK, LK_SECTION, LK_KEY };

struct CLineView {
    LineKind m_nKind = LK_BLANK;
    std::wstring m_strName;              // trimmed, letters as written
    size_t m_nEquals = std::wstring::npos;  // a key line's first '=', in units of the line
};

// One line (without its line feed) as the profile functions read it.
CLineView ClassifyLine(const wchar_t* line, size_t length) {
    CLineView view;
    size_t begin = 0, end = length;
    while (begin < end && IsProfileSpace(line[begin])) ++begin;
    while (end > begin && IsProfileSpace(line[end - 1])) --end;
    if (begin == end) return view;
    if (line[begin] == L'[') {
        size_t close = end;
        while (close > begin + 1 && line[close - 1] != L']') --close;
        if (close > begin + 1) {
            view.m_nKind = LK_SECTION;
            view.m_strName = Trimmed(line, begin + 1, close - 1);
            return view;
        }
    }
    view.m_nKind = LK_KEY;
    for (size_t i = begin; i < end; ++i) {
        if (line[i] != L'=') continue;
        view.m_nEquals = i;
        break;
    }
    view.m_strName = Trimmed(line, begin, view.m_nEquals == std::wstring::npos ? end : view.m_nEquals);
    return view;
}

enum ProfileEncoding { PE_ANSI, PE_UTF8, PE_UTF16LE, PE_UTF16BE };

struct CEncoding {
    ProfileEncoding m_nKind = PE_ANSI;
    size_t m_nMark = 0;  // bytes of the byte order mark
    size_t unit() const { return m_nKind == PE_UTF16LE || m_nKind == PE_UTF16BE ? 2 : 1; }
};

CEncoding EncodingOf(const std::string& bytes) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) return {PE_UTF16LE, 2};
    if (bytes.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) return {PE_UTF16BE, 2};
    if (bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return {PE_UTF8, 3};
    return {PE_ANSI, 0};
}

// The file's bytes as units of its encoding: a view that reads and writes them.
class CProfileBytes {
public:
    CProfileBytes(const std::string& bytes, CEncoding encoding) : m_bytes(bytes), m_encoding(encoding) {}

    size_t units() const { return (m_bytes.size() - m_encoding.m_nMark) / m_encoding.unit(); }
    wchar_t At(size_t unit) const {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(m_bytes.data()) + ByteOf(unit);
        switch (m_encoding.m_nKind) {
            case PE_UTF16LE: return static_cast<wchar_t>(b[0] | (b[1] << 8));
            case PE_UTF16BE: return static_cast<wchar_t>((b[0] << 8) | b[1]);
            default: return static_cast<wchar_t>(b[0]);
        }
    }
    size_t ByteOf(size_t unit) const { return m_encoding.m_nMark + unit * m_encoding.unit(); }

    // The text of units [begin, end): a byte encoding's line decoded whole (its '=', '[', ']'
    // and spacing are single bytes in every code page the host's file may use).
    std::wstring Text(size_t begin, size_t end) const {
        std::wstring text;
        if (m_encoding.unit() == 2) {
            text.reserve(end - begin);
            for (size_t i = begin; i < end; ++i) text += At(i);
            return text;
        }
        bool ascii = true;
        for (size_t i = begin; i < end && ascii; ++i) ascii = static_cast<unsigned char>(m_bytes[ByteOf(i)]) < 0x80;
        if (ascii) return std::wstring(m_bytes.begin() + ByteOf(begin), m_bytes.begin() + ByteOf(end));
        const UINT codePage = m_encoding.m_nKind == PE_UTF8 ? CP_UTF8 : CP_ACP;
        const int length = static_cast<int>(end - begin);
        const int wide = MultiByteToWideChar(codePage, 0, m_bytes.data() + ByteOf(begin), length, nullptr, 0);
        if (wide <= 0) return text;
        text.resize(static_cast<size_t>(wide));
        MultiByteToWideChar(codePage, 0, m_bytes.data() + ByteOf(begin), length, &text[0], wide);
        return text;
    }

    // Text in the file's encoding; false when the encoding cannot hold it.
    bool Encode(const std::wstring& text, std::string& out) const {
        switch (m_encoding.m_nKind) {
            case PE_UTF16LE:
            case PE_UTF16BE:
                for (const wchar_t c : text) {
                    const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
                    out += m_encoding.m_nKind == PE_UTF16LE ? std::string{low, high} : std::string{high, low};
                }
                return true;
            default: {
                if (text.empty()) return true;
                const UINT codePage = m_encoding.m_nKind == PE_UTF8 ? CP_UTF8 : GetACP();
                if (!TextFitsCodePage(text, codePage)) return false;
                const int length = static_cast<int>(text.size());
                const int bytes = WideCharToMultiByte(codePage, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
                const size_t at = out.size();
                out.resize(at + static_cast<size_t>(bytes));
                WideCharToMultiByte(codePage, 0, text.c_str(), length, &out[at], bytes, nullptr, nullptr);
                return true;
            }
        }
    }

private:
    const std::string& m_bytes;
    CEncoding m_encoding;
};

struct CProfileLine {
    size_t m_nBegin;    // first unit
    size_t m_nContent;  // end of the content: before "\r\n" or "\n"
    size_t m_nEnd;      // after the line feed, or the file's end
    CLineView m_view;
    std::wstring m_strFolded;  // a section's or key's name, folded
};

struct COccurrence {
    std::wstring m_strFolded;
    size_t m_nHeader;    // its header line
    size_t m_nLastLine;  // its last line that is not blank (the header when none)
    size_t m_nEnd;       // the next section's header, or the line count
};

// The new lines a key or a section gets, in the order first set; a later edit of the same key
// changes the value.
struct CNewKeys {
    std::wstring m_strSection;
    std::vector<std::pair<std::wstring, std::wstring>> m_keys;

    void Set(const std::wstring& key, const std::wstring& value) {
        const std::wstring folded = FoldedName(Trimmed(key));
        for (auto& k : m_keys)
            if (FoldedName(Trimmed(k.first)) == folded) {
                k.second = value;
                return;
            }
        m_keys.emplace_back(key, value);
    }
};

bool BreaksALine(const std::wstring& text) { return text.find_first_of(L"\r\n") != std::wstring::npos; }

bool EditIsWritable(const CConfigEdit& edit) {
    const std::wstring section = Trimmed(edit.m_strSection);
    if (section.empty() || BreaksALine(edit.m_strSection)) return false;
    if (edit.m_bRemoveSection) return true;
    const std::wstring key = Trimmed(edit.m_strKey);
    return !key.empty() && key[0] != L'[' && key.find(L'=') == std::wstring::npos && !BreaksALine(edit.m_strKey) &&
           !BreaksALine(edit.m_strValue);
}

}  // namespace

bool ReadProfileBytes(const std::wstring& path, std::string& bytes, DWORD& error) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFF0) {
        error = ErrorOr(ERROR_FILE_TOO_LARGE);
        return false;
    }
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(file.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size())) {
        error = ErrorOr(ERROR_READ_FAULT);
        return false;
    }
    return true;
}

bool DecodeProfileBytes(const std::string& bytes, std::wstring& text, DWORD& error) {
    const CEncoding encoding = EncodingOf(bytes);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (encoding.m_nKind == PE_UTF16LE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return true;
    }
    if (encoding.m_nKind == PE_UTF16BE) {
        text.clear();
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += static_cast<wchar_t>((b[i] << 8) | b[i + 1]);
        return true;
    }
    const UINT codePage = encoding.m_nKind == PE_UTF8 ? CP_UTF8 : CP_ACP;
    const size_t skip = encoding.m_nMark;
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

bool ReadProfileText(const std::wstring& path, std::wstring& text, DWORD& error) {
    std::string bytes;
    return ReadProfileBytes(path, bytes, error) && DecodeProfileBytes(bytes, text, error);
}

bool TextFitsCodePage(const std::wstring& text, UINT codePage) {
    if (text.empty()) return true;
    const int length = static_cast<int>(text.size());
    // UTF-8 and UTF-7 refuse the best-fit flag and the default-character question; the
    // round trip alone says whether the text survives.
    const bool utf = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* askDefault = utf ? nullptr : &usedDefault;
    const int bytes = WideCharToMultiByte(codePage, flags, text.c_str(), length, nullptr, 0, nullptr, askDefault);
    if (bytes <= 0 || usedDefault) return false;
    std::string narrow(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(codePage, flags, text.c_str(), length, &narrow[0], bytes, nullptr, askDefault) != bytes ||
        usedDefault)
        return false;
    std::wstring back(text.size() + 1, L'\0');
    const int units = MultiByteToWideChar(codePage, 0, narrow.c_str(), bytes, &back[0], static_cast<int>(back.size()));
    return units == length && back.compare(0, text.size(), text) == 0;
}

bool EditProfileBytes(const std::string& bytes, const std::vector<CConfigEdit>& edits, std::string& edited,
                      DWORD& error) {
    for (const CConfigEdit& edit : edits)
        if (!EditIsWritable(edit)) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
    const CEncoding encoding = EncodingOf(bytes);
    // Half a UTF-16 unit at the end: no line could be added after it.
    if ((bytes.size() - encoding.m_nMark) % encoding.unit() != 0) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    const CProfileBytes file(bytes, encoding);

    // The lines, and where each section's name heads one.
    std::vector<CProfileLine> lines;
    std::vector<COccurrence> occurrences;
    std::unordered_map<std::wstring, size_t> firstOccurrence;
    std::wstring lineBreak;
    for (size_t pos = 0, count = file.units(); pos < count;) {
        size_t end = pos;
        while (end < count && file.At(end) != L'\n') ++end;
        CProfileLine line{pos, end, end < count ? end + 1 : end, {}, {}};
        if (end < count && end > pos && file.At(end - 1) == L'\r') --line.m_nContent;
        if (lineBreak.empty() && end < count) lineBreak = line.m_nContent < end ? L"\r\n" : L"\n";
        const std::wstring text = file.Text(pos, end);
        line.m_view = ClassifyLine(text.c_str(), text.size());
        if (line.m_view.m_nKind != LK_BLANK) line.m_strFolded = FoldedName(line.m_view.m_strName);
        const size_t index = lines.size();
        if (line.m_view.m_nKind == LK_SECTION) {
            if (!occurrences.empty()) occurrences.back().m_nEnd = index;
            occurrences.push_back({line.m_strFolded, index, index, index + 1});
            firstOccurrence.emplace(line.m_strFolded, occurrences.size() - 1);
        } else if (line.m_view.m_nKind == LK_KEY && !occurrences.empty()) {
            occurrences.back().m_nLastLine = index;
        }
        lines.push_back(std::move(line));
        pos = lines.back().m_nEnd;
    }
    if (!occurrences.empty()) occurrences.back().m_nEnd = lines.size();
    if (lineBreak.empty()) lineBreak = L"\r\n";

    // What each edit does to which line, in the edits' order.
    std::map<size_t, std::wstring> newValues;     // a key line's new value
    std::map<size_t, CNewKeys> keysAfter;         // new keys after a section's last line
    std::vector<CNewKeys> newSections;
    std::unordered_set<std::wstring> removed;     // folded names whose every occurrence goes
    for (const CConfigEdit& edit : edits) {
        const std::wstring section = FoldedName(Trimmed(edit.m_strSection));
        if (edit.m_bRemoveSection) {
            removed.insert(section);
            for (auto it = newSections.begin(); it != newSections.end();)
                it = FoldedName(Trimmed(it->m_strSection)) == section ? newSections.erase(it) : it + 1;
            continue;
        }
        const auto found = firstOccurrence.find(section);
        if (found == firstOccurrence.end() || removed.count(section) != 0) {
            auto it = newSections.begin();
            while (it != newSections.end() && FoldedName(Trimmed(it->m_strSection)) != section) ++it;
            if (it == newSections.end()) it = newSections.insert(newSections.end(), CNewKeys{edit.m_strSection, {}});
            it->Set(edit.m_strKey, edit.m_strValue);
            continue;
        }
        const COccurrence& at = occurrences[found->second];
        const std::wstring key = FoldedName(Trimmed(edit.m_strKey));
        size_t keyLine = at.m_nHeader + 1;
        while (keyLine < at.m_nEnd && !(lines[keyLine].m_view.m_nKind == LK_KEY && lines[keyLine].m_strFolded == key))
            ++keyLine;
        if (keyLine < at.m_nEnd) newValues[keyLine] = edit.m_strValue;
        else keysAfter[at.m_nLastLine].Set(edit.m_strKey, edit.m_strValue);
    }
    std::vector<bool> dropped(lines.size(), false);
    for (const COccurrence& at : occurrences)
        if (removed.count(at.m_strFolded) != 0)
            for (size_t i = at.m_nHeader; i < at.m_nEnd; ++i) dropped[i] = true;

    // One pass over the file, the edited lines written anew.
    edited.clear();
    edited.reserve(bytes.size() + 4096);
    edited.append(bytes, 0, encoding.m_nMark);
    bool endsLine = true;  // what was written so far ends with a line break (or is empty)
    auto append = [&](const std::wstring& text) {
        if (!file.Encode(text, edited)) {
            error = ERROR_NO_UNICODE_TRANSLATION;
            return false;
        }
        return true;
    };
    auto appendRaw = [&](size_t begin, size_t end) {
        edited.append(bytes, file.ByteOf(begin), file.ByteOf(end) - file.ByteOf(begin));
    };
    auto appendKeys = [&](const CNewKeys& keys) {
        if (!endsLine && !append(lineBreak)) return false;
        for (const auto& key : keys.m_keys)
            if (!append(key.first + L'=' + key.second + lineBreak)) return false;
        endsLine = true;
        return true;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        if (dropped[i]) continue;
        const CProfileLine& line = lines[i];
        const auto value = newValues.find(i);
        if (value == newValues.end()) {
            appendRaw(line.m_nBegin, line.m_nEnd);
        } else {
            // The name, the '=' and the spacing after it stay as they were.
            size_t valueAt = line.m_nContent;
            if (line.m_view.m_nEquals != std::wstring::npos) {
                valueAt = line.m_nBegin;
                while (file.At(valueAt) != L'=') ++valueAt;
                ++valueAt;
                while (valueAt < line.m_nContent && (file.At(valueAt) == L' ' || file.At(valueAt) == L'\t')) ++valueAt;
            }
            appendRaw(line.m_nBegin, valueAt);
            if (!append((line.m_view.m_nEquals == std::wstring::npos ? L"=" : L"") + value->second)) return false;
            appendRaw(line.m_nContent, line.m_nEnd);
        }
        endsLine = line.m_nEnd > line.m_nContent;
        const auto keys = keysAfter.find(i);
        if (keys != keysAfter.end() && !appendKeys(keys->second)) return false;
    }
    for (const CNewKeys& section : newSections) {
        if (!endsLine && !append(lineBreak)) return false;
        if (!append(L"[" + section.m_strSection + L"]" + lineBreak)) return false;
        endsLine = true;
        if (!appendKeys(section)) return false;
    }
    return true;
}

std::wstring ItemOf(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    return section + L'\1' + key + L'\1' + value;
}

std::wstring LookupOf(const std::wstring& section, const std::wstring& key) { return section + L'\1' + key; }

CProfileItems ParseProfile(const std::wstring& text) {
    CProfileItems items;
    std::wstring section;  // keys ahead of the first section belong to the unnamed one
    bool firstOfItsName = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        const CLineView line = ClassifyLine(text.c_str() + pos, end - pos);
        const size_t lineAt = pos;
        pos = end + 1;
        if (line.m_nKind == LK_BLANK) continue;
        if (line.m_nKind == LK_SECTION) {
            section = FoldedName(line.m_strName);
            firstOfItsName = items.sections.insert(section).second;
            ++items.counts[section + L'\1'];
            continue;
        }
        const std::wstring key = FoldedName(line.m_strName);
        const bool hasValue = line.m_nEquals != std::wstring::npos;
        const std::wstring value = hasValue ? Trimmed(text.c_str(), lineAt + line.m_nEquals + 1, end) : L"\2";
        ++items.counts[ItemOf(section, key, value)];
        if (firstOfItsName && hasValue) items.values.emplace(LookupOf(section, key), Unquoted(value));
        else if (firstOfItsName) items.values.emplace(LookupOf(section, key), L"");
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
