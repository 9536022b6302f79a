// The wizard's own writer of the host's file: the bytes it keeps, what it refuses, and that the
// profile functions read its copy exactly as they read one edited through themselves.
#include <gtest/gtest.h>

#include <vector>

#include "host/HostConfigFile.h"
#include "install/DictConfig.h"
#include "install/WorkFiles.h"
#include "tests/support/TestSupport.h"

namespace {

using test::ReadFileBytes;

enum Encoding { ANSI, UTF16LE, UTF16BE, UTF8 };
const char* const ENCODING_NAMES[] = {"ANSI", "UTF-16LE", "UTF-16BE", "UTF-8"};

std::string Encoded(const std::wstring& text, Encoding encoding) {
    std::string bytes;
    switch (encoding) {
        case UTF16LE:
        case UTF16BE:
            bytes = encoding == UTF16LE ? "\xFF\xFE" : "\xFE\xFF";
            for (const wchar_t c : text) {
                const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
                bytes += encoding == UTF16LE ? std::string{low, high} : std::string{high, low};
            }
            return bytes;
        case UTF8:
        case ANSI: {
            const UINT codePage = encoding == UTF8 ? CP_UTF8 : CP_ACP;
            bytes = encoding == UTF8 ? "\xEF\xBB\xBF" : "";
            const int size = WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                                 nullptr, nullptr);
            std::string narrow(static_cast<size_t>(size), '\0');
            if (size > 0)
                WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr,
                                    nullptr);
            return bytes + narrow;
        }
    }
    return bytes;
}

CConfigEdit Removal(const std::wstring& section) {
    CConfigEdit edit;
    edit.m_strSection = section;
    edit.m_bRemoveSection = true;
    return edit;
}

std::string Edited(const std::string& bytes, const std::vector<CConfigEdit>& edits, DWORD* failure = nullptr) {
    std::string out;
    DWORD error = ERROR_SUCCESS;
    const bool edited = EditProfileBytes(bytes, edits, out, error);
    if (failure != nullptr) *failure = edited ? ERROR_SUCCESS : error;
    return edited ? out : "<failed " + std::to_string(error) + ">";
}

// Every byte outside the edited keys stays: spacing, comments, blank lines, line ends, a
// last line without its line end, repeated sections; a new key goes after its section's last
// line that is not blank, a new section at the end in the file's own line ends.
TEST(HostConfigEditTest, KeepsEveryByteOutsideTheEditedKeys) {
    const struct {
        const char* name;
        std::wstring before;
        std::vector<CConfigEdit> edits;
        std::wstring after;
    } cases[] = {
        {"a value replaced, its name, '=' and spacing kept",
         L"; host\r\n[ABC]\r\n  ID =  old  \r\n\r\n[x]\r\nk=v\r\n", {{L"abc", L"id", L"abc"}},
         L"; host\r\n[ABC]\r\n  ID =  abc\r\n\r\n[x]\r\nk=v\r\n"},
        {"a new key after the section's last key, before its blank lines",
         L"[abc]\nid=abc\n\n\n[x]\nk=v\n", {{L"abc", L"from", L"en"}, {L"abc", L"to", L"zh"}},
         L"[abc]\nid=abc\nfrom=en\nto=zh\n\n\n[x]\nk=v\n"},
        {"a new section at the end of a file without a last line end",
         L"[x]\r\nk=v", {{L"new", L"id", L"new"}, {L"new", L"ID", L"again"}},
         L"[x]\r\nk=v\r\n[new]\r\nid=again\r\n"},
        {"a new key in a last section without a last line end",
         L"[abc]\nid=abc", {{L"abc", L"enable", L"1"}}, L"[abc]\nid=abc\nenable=1\n"},
        {"only the first of repeated sections and keys is edited",
         L"[s]\r\na=1\r\na=2\r\n[S]\r\na=3\r\n", {{L"S", L"A", L"9"}, {L"s", L"b", L"4"}},
         L"[s]\r\na=9\r\na=2\r\nb=4\r\n[S]\r\na=3\r\n"},
        {"a key line without '=' takes the value", L"[s]\r\nbare\r\n", {{L"s", L"bare", L"v"}}, L"[s]\r\nbare=v\r\n"},
        {"a removed section goes in every place it heads, with everything under it",
         L"[a]\r\nk=1\r\n[abc]\r\nid=abc\r\n; note\r\n\r\n[b]\r\nk=2\r\n[ABC]\r\nold=1\r\n",
         {Removal(L"abc")}, L"[a]\r\nk=1\r\n[b]\r\nk=2\r\n"},
        {"a section removed and set again is new at the end", L"[abc]\r\nold=1\r\n[b]\r\n",
         {Removal(L"abc"), {L"abc", L"id", L"abc"}}, L"[b]\r\n[abc]\r\nid=abc\r\n"},
        {"an empty file", L"", {{L"abc", L"id", L"abc"}}, L"[abc]\r\nid=abc\r\n"},
        {"the section found behind spacing and in any case, past lines that only look like its header",
         L"k=[abc]\r\n[abc\r\n[abc]]\r\nid=no\r\n[abd]\r\nid=abd\r\n \t[ aBc ]\r\nid=old\r\n[x]\r\nk=v\r\n",
         {{L"abc", L"id", L"new"}},
         L"k=[abc]\r\n[abc\r\n[abc]]\r\nid=no\r\n[abd]\r\nid=abd\r\n \t[ aBc ]\r\nid=new\r\n[x]\r\nk=v\r\n"},
    };
    for (const auto& c : cases) {
        for (const Encoding encoding : {ANSI, UTF16LE, UTF16BE, UTF8}) {
            SCOPED_TRACE(std::string(c.name) + ", " + ENCODING_NAMES[encoding]);
            EXPECT_EQ(Edited(Encoded(c.before, encoding), c.edits), Encoded(c.after, encoding));
        }
    }
}

