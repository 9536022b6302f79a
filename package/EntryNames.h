// A package entry's id and extension become a file name in the host's dictionary data
// directory, an image name and a configuration section. A package is untrusted, so an
// entry may only name a plain file inside that directory.
#pragma once

#include <string>

// False for an empty id, for a name that holds a path separator, a drive colon, a character Windows forbids
// in file names, that is empty or only dots and spaces ("." and ".." among them), that ends
// in a dot or a space (Windows would drop them and write another file), that ends like one
// of the engine's own files beside another dictionary (its backup, or a file still being
// written), or that names a device (CON, NUL, COM1, ...), with or without an extension.
bool IsSafeEntryName(const std::wstring& dictId, const std::wstring& fileExt);
