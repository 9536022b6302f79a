// The wizard's own folders under %ProgramData% (removal records, kept copies, logs, the host's
// lock). Any user may make folders there, so a folder is used only once it is proven ours: a
// real folder (no link or junction on its way from %ProgramData%, read from the final path of
// an opened handle as well as from its attributes) whose owner is SYSTEM, Administrators,
// TrustedInstaller or whoever owns %ProgramData% itself. Anything else found at the name is
// moved aside to %ProgramData% (and reported), never followed or emptied, and the folder is
// made anew with PROTECTED_FOLDER_SDDL. A link that this system cannot move without moving
// what it leads to (NameIsItself) is left as it is and the folder refused
// (ERROR_REPARSE_POINT_ENCOUNTERED).
#pragma once

#include <windows.h>

#include <string>

// The folder and every file in it: SYSTEM and Administrators, full control, nothing inherited.
#define PROTECTED_FOLDER_SDDL L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
// Where something planted at one of our names goes: %ProgramData%\<this><tick>.<pid>.<name>.
#define PLANTED_ASIDE_PREFIX L"Quillbox-planted."
// Our folders' root below %ProgramData%.
#define PROTECTED_ROOT_PIECE L"\\Quillbox"

#ifndef ERROR_REPARSE_POINT_ENCOUNTERED
#define ERROR_REPARSE_POINT_ENCOUNTERED 4395L
#endif

// %ProgramData% without a trailing backslash; false when Windows does not say.
bool ProgramDataDir(std::wstring& out);

// SYSTEM, Administrators, TrustedInstaller, or the owner of %ProgramData% (a system that keeps
// no owners of its own reports the same owner for every folder).
bool IsTrustedFolderOwner(PSID owner, PSID programDataOwner);

// The path an opened handle reaches, without the "\\?\" form; empty when it cannot be read.
std::wstring FinalPathOf(HANDLE handle);

// The file or folder at path is itself, not a link: a handle opened at it, links not followed,
// reaches exactly that name in its folder. Under Wine 8 a Unix symbolic link is followed even
// then, and moving or deleting it moves or deletes what it leads to: such a name is never
// acted on. False when nothing is there.
bool NameIsItself(const std::wstring& path);

// Makes folder (below %ProgramData%\Quillbox) and each folder on its way from there, proving
// each that exists ours or moving it aside and making it anew, and puts the protected
// permissions (Administrators the owner) on each.
bool MakeProtectedFolder(const std::wstring& folder, DWORD& error);

// folder, then each empty folder above it up to %ProgramData%\Quillbox, removed while empty.
void RemoveEmptyProtectedFolders(const std::wstring& folder);