// The proof of a copy: it accepts what the profile functions read as the file with the edits
// made, and refuses a copy that changed, lost or added anything else, or that a lookup would
// not read the edited values from.
TEST(HostConfigEditTest, ProofTellsAFaithfulCopyFromAWrongOne) {
    const std::vector<CConfigEdit> setId = {{L"abc", L"id", L"abc"}};
    const struct {
        const char* name;
        std::wstring before, after;
        std::vector<CConfigEdit> edits;
        bool proven;
    } cases[] = {
        {"the writer's copy, the section behind spacing",
         L"k=[abc]\r\n[abc]]\r\nid=no\r\n[abd]\r\n \t[ aBc ]\r\nid=old\r\n[x]\r\nk=v\r\n",
         L"k=[abc]\r\n[abc]]\r\nid=no\r\n[abd]\r\n \t[ aBc ]\r\nid=abc\r\n[x]\r\nk=v\r\n", setId, true},
        {"a quoted value with spacing reads as the value", L"[abc]\r\nid=old\r\n", L"[abc]\r\n id = \"abc\" \r\n", setId,
         true},
        {"a key of another section changed", L"[abc]\r\nid=old\r\n[abd]\r\nk=1\r\n",
         L"[abc]\r\nid=abc\r\n[abd]\r\nk=2\r\n", setId, false},
        {"a line of another section lost", L"[x]\r\nk=v\r\nj=1\r\n", L"[x]\r\nk=v\r\n[abc]\r\nid=abc\r\n", setId, false},
        {"a section no edit names added", L"[x]\r\nk=v\r\n", L"[x]\r\nk=v\r\n[evil]\r\n[abc]\r\nid=abc\r\n", setId,
         false},
        {"the edited value wrong", L"[x]\r\nk=v\r\n", L"[x]\r\nk=v\r\n[abc]\r\nid=abd\r\n", setId, false},
        {"the value set where a lookup does not find it", L"[abc]\r\nid=old\r\n[x]\r\n[ABC]\r\n",
         L"[abc]\r\nid=old\r\n[x]\r\n[ABC]\r\nid=abc\r\n", setId, false},
        {"a removed section left where it stood again", L"[abc]\r\nk=1\r\n[x]\r\n[ABC]\r\nk=2\r\n",
         L"[x]\r\n[ABC]\r\nk=2\r\n", {Removal(L"abc")}, false},
        {"a key lost under the edited section", L" [ABC ]\r\nid=old\r\nkeep=1\r\n", L" [ABC ]\r\nid=abc\r\n", setId,
         false},
    };
    for (const auto& c : cases) {
        for (const Encoding encoding : {ANSI, UTF16LE, UTF16BE, UTF8}) {
            SCOPED_TRACE(std::string(c.name) + ", " + ENCODING_NAMES[encoding]);
            EXPECT_EQ(ProfileEditIsProven(Encoded(c.before, encoding), Encoded(c.after, encoding), c.edits), c.proven);
        }
    }
}

