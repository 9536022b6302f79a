// The few file operations of dictpack that differ between platforms. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace dictpack {

// Files are opened allowing other processes to read and write them meanwhile.
FILE* OpenFile(const std::string& path, const char* mode);
int64_t FileSize(FILE* file);  // -1 on failure; leaves the position at the end
bool SeekTo(FILE* file, int64_t position);
// Pushes what was written through the C library and the system's cache to the disk, so a
// file renamed over another afterwards is never found partial after a crash.
bool FlushToDisk(FILE* file);
// Moves from over to, replacing an existing file.
bool MoveOver(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
// True when path is a directory afterwards (made if missing; its parent must exist).
bool MakeDirectory(const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& name);
bool IsAbsolutePath(const std::string& path);
// The path as CPackageReader takes it.
std::wstring ReaderPath(const std::string& path);

}  // namespace dictpack
