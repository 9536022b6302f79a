#include "host/HostConfigFile.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "base/NameFolding.h"
#include "base/ScopedWin.h"

namespace {

DWORD ErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// The first unit at or after from that is unit, or nullptr: eight units at a time where the
// processor can (the passes over a host's file are mostly this search).
__attribute__((target("sse2"))) const wchar_t* FindUnitSse2(const wchar_t* from, const wchar_t* end, wchar_t unit) {
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
    for (; end - from >= 8; from += 8) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const int found = _mm_movemask_epi8(_mm_cmpeq_epi16(block, wanted));
        if (found != 0) return from + __builtin_ctz(static_cast<unsigned>(found)) / 2;
    }
    for (; from < end; ++from)
        if (*from == unit) return from;
    return nullptr;
}

const wchar_t* FindUnit(const wchar_t* from, size_t count, wchar_t unit) {
    static const bool sse2 = IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE;
    return sse2 ? FindUnitSse2(from, from + count, unit) : wmemchr(from, unit, count);
}

// What the profile functions skip around lines, names and values.
bool IsProfileSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x1A; }

std::wstring Trimmed(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsProfileSpace(text[begin])) ++begin;
    while (end > begin && IsProfileSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::wstring Unquoted(const std::wstring& value) {
    const bool quoted = value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0];
    return quoted ? value.substr(1, value.size() - 2) : value;
}

enum LineKind { LK_BLANK, LK_SECTION, LK_KEY };

// Where a line's parts lie, in units of the line: no copy made.
struct CLineParts {
    LineKind m_nKind = LK_BLANK;
    size_t m_nName = 0, m_nNameEnd = 0;     // a section's or key's name, trimmed
    size_t m_nEquals = std::wstring::npos;  // a key line's first '='
    size_t m_nValue = 0, m_nValueEnd = 0;   // a key's value, trimmed
    size_t m_nBegin = 0, m_nEnd = 0;        // the line without the spacing around it
};

// One line (without its line feed) as the profile functions read it.
CLineParts PartsOf(const wchar_t* line, size_t length) {
    CLineParts parts;
    auto trim = [line](size_t& from, size_t& to) {
        while (from < to && IsProfileSpace(line[from])) ++from;
        while (to > from && IsProfileSpace(line[to - 1])) --to;
    };
    size_t begin = 0, end = length;
    trim(begin, end);
    parts.m_nBegin = begin;
    parts.m_nEnd = end;
    if (begin == end) return parts;
    if (line[begin] == L'[') {
        size_t close = end;
        while (close > begin + 1 && line[close - 1] != L']') --close;
        if (close > begin + 1) {
            parts.m_nKind = LK_SECTION;
            parts.m_nName = begin + 1;
            parts.m_nNameEnd = close - 1;
            trim(parts.m_nName, parts.m_nNameEnd);
            return parts;
        }
    }
    parts.m_nKind = LK_KEY;
    const wchar_t* equals = wmemchr(line + begin, L'=', end - begin);
    if (equals != nullptr) parts.m_nEquals = static_cast<size_t>(equals - line);
    parts.m_nName = begin;
    parts.m_nNameEnd = equals != nullptr ? parts.m_nEquals : end;
    trim(parts.m_nName, parts.m_nNameEnd);
    if (equals != nullptr) {
        parts.m_nValue = parts.m_nEquals + 1;
        parts.m_nValueEnd = end;
        trim(parts.m_nValue, parts.m_nValueEnd);
    }
    return parts;
}

// A line of a decoded file: where it starts and how long it is without its line feed.
struct CTextLine {
    const wchar_t* m_pText;
    size_t m_nLength;
};