// What would break a line, or what the file's encoding cannot hold, is refused before
// anything is made.
TEST(HostConfigEditTest, RefusesWhatTheFileCannotHold) {
    const std::wstring chinese = L"\x8BCD\x5178";
    const bool ansiHoldsChinese = TextFitsCodePage(chinese, GetACP());
    const struct {
        const char* name;
        Encoding encoding;
        CConfigEdit edit;
        DWORD error;
    } cases[] = {
        {"a value the ANSI code page lacks", ANSI, {L"abc", L"desc_name", chinese},
         ansiHoldsChinese ? static_cast<DWORD>(ERROR_SUCCESS) : static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION)},
        {"the same value in a UTF-8 file", UTF8, {L"abc", L"desc_name", chinese}, ERROR_SUCCESS},
        {"the same value in a UTF-16 file", UTF16LE, {L"abc", L"desc_name", chinese}, ERROR_SUCCESS},
        {"a lone surrogate in a UTF-8 file", UTF8, {L"abc", L"desc_name", L"\xD800"}, ERROR_NO_UNICODE_TRANSLATION},
        {"a line break in a value", UTF16LE, {L"abc", L"desc_name", L"a\r\n[evil]"}, ERROR_INVALID_PARAMETER},
        {"a line feed in a section name", UTF16LE, {L"abc\nx", L"id", L"abc"}, ERROR_INVALID_PARAMETER},
        {"an '=' in a key", ANSI, {L"abc", L"a=b", L"v"}, ERROR_INVALID_PARAMETER},
        {"an empty section name", ANSI, {L" ", L"id", L"v"}, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD error = ERROR_SUCCESS;
        Edited(Encoded(L"[abc]\r\nid=abc\r\n", c.encoding), {c.edit}, &error);
        EXPECT_EQ(error, c.error);
    }
}

// Every key of every section as the profile functions read the file.
std::vector<std::wstring> ProfileReading(const std::wstring& path) {
    std::vector<wchar_t> names(1 << 20), keys(1 << 20), value(1024);
    std::vector<std::wstring> lines;
    const DWORD namesLength =
        GetPrivateProfileSectionNamesW(names.data(), static_cast<DWORD>(names.size()), path.c_str());
    for (const wchar_t* name = names.data(); name < names.data() + namesLength && *name; name += wcslen(name) + 1) {
        const DWORD keysLength =
            GetPrivateProfileStringW(name, nullptr, L"", keys.data(), static_cast<DWORD>(keys.size()), path.c_str());
        for (const wchar_t* key = keys.data(); key < keys.data() + keysLength && *key; key += wcslen(key) + 1) {
            GetPrivateProfileStringW(name, key, L"<none>", value.data(), static_cast<DWORD>(value.size()), path.c_str());
            lines.push_back(std::wstring(name) + L"|" + key + L"=" + value.data());
        }
        lines.push_back(std::wstring(L"[") + name + L"]");
    }
    return lines;
}

bool EditThroughProfileFunctions(const std::wstring& path, const std::vector<CConfigEdit>& edits) {
    for (const CConfigEdit& edit : edits) {
        const BOOL written = edit.m_bRemoveSection
                                 ? WritePrivateProfileStringW(edit.m_strSection.c_str(), nullptr, nullptr, path.c_str())
                                 : WritePrivateProfileStringW(edit.m_strSection.c_str(), edit.m_strKey.c_str(),
                                                              edit.m_strValue.c_str(), path.c_str());
        if (!written) return false;
    }
    return true;
}

std::wstring HostFileOfSections(int count, bool chinese) {
    std::wstring text = L"[abc]\r\nid=abc\r\ndesc_name=old\r\n";
    for (int i = 0; i < count; ++i) {
        const std::wstring n = std::to_wstring(i);
        text += L"[other" + n + L"]\r\nid=other" + n + L"\r\ndesc_name=" + (chinese ? L"\x8BCD\x5178" : L"dict") + n +
                L"\r\nenable=1\r\n";
    }
    return text + L";" + std::wstring(80, L'p') + L"\r\n";
}

