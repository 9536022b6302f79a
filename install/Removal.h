// Removing what a setup folder's packages installed, and only that: a dictionary goes only
// when its bytes are exactly its entry's. The order of the steps keeps every moment safe
// against a kill: the unregistered mark first (so an install after a kill registers the
// dictionary again), then its section, then its picture, then the file, then the mark. A kill
// leaves it installed and registered, installed and unregistered with its mark, or removed
// and unregistered; the next removal or install settles the middle one.
#pragma once

#include <windows.h>

#include <string>

struct EntryItem;
class CPackageReader;

enum class InstalledMatch {
    Absent,     // nothing answers to the entry's target
    Same,       // the installed bytes are the entry's
    Different,  // another build (newer, older, or changed): left alone
    Unreadable, // the installed file or the entry could not be read (error: why)
};

// The seal's SHA-256 where the package is sealed, a byte comparison with the entry otherwise.
InstalledMatch MatchInstalledEntry(const EntryItem& entry, CPackageReader& reader, DWORD& error);

// Removes the entry's installed dictionary, its section of the host's file and its picture
// when the picture's bytes are the setup folder's. Call only after MatchInstalledEntry said
// Same. False with the Windows error code of the step that failed.
bool RemoveInstalledEntry(const EntryItem& entry, DWORD& error);

// True when both files can be read and hold the same bytes.
bool SameFileBytes(const std::wstring& first, const std::wstring& second);
