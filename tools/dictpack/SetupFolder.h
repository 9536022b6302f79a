// dictpack check and dictpack setup: the whole folder a publisher ships (the wizard, its
// version library, the packages, dictconfig.ini and dict_image\), judged and made with the
// wizard's own reader, names, keys and Windows' own profile and bitmap functions. Windows only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace dictpack {

#define WIZARD_EXE_NAME L"Quillbox.exe"

// Manifest sections and the keys of a dictionary besides the wizard's copied INI keys.
#define MANIFEST_WIZARD_SECTION "wizard"
#define MANIFEST_DICTIONARY_SECTION "dictionary"
#define MANIFEST_KEY_EXE "exe"
#define MANIFEST_KEY_LIBRARY "version_library"
// What Windows' list of installed apps shows for the setup (written to setup.ini).
#define MANIFEST_KEY_SETUP_ID "setup_id"
#define MANIFEST_KEY_DISPLAY_NAME "display_name"
#define MANIFEST_KEY_PUBLISHER "publisher"
#define MANIFEST_KEY_FILE "file"
#define MANIFEST_KEY_PACKAGE "package"
#define MANIFEST_KEY_EXT "ext"
#define MANIFEST_KEY_DATE "date"
#define MANIFEST_KEY_NAME "name"
#define MANIFEST_KEY_PICTURE "picture"

#define PACKAGE_FILE_EXTENSION L".dir"

// The Western ANSI code page: a host file kept in it (no UTF-16 byte-order mark) holds only
// the texts this code page can hold, which check warns about.
constexpr UINT WESTERN_ANSI_CODE_PAGE = 1252;

struct CheckCounts {
    int errors = 0;
    int warnings = 0;
};

// The system's words for a Windows error code, without the closing full stop.
std::string SystemErrorText(DWORD code);

// Empty when the file at path is a picture the host can show: a BMP with a header Windows
// knows (1, 4, 8, 16, 24 or 32 bits per pixel), its pixels inside the file, that LoadImageW
// loads. Else what it is instead ("a PNG picture, not a BMP ...", "not a readable BMP (...)").
std::string PictureProblem(const std::wstring& path);

// Empty when the file at path is a 32-bit Windows GUI program (an MZ header leading to a PE
// header for i386, an executable image that is no DLL, the GUI subsystem); else what it is
// instead.
std::string WizardProgramProblem(const std::wstring& path);

// Reads dir as the wizard will and appends the table and one line per problem to out.
// Problem lines name files relative to dir; shownAs names dir in the summary line.
// False (with one line in err) when dir cannot be read as a folder at all.
bool CheckFolder(const std::wstring& dir, const std::string& shownAs, std::string& out, std::string& err,
                 CheckCounts& counts);

// The commands; args exclude the command's name. Exit codes as DictPackCore.h.
int RunCheck(const std::vector<std::string>& args, std::string& out, std::string& err);
int RunSetup(const std::vector<std::string>& args, std::string& out, std::string& err);

}  // namespace dictpack
