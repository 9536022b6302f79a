// The host's configuration file (localquerydictcfg.ini) read as the profile functions read it,
// once and whole: to prove a rewritten copy against the file it replaces, and to learn which
// dictionaries the host can see. And the wizard's own writer of it: the file's bytes edited in
// one pass, everything outside the edited keys kept byte for byte.
//
// How the profile functions see a file (the reader and the writer follow it): lines end at a
// line feed; spaces, tabs, control spacing and ^Z around a line, a name or a value do not
// count; a line starting with '[' and holding a ']' heads a section named by what lies
// between the '[' and the last ']'; any other line is a key, named by what lies before its
// first '=' (the whole line when it has none); names compare without regard to case; of
// several sections (or keys in a section) with one name, the first is the one found; a value
// in matching quotes reads without them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// One change to a section of the host's file: a key set to a value, or the whole section
// removed (removeSection, key and value unused).
struct CConfigEdit {
    std::wstring m_strSection;
    std::wstring m_strKey;
    std::wstring m_strValue;
    bool m_bRemoveSection = false;
};

// The file's bytes, read whole. A file another program holds without read sharing fails with
// its sharing error.
bool ReadProfileBytes(const std::wstring& path, std::string& bytes, DWORD& error);
// The text of a file's bytes: UTF-16 or UTF-8 after a byte order mark, the ANSI code page
// without one.
bool DecodeProfileBytes(const std::string& bytes, std::wstring& text, DWORD& error);
bool ReadProfileText(const std::wstring& path, std::wstring& text, DWORD& error);

// Whether text survives a round trip through the code page (any code page, UTF-8 included).
bool TextFitsCodePage(const std::wstring& text, UINT codePage);

// The file's bytes with the edits made, in one pass: a key found in the first section of its
// name has its value replaced on its own line; a key not there yet goes after the section's
// last line that is not blank; a section not there yet goes at the end; a removed section
// goes with every line under it, in each place the name heads one. Every other byte stays
// as it was: byte order mark, encoding, comments, blank lines, spacing, order, line ends.
// Fails with ERROR_NO_UNICODE_TRANSLATION when a name or value cannot be held by the file's
// encoding (an ANSI file and text its code page lacks), ERROR_INVALID_PARAMETER for a name or
// value that would break a line, and nothing is made then.
bool EditProfileBytes(const std::string& bytes, const std::vector<CConfigEdit>& edits, std::string& edited,
                      DWORD& error);

// The same edit as the pieces the edited bytes are made of, in order, so that a writer can
// put the unchanged stretches out straight from the file's bytes: each piece is a stretch of
// bytes or of added (the edited lines, in the file's encoding).
struct CEditPiece {
    bool m_bAdded;  // from added, else from the file's bytes
    size_t m_nAt, m_nSize;
};
bool EditProfilePieces(const std::string& bytes, const std::vector<CConfigEdit>& edits,
                       std::vector<CEditPiece>& pieces, std::string& added, DWORD& error);

// Whether after is before with the edits made (both a file's bytes), as the profile functions
// read them: every key the edits set reads as its value where a lookup finds it, no section
// they removed is left, and every other section header and key line of before stands in
// after as it was, in its order, with nothing between them but blank lines and the edited
// sections and keys.
// One pass over each text, no name folded that differs from every edited one at a glance.
bool ProfileEditIsProven(std::string_view before, std::string_view after, const std::vector<CConfigEdit>& edits);

// What a profile file holds, line by line as the profile functions see it, in a form two
// files can be compared by: one item per section header ("S\1") and one per key line
// ("S\1K\1V"), section and key folded; spaces around names and values and blank lines do not
// count.
struct CProfileItems {
    std::unordered_map<std::wstring, int> counts;
    std::unordered_set<std::wstring> sections;  // folded names
};

// One key line's item: section and key folded, the value as written.
std::wstring ItemOf(const std::wstring& section, const std::wstring& key, const std::wstring& value);
CProfileItems ParseProfile(const std::wstring& text);

// The dictionaries the host can see: every section that names itself with its "id" key (the
// id as the section is named, letters folded). False when the file cannot be read.
bool ReadRegisteredIds(const std::wstring& path, std::unordered_set<std::wstring>& ids);
