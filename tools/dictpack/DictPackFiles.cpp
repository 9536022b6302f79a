#include "tools/dictpack/DictPackFiles.h"

#include "tools/dictpack/Utf.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <share.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace dictpack {

#ifdef _WIN32

FILE* OpenFile(const std::string& path, const char* mode) {
    std::wstring wide, wideMode;
    if (!Utf8ToUtf16(path, wide) || !Utf8ToUtf16(mode, wideMode)) return nullptr;
    return _wfsopen(wide.c_str(), wideMode.c_str(), _SH_DENYNO);
}

int64_t FileSize(FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    return _ftelli64(file);
}

bool SeekTo(FILE* file, int64_t position) { return _fseeki64(file, position, SEEK_SET) == 0; }

bool FlushToDisk(FILE* file) {
    if (std::fflush(file) != 0) return false;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != FALSE;
}

bool MoveOver(const std::string& from, const std::string& to) {
    std::wstring wideFrom, wideTo;
    return Utf8ToUtf16(from, wideFrom) && Utf8ToUtf16(to, wideTo) &&
           MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool RemoveFile(const std::string& path) {
    std::wstring wide;
    return Utf8ToUtf16(path, wide) && DeleteFileW(wide.c_str()) != FALSE;
}

bool MakeDirectory(const std::string& path) {
    std::wstring wide;
    if (!Utf8ToUtf16(path, wide)) return false;
    CreateDirectoryW(wide.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir.back() == '\\' || dir.back() == '/') return dir + name;
    return dir + "\\" + name;
}

bool IsAbsolutePath(const std::string& path) {
    return (!path.empty() && (path[0] == '\\' || path[0] == '/')) || (path.size() >= 2 && path[1] == ':');
}

std::wstring ReaderPath(const std::string& path) {
    std::wstring wide;
    Utf8ToUtf16(path, wide);
    return wide;
}

#else

FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int64_t FileSize(FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    return ftello(file);
}

bool SeekTo(FILE* file, int64_t position) { return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0; }

bool FlushToDisk(FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool MoveOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool MakeDirectory(const std::string& path) {
    mkdir(path.c_str(), 0777);
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

bool IsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::wstring ReaderPath(const std::string& path) {
    std::wstring wide;
    for (unsigned char c : path) wide.push_back(static_cast<wchar_t>(c));  // narrowed again by the reader
    return wide;
}

#endif

}  // namespace dictpack