// Names compared as the profile functions compare them: letters folded. Most names in a
// host's file differ in length or in an ASCII letter from every edited one, and are told
// apart without folding.
class CNameSet {
public:
    // Its index; an existing one's when the name is already there.
    size_t Add(const std::wstring& name) {
        const std::wstring folded = FoldedName(Trimmed(name));
        const int found = Find(folded.c_str(), folded.size());
        if (found >= 0) return static_cast<size_t>(found);
        m_names.push_back(folded);
        if (m_lengths.size() <= folded.size()) m_lengths.resize(folded.size() + 1, false);
        m_lengths[folded.size()] = true;
        if (folded.empty()) m_bAnyEmpty = true;
        else if (folded[0] < 0x80) m_firstAscii[folded[0]] = true;
        return m_names.size() - 1;
    }
    // False only when no name could start with c (a name's first character): an ASCII
    // letter folds to an ASCII one, so most names are told apart by their first.
    bool MayBegin(wchar_t c) const {
        if (c >= 0x80 || m_bAnyEmpty) return true;
        const wchar_t upper = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
        return m_firstAscii[upper];
    }
    int Find(const wchar_t* name, size_t length) const {
        if (length >= m_lengths.size() || !m_lengths[length]) return -1;
        for (size_t i = 0; i < m_names.size(); ++i)
            if (Matches(name, length, m_names[i])) return static_cast<int>(i);
        return -1;
    }

private:
    bool Matches(const wchar_t* name, size_t length, const std::wstring& folded) const {
        if (length != folded.size()) return false;
        for (size_t k = 0; k < length; ++k) {
            const wchar_t c = name[k];
            if (c >= 0x80) {
                m_buffer.assign(name, length);
                CharUpperBuffW(&m_buffer[0], static_cast<DWORD>(length));
                return m_buffer == folded;
            }
            const wchar_t upper = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
            if (upper != folded[k]) return false;
        }
        return true;
    }

    std::vector<std::wstring> m_names;  // folded
    std::vector<bool> m_lengths;
    bool m_firstAscii[0x80] = {};
    bool m_bAnyEmpty = false;
    mutable std::wstring m_buffer;
};

// What a list of edits leaves, section by section, taken in the edits' order: a later value
// of a key wins; a removal takes every place the name heads a section and every key set in
// it before; a key set after a removal starts the section anew.
struct CEditedSection {
    std::wstring m_strName;  // as the first edit spells it
    bool m_bDropOld = false;
    CNameSet m_keyNames;
    std::vector<std::pair<std::wstring, std::wstring>> m_keys;  // in the order first set
};

class CEditPlan {
public:
    explicit CEditPlan(const std::vector<CConfigEdit>& edits) {
        for (const CConfigEdit& edit : edits) {
            const size_t at = m_names.Add(edit.m_strSection);
            if (at == m_sections.size()) m_sections.push_back({edit.m_strSection, false, {}, {}});
            CEditedSection& section = m_sections[at];
            if (edit.m_bRemoveSection) {
                section.m_bDropOld = true;
                section.m_keyNames = CNameSet();
                section.m_keys.clear();
                continue;
            }
            const size_t key = section.m_keyNames.Add(edit.m_strKey);
            if (key == section.m_keys.size()) section.m_keys.emplace_back(edit.m_strKey, edit.m_strValue);
            else section.m_keys[key].second = edit.m_strValue;
        }
    }
    int Find(const wchar_t* name, size_t length) const { return m_names.Find(name, length); }
    bool MayBegin(wchar_t c) const { return m_names.MayBegin(c); }
    const CEditedSection& operator[](size_t i) const { return m_sections[i]; }
    size_t size() const { return m_sections.size(); }

private:
    CNameSet m_names;
    std::vector<CEditedSection> m_sections;
};

int SectionOf(const CEditPlan& plan, const CTextLine& line, const CLineParts& parts) {
    return plan.Find(line.m_pText + parts.m_nName, parts.m_nNameEnd - parts.m_nName);
}

int KeyOf(const CEditedSection& section, const CTextLine& line, const CLineParts& parts) {
    return section.m_keyNames.Find(line.m_pText + parts.m_nName, parts.m_nNameEnd - parts.m_nName);
}