// The fixtures of the replacement's tests, edited by the wizard and through the profile
// functions: the profile functions read both copies alike, in every encoding the host's
// file comes in.
TEST(HostConfigEditTest, ProfileFunctionsReadTheCopyAsTheirOwnEdit) {
    const std::wstring odd =
        L"top=1\r\n\r\n; a comment\r\n[ spaced ]\r\n  key  =  value  \r\nbare line\r\n\r\n[abc]\r\n"
        L"id=abc\r\nquoted=\"q\"\r\n[Spaced]\r\nagain=2\r\n";
    const struct {
        const char* name;
        std::wstring text;
        bool unicodeOnly;  // holds text an ANSI file cannot
    } fixtures[] = {
        {"odd lines", odd, false},
        {"sections of other dictionaries", HostFileOfSections(60, false), false},
        {"Chinese names of other dictionaries", HostFileOfSections(40, true), true},
        {"one section", L"[abc]\r\ncatalog=kept\r\n", false},
        {"line feeds, tabs, no last line end", L"[ABC]\n\tID\t=\tx\n[Other]\nk=v", false},
        {"repeated sections", L"[abc]\r\nid=abc\r\n[x]\r\n[ABC]\r\ndesc_name=hidden\r\n", false},
        {"empty", L"", false},
    };
    const std::wstring chineseName = L"ABC\x82F1\x6C49\x8BCD\x5178";  // ABC英汉词典
    std::vector<CConfigEdit> registration = {{L"abc", L"id", L"abc"},
                                             {L"abc", L"desc_name", L"ABC"},
                                             {L"abc", L"catalog", L"c"},
                                             {L"abc", L"desc_intro", std::wstring(259, L'i')}};
    const struct {
        const char* name;
        std::vector<CConfigEdit> edits;
        bool unicodeOnly;
    } editSets[] = {
        {"registration", registration, false},
        {"registration with a Chinese name", {{L"abc", L"id", L"abc"}, {L"abc", L"desc_name", chineseName}}, true},
        {"a new dictionary", {{L"new", L"id", L"new"}, {L"new", L"from", L"en"}, {L"NEW", L"from", L"de"}}, false},
        {"enabling", {{L"ABC", L"enable", L"1"}, {L"spaced", L"enable", L"1"}, {L"other5", L"enable", L"1"}}, false},
        {"removal", {Removal(L"other7")}, false},
    };
    test::TempDir dir(L"cfgedit");
    const std::wstring ours = dir.path() + L"\\ours.ini", theirs = dir.path() + L"\\theirs.ini";
    for (const auto& fixture : fixtures) {
        for (const auto& set : editSets) {
            for (const Encoding encoding : {ANSI, UTF16LE, UTF16BE, UTF8}) {
                if (encoding == ANSI && (fixture.unicodeOnly || set.unicodeOnly)) continue;
                SCOPED_TRACE(std::string(fixture.name) + ", " + set.name + ", " + ENCODING_NAMES[encoding]);
                const std::string before = Encoded(fixture.text, encoding);
                ASSERT_TRUE(test::WriteFileBytes(ours, Edited(before, set.edits)));
                ASSERT_TRUE(test::WriteFileBytes(theirs, before));
                ASSERT_TRUE(EditThroughProfileFunctions(theirs, set.edits));
                EXPECT_EQ(ProfileReading(ours), ProfileReading(theirs));
            }
        }
    }
}

// A value the host's ANSI file cannot hold fails the whole replacement before anything is
// written: the file stays byte for byte and no copy is left.
TEST(HostConfigEditTest, ReplacementRefusesAValueTheFileCannotHold) {
    const std::wstring chinese = L"\x8BCD\x5178";
    if (TextFitsCodePage(chinese, GetACP())) GTEST_SKIP() << "the system's code page holds the value";
    test::TempDir dir(L"cfgedit");
    const std::wstring path = dir.path() + L"\\localquerydictcfg.ini";
    const std::string before = "[other]\r\nid=other\r\n";
    ASSERT_TRUE(test::WriteFileBytes(path, before));
    DWORD error = ERROR_SUCCESS;
    EXPECT_FALSE(ReplaceHostConfigVerified(path, {{L"abc", L"id", L"abc"}, {L"abc", L"desc_name", chinese}}, error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_FALSE(test::FileExists(NewFilePathOf(path)));
    EXPECT_FALSE(test::FileExists(CopyFilePathOf(path)));
}

}  // namespace