enum ProfileEncoding { PE_ANSI, PE_UTF8, PE_UTF16LE, PE_UTF16BE };

struct CEncoding {
    ProfileEncoding m_nKind = PE_ANSI;
    size_t m_nMark = 0;  // bytes of the byte order mark
    size_t unit() const { return m_nKind == PE_UTF16LE || m_nKind == PE_UTF16BE ? 2 : 1; }
};

CEncoding EncodingOf(std::string_view bytes) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) return {PE_UTF16LE, 2};
    if (bytes.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) return {PE_UTF16BE, 2};
    if (bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return {PE_UTF8, 3};
    return {PE_ANSI, 0};
}

// Text in the file's encoding; false when the encoding cannot hold it.
bool Encode(const std::wstring& text, const CEncoding& encoding, std::string& out) {
    switch (encoding.m_nKind) {
        case PE_UTF16LE:
        case PE_UTF16BE:
            for (const wchar_t c : text) {
                const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
                out += encoding.m_nKind == PE_UTF16LE ? low : high;
                out += encoding.m_nKind == PE_UTF16LE ? high : low;
            }
            return true;
        default: {
            if (text.empty()) return true;
            const UINT codePage = encoding.m_nKind == PE_UTF8 ? CP_UTF8 : GetACP();
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

namespace {

bool DecodeBytes(std::string_view bytes, std::wstring& text, DWORD& error) {
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

}  // namespace

bool DecodeProfileBytes(const std::string& bytes, std::wstring& text, DWORD& error) {
    return DecodeBytes(bytes, text, error);
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

namespace {

// The text of a file's bytes: a UTF-16LE file is read where it lies, any other decoded once.
class CTextView {
public:
    bool Open(std::string_view bytes, DWORD& error) {
        m_encoding = EncodingOf(bytes);
        if (m_encoding.m_nKind == PE_UTF16LE) {
            m_pText = reinterpret_cast<const wchar_t*>(bytes.data() + m_encoding.m_nMark);
            m_nSize = (bytes.size() - m_encoding.m_nMark) / 2;
            return true;
        }
        if (!DecodeBytes(bytes, m_decoded, error)) return false;
        m_pText = m_decoded.c_str();
        m_nSize = m_decoded.size();
        return true;
    }
    const wchar_t* text() const { return m_pText; }
    size_t size() const { return m_nSize; }
    const CEncoding& encoding() const { return m_encoding; }

private:
    CEncoding m_encoding;
    std::wstring m_decoded;
    const wchar_t* m_pText = L"";
    size_t m_nSize = 0;
};

// The next line of a text from pos on; false at its end.
bool NextLine(const wchar_t* text, size_t size, size_t& pos, CTextLine& line) {
    if (pos >= size) return false;
    const wchar_t* feed = FindUnit(text + pos, size - pos, L'\n');
    const size_t end = feed != nullptr ? static_cast<size_t>(feed - text) : size;
    line = {text + pos, end - pos};
    pos = end + 1;
    return true;
}

bool IsUnit(std::string_view bytes, size_t at, const CEncoding& encoding, wchar_t unit) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    switch (encoding.m_nKind) {
        case PE_UTF16LE: return b[0] == (unit & 0xFF) && b[1] == (unit >> 8);
        case PE_UTF16BE: return b[0] == (unit >> 8) && b[1] == (unit & 0xFF);
        default: return b[0] == unit;
    }
}

// A line of the file: its text, and where it lies in the file's bytes.
struct CFileLine {
    CTextLine m_text;
    size_t m_nBegin;    // its first byte
    size_t m_nContent;  // the end of its content: before "\r\n" or "\n"
    size_t m_nEnd;      // after its line feed, or the file's end
};

// The lines of the text and of the bytes together. A UTF-16 unit is a character of the text;
// in a byte encoding no character but the line feed holds its byte, so the bytes end their
// lines where the text does.
class CFileLines {
public:
    CFileLines(const std::string& bytes, const CTextView& view)
        : m_bytes(bytes), m_view(view), m_nByte(view.encoding().m_nMark) {}

    bool Next(CFileLine& line) {
        const size_t textStart = m_nText;
        const bool more = NextLine(m_view.text(), m_view.size(), m_nText, line.m_text);
        if (!more || m_nByte >= m_bytes.size()) {
            m_bInStep = more == (m_nByte < m_bytes.size());
            return false;
        }
        const CEncoding& encoding = m_view.encoding();
        const size_t unit = encoding.unit();
        size_t feed = m_bytes.size();
        if (unit == 2) {
            feed = encoding.m_nMark + 2 * (textStart + line.m_text.m_nLength);
            if (feed > m_bytes.size()) feed = m_bytes.size();
        } else if (const void* found = std::memchr(m_bytes.data() + m_nByte, '\n', m_bytes.size() - m_nByte)) {
            feed = static_cast<size_t>(static_cast<const char*>(found) - m_bytes.data());
        }
        line.m_nBegin = m_nByte;
        line.m_nContent = feed;
        line.m_nEnd = feed < m_bytes.size() ? feed + unit : feed;
        if (feed < m_bytes.size() && feed > m_nByte && IsUnit(m_bytes, feed - unit, encoding, L'\r'))
            line.m_nContent -= unit;
        m_nByte = line.m_nEnd;
        return true;
    }
    // Passes over the lines before the text's position pos (a line's start); only where a
    // unit of the text is a unit of the bytes.
    void SkipTo(size_t pos) {
        m_nText = pos;
        m_nByte = m_view.encoding().m_nMark + 2 * pos;
    }
    size_t textPos() const { return m_nText; }
    // Both ran out together.
    bool InStep() const { return m_bInStep; }

private:
    const std::string& m_bytes;
    const CTextView& m_view;
    size_t m_nText = 0;
    size_t m_nByte;
    bool m_bInStep = false;
};

constexpr size_t NONE = static_cast<size_t>(-1);

// What the edit makes of a stretch of the file's bytes, in the order of the file.
enum EditKind { EK_DROP, EK_VALUE, EK_NEW_KEYS, EK_NEW_SECTION };

struct CEditAt {
    size_t m_nBegin, m_nEnd;  // the bytes it replaces: none for what it adds
    EditKind m_nKind;
    int m_nSection;
    int m_nKey;                         // EK_VALUE: the key
    size_t m_nValueAt, m_nContent;      // EK_VALUE: where the old value begins and the line's content ends
    bool m_bHasEquals;
};

// An edited section where it first stands: the end of its last line that is not blank and
// the key lines the edits set.
struct CFirstPlace {
    bool m_bFound = false;
    size_t m_nLastEnd = 0;
    std::vector<char> m_keyFound;
};

// Where a key line's old value begins: after its '=' and the spacing that follows.
size_t ValueStartOf(const std::string& bytes, const CEncoding& encoding, const CFileLine& line) {
    const size_t unit = encoding.unit();
    size_t at = line.m_nBegin;
    while (at < line.m_nContent && !IsUnit(bytes, at, encoding, L'=')) at += unit;
    if (at < line.m_nContent) at += unit;
    while (at < line.m_nContent && (IsUnit(bytes, at, encoding, L' ') || IsUnit(bytes, at, encoding, L'\t'))) at += unit;
    return at;
}

// The file's own line ends: those of its first line that has one.
std::wstring LineBreakOf(const std::string& bytes, const CTextView& view) {
    CFileLines lines(bytes, view);
    CFileLine line;
    while (lines.Next(line))
        if (line.m_nEnd > line.m_nContent)
            return line.m_nEnd - line.m_nContent == 2 * view.encoding().unit() ? L"\r\n" : L"\n";
    return L"\r\n";
}

// Where the next line at or after pos (a line's start) that may head a section starts, or
// the text's end: most lines hold no '[' and are passed over at the speed of a search.
size_t NextPossibleHeader(const wchar_t* text, size_t size, size_t pos) {
    while (pos < size) {
        const wchar_t* bracket = FindUnit(text + pos, size - pos, L'[');
        if (bracket == nullptr) return size;
        const size_t at = static_cast<size_t>(bracket - text);
        size_t lineStart = at;
        while (lineStart > pos && text[lineStart - 1] != L'\n') --lineStart;
        size_t first = lineStart;
        while (first < at && IsProfileSpace(text[first])) ++first;
        if (first == at) return lineStart;
        const wchar_t* feed = FindUnit(bracket, size - at, L'\n');
        if (feed == nullptr) return size;
        pos = static_cast<size_t>(feed - text) + 1;
    }
    return size;
}

// Where the next line at or after pos (a line's start) that heads an edited section starts,
// or the text's end. Most headers name other sections and are passed over by the first
// character of their name, without finding their line's end.
size_t NextEditedHeader(const CEditPlan& plan, const wchar_t* text, size_t size, size_t pos) {
    while (pos < size) {
        const wchar_t* bracket = FindUnit(text + pos, size - pos, L'[');
        if (bracket == nullptr) return size;
        const size_t at = static_cast<size_t>(bracket - text);
        pos = at + 1;
        // Only spacing between the line's start and the '[' (pos was a line's start).
        size_t lineStart = at;
        while (lineStart > 0 && text[lineStart - 1] != L'\n' && IsProfileSpace(text[lineStart - 1])) --lineStart;
        if (lineStart > 0 && text[lineStart - 1] != L'\n') continue;
        size_t first = at + 1;
        while (first < size && text[first] != L'\n' && IsProfileSpace(text[first])) ++first;
        if (first == size || text[first] == L'\n' || !plan.MayBegin(text[first])) continue;
        size_t next = lineStart;
        CTextLine line = {text + lineStart, 0};
        NextLine(text, size, next, line);
        const CLineParts parts = PartsOf(line.m_pText, line.m_nLength);
        if (parts.m_nKind == LK_SECTION && SectionOf(plan, line, parts) >= 0) return lineStart;
    }
    return size;
}

// False only for a line that cannot head a section: its first character that is not spacing
// is not '['.
bool MayHeadASection(const CTextLine& line) {
    size_t at = 0;
    while (at < line.m_nLength && IsProfileSpace(line.m_pText[at])) ++at;
    return at < line.m_nLength && line.m_pText[at] == L'[';
}

bool SameLine(const CTextLine& a, const CLineParts& pa, const CTextLine& b, const CLineParts& pb) {
    const size_t length = pa.m_nEnd - pa.m_nBegin;
    return length == pb.m_nEnd - pb.m_nBegin && wmemcmp(a.m_pText + pa.m_nBegin, b.m_pText + pb.m_nBegin, length) == 0;
}

}  // namespace

bool EditProfilePieces(const std::string& bytes, const std::vector<CConfigEdit>& edits,
                       std::vector<CEditPiece>& pieces, std::string& added, DWORD& error) {
    for (const CConfigEdit& edit : edits)
        if (!EditIsWritable(edit)) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
    CTextView view;
    const CEncoding encoding = EncodingOf(bytes);
    // Half a UTF-16 unit at the end: no line could be added after it.
    if ((bytes.size() - encoding.m_nMark) % encoding.unit() != 0 || !view.Open(bytes, error)) {
        if (error == ERROR_SUCCESS) error = ERROR_INVALID_DATA;
        return false;
    }
    const CEditPlan plan(edits);

    // One pass to find where each edited section first stands, its keys there, and the
    // places of removed ones.
    std::vector<CFirstPlace> places(plan.size());
    std::vector<CEditAt> changes;
    int section = -1;
    bool firstPlace = false;
    size_t dropFrom = NONE;
    CFileLines lines(bytes, view);
    CFileLine line;
    const bool unitsAreText = encoding.unit() == 2;
    for (;;) {
        // Outside the first place of an edited section only a section's header counts.
        if (!firstPlace && unitsAreText) {
            const size_t at = lines.textPos();
            lines.SkipTo(dropFrom != NONE ? NextPossibleHeader(view.text(), view.size(), at)
                                          : NextEditedHeader(plan, view.text(), view.size(), at));
        }
        if (!lines.Next(line)) break;
        if (!firstPlace && !MayHeadASection(line.m_text)) continue;
        const CLineParts parts = PartsOf(line.m_text.m_pText, line.m_text.m_nLength);
        if (parts.m_nKind == LK_SECTION) {
            if (dropFrom != NONE) changes.push_back({dropFrom, line.m_nBegin, EK_DROP, -1, -1, 0, 0, false});
            dropFrom = NONE;
            section = SectionOf(plan, line.m_text, parts);
            firstPlace = false;
            if (section < 0) continue;
            if (plan[section].m_bDropOld) {
                dropFrom = line.m_nBegin;
                continue;
            }
            CFirstPlace& place = places[section];
            firstPlace = !place.m_bFound;
            if (!firstPlace) continue;
            place.m_bFound = true;
            place.m_nLastEnd = line.m_nEnd;
            place.m_keyFound.assign(plan[section].m_keys.size(), 0);
            continue;
        }
        if (parts.m_nKind != LK_KEY || !firstPlace) continue;
        CFirstPlace& place = places[section];
        place.m_nLastEnd = line.m_nEnd;
        const int key = KeyOf(plan[section], line.m_text, parts);
        if (key < 0 || place.m_keyFound[key]) continue;
        place.m_keyFound[key] = 1;
        const bool hasEquals = parts.m_nEquals != std::wstring::npos;
        changes.push_back({line.m_nBegin, line.m_nEnd, EK_VALUE, section, key,
                           hasEquals ? ValueStartOf(bytes, encoding, line) : line.m_nContent, line.m_nContent,
                           hasEquals});
    }
    if (!lines.InStep()) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    if (dropFrom != NONE) changes.push_back({dropFrom, bytes.size(), EK_DROP, -1, -1, 0, 0, false});
    for (size_t s = 0; s < plan.size(); ++s) {
        if (plan[s].m_keys.empty()) continue;
        const CFirstPlace& place = places[s];
        const int index = static_cast<int>(s);
        if (!place.m_bFound) changes.push_back({bytes.size(), bytes.size(), EK_NEW_SECTION, index, -1, 0, 0, false});
        else if (std::find(place.m_keyFound.begin(), place.m_keyFound.end(), 0) != place.m_keyFound.end())
            changes.push_back({place.m_nLastEnd, place.m_nLastEnd, EK_NEW_KEYS, index, -1, 0, 0, false});
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const CEditAt& a, const CEditAt& b) { return a.m_nBegin < b.m_nBegin; });

    // The bytes between the changes taken as they are.
    const std::wstring lineBreak = LineBreakOf(bytes, view);
    pieces.clear();
    added.clear();
    size_t made = 0;  // bytes the pieces hold so far
    auto take = [&](size_t from, size_t to) {
        if (to <= from) return;
        pieces.push_back({false, from, to - from});
        made += to - from;
    };
    auto put = [&](const std::wstring& part) {
        const size_t at = added.size();
        if (!Encode(part, encoding, added)) {
            error = ERROR_NO_UNICODE_TRANSLATION;
            return false;
        }
        const size_t size = added.size() - at;
        made += size;
        if (!pieces.empty() && pieces.back().m_bAdded && pieces.back().m_nAt + pieces.back().m_nSize == at)
            pieces.back().m_nSize += size;
        else if (size > 0)
            pieces.push_back({true, at, size});
        return true;
    };
    auto endsWithFeed = [&]() {
        if (made <= encoding.m_nMark) return true;
        const CEditPiece& last = pieces.back();
        return IsUnit(last.m_bAdded ? added : bytes, last.m_nAt + last.m_nSize - encoding.unit(), encoding, L'\n');
    };
    size_t run = 0;
    for (const CEditAt& change : changes) {
        take(run, change.m_nBegin);
        run = change.m_nEnd;
        if (change.m_nKind == EK_DROP) continue;
        const CEditedSection& keys = plan[change.m_nSection];
        if (change.m_nKind == EK_VALUE) {
            // The name, the '=' and the spacing after it stay as they were.
            const std::wstring& value = keys.m_keys[change.m_nKey].second;
            take(change.m_nBegin, change.m_nValueAt);
            if (!put(change.m_bHasEquals ? value : L"=" + value)) return false;
            take(change.m_nContent, change.m_nEnd);
            continue;
        }
        if (!endsWithFeed() && !put(lineBreak)) return false;
        if (change.m_nKind == EK_NEW_SECTION && !put(L"[" + keys.m_strName + L"]" + lineBreak)) return false;
        const std::vector<char>* there =
            change.m_nKind == EK_NEW_KEYS ? &places[change.m_nSection].m_keyFound : nullptr;
        for (size_t k = 0; k < keys.m_keys.size(); ++k) {
            if (there != nullptr && (*there)[k]) continue;
            if (!put(keys.m_keys[k].first + L'=' + keys.m_keys[k].second + lineBreak)) return false;
        }
    }
    take(run, bytes.size());
    return true;
}

bool EditProfileBytes(const std::string& bytes, const std::vector<CConfigEdit>& edits, std::string& edited,
                      DWORD& error) {
    std::vector<CEditPiece> pieces;
    std::string added;
    if (!EditProfilePieces(bytes, edits, pieces, added, error)) return false;
    edited.clear();
    for (const CEditPiece& piece : pieces) edited.append(piece.m_bAdded ? added : bytes, piece.m_nAt, piece.m_nSize);
    return true;
}

bool ProfileEditIsProven(std::string_view before, std::string_view after, const std::vector<CConfigEdit>& edits) {
    CTextView was, is;
    DWORD error = ERROR_SUCCESS;
    if (!was.Open(before, error) || !is.Open(after, error)) return false;
    const CEditPlan plan(edits);

    // The copy's side: where each edited section first stands, and the values found there.
    std::vector<char> seen(plan.size(), 0);
    std::vector<std::vector<char>> found(plan.size());
    for (size_t s = 0; s < plan.size(); ++s) found[s].assign(plan[s].m_keys.size(), 0);
    int section = -1;
    bool firstPlace = false;
    // Takes a line of the copy in; false when the copy may not hold it.
    auto take = [&](const CTextLine& line, const CLineParts& parts) {
        if (parts.m_nKind == LK_SECTION) {
            section = SectionOf(plan, line, parts);
            firstPlace = section >= 0 && !seen[section];
            if (section < 0) return true;
            // A removed section is gone from every place; one set anew stands in one.
            if (plan[section].m_keys.empty() || (!firstPlace && plan[section].m_bDropOld)) return false;
            seen[section] = 1;
            return true;
        }
        if (parts.m_nKind != LK_KEY || section < 0 || !firstPlace) return true;
        const int key = KeyOf(plan[section], line, parts);
        if (key < 0 || found[section][key]) return true;
        found[section][key] = 1;
        const std::wstring value = parts.m_nEquals == std::wstring::npos
                                       ? std::wstring()
                                       : std::wstring(line.m_pText + parts.m_nValue, parts.m_nValueEnd - parts.m_nValue);
        return Unquoted(value) == plan[section].m_keys[key].second;
    };
    // What the copy may hold beyond the file: blank lines, and the sections and keys edited.
    auto added = [&](const CTextLine& line, const CLineParts& parts) {
        if (parts.m_nKind == LK_BLANK) return true;
        if (parts.m_nKind == LK_SECTION) return SectionOf(plan, line, parts) >= 0;
        return section >= 0 && KeyOf(plan[section], line, parts) >= 0;
    };

    // Every line of the file but the edited ones stands in the copy, in its order.
    size_t wasAt = 0, isAt = 0;
    int wasSection = -1;
    bool wasDropped = false;
    CTextLine line, copyLine;
    bool byStretch = true;
    for (;;) {
        // Outside every edited section the copy holds the file's lines as they were, up to the
        // next edited section's header: one comparison of the whole stretch, or line by line
        // where it differs.
        if (byStretch && wasSection < 0 && section < 0) {
            const size_t stretch = NextEditedHeader(plan, was.text(), was.size(), wasAt) - wasAt;
            byStretch = stretch <= is.size() - isAt &&
                        std::memcmp(was.text() + wasAt, is.text() + isAt, stretch * sizeof(wchar_t)) == 0;
            if (byStretch) {
                wasAt += stretch;
                isAt += stretch;
            }
        }
        if (!NextLine(was.text(), was.size(), wasAt, line)) break;
        const CLineParts parts = PartsOf(line.m_pText, line.m_nLength);
        byStretch = byStretch || parts.m_nKind == LK_SECTION;
        if (parts.m_nKind == LK_BLANK) continue;
        if (parts.m_nKind == LK_SECTION) {
            wasSection = SectionOf(plan, line, parts);
            wasDropped = wasSection >= 0 && plan[wasSection].m_bDropOld;
        }
        if (wasDropped) continue;
        if (parts.m_nKind == LK_KEY && wasSection >= 0 && KeyOf(plan[wasSection], line, parts) >= 0) continue;
        bool same = false;
        while (!same && NextLine(is.text(), is.size(), isAt, copyLine)) {
            const CLineParts copyParts = PartsOf(copyLine.m_pText, copyLine.m_nLength);
            same = SameLine(line, parts, copyLine, copyParts);
            if ((!same && !added(copyLine, copyParts)) || !take(copyLine, copyParts)) return false;
        }
        if (!same) return false;
    }
    while (NextLine(is.text(), is.size(), isAt, copyLine)) {
        const CLineParts copyParts = PartsOf(copyLine.m_pText, copyLine.m_nLength);
        if (!added(copyLine, copyParts) || !take(copyLine, copyParts)) return false;
    }
    for (const std::vector<char>& keys : found)
        if (std::find(keys.begin(), keys.end(), 0) != keys.end()) return false;
    return true;
}

std::wstring ItemOf(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    return section + L'\1' + key + L'\1' + value;
}

CProfileItems ParseProfile(const std::wstring& text) {
    CProfileItems items;
    std::wstring section;  // keys ahead of the first section belong to the unnamed one
    CTextLine line;
    for (size_t pos = 0; NextLine(text.c_str(), text.size(), pos, line);) {
        const CLineParts parts = PartsOf(line.m_pText, line.m_nLength);
        const std::wstring name(line.m_pText + parts.m_nName, parts.m_nNameEnd - parts.m_nName);
        if (parts.m_nKind == LK_BLANK) continue;
        if (parts.m_nKind == LK_SECTION) {
            section = FoldedName(name);
            items.sections.insert(section);
            ++items.counts[section + L'\1'];
            continue;
        }
        const std::wstring value = parts.m_nEquals == std::wstring::npos
                                       ? L"\2"
                                       : std::wstring(line.m_pText + parts.m_nValue, parts.m_nValueEnd - parts.m_nValue);
        ++items.counts[ItemOf(section, FoldedName(name), value)];
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
