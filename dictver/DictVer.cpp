// dict_ver.dll: the version library the wizard loads beside its executable. Exports use
// the C calling convention under their plain names; the 16-byte date is a SYSTEMTIME.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "base/ScopedWin.h"
#include "dictver/DictDate.h"

static_assert(sizeof(SYSTEMTIME) == sizeof(DictSystemTime), "the version date is a SYSTEMTIME");
static_assert(offsetof(SYSTEMTIME, wDay) == offsetof(DictSystemTime, day), "SYSTEMTIME layout");
static_assert(offsetof(SYSTEMTIME, wMilliseconds) == offsetof(DictSystemTime, milliseconds), "SYSTEMTIME layout");

#define DICTVER_EXPORT extern "C" __declspec(dllexport)

namespace {

DictSystemTime FromSystemTime(const SYSTEMTIME& time) {
    DictSystemTime date;
    std::memcpy(&date, &time, sizeof date);
    return date;
}

bool ReadStamp(HANDLE file, DictSystemTime& date) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < static_cast<LONGLONG>(DICT_STAMP_SIZE)) return false;
    LARGE_INTEGER back;
    back.QuadPart = -static_cast<LONGLONG>(DICT_STAMP_SIZE);
    if (!SetFilePointerEx(file, back, nullptr, FILE_END)) return false;
    unsigned char trailer[DICT_STAMP_SIZE];
    DWORD got = 0;
    if (!ReadFile(file, trailer, DICT_STAMP_SIZE, &got, nullptr) || got != DICT_STAMP_SIZE) return false;
    std::string text;
    return ReadStampTrailer(trailer, text, date);
}

// Universal time, so a time set with SetFileTime reads back the same wherever the file is.
bool ReadLastWriteTime(HANDLE file, DictSystemTime& date) {
    FILETIME written;
    SYSTEMTIME time;
    if (!GetFileTime(file, nullptr, nullptr, &written) || !FileTimeToSystemTime(&written, &time)) return false;
    date = FromSystemTime(time);
    return true;
}

}  // namespace

DICTVER_EXPORT bool __cdecl get_dict_datetime(const wchar_t* path, SYSTEMTIME* date) {
    if (path == nullptr || path[0] == L'\0' || date == nullptr) return false;
    qb::ScopedHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DictSystemTime found;
    if (!ReadStamp(file.get(), found) && !ReadLastWriteTime(file.get(), found)) return false;
    std::memcpy(date, &found, sizeof found);
    return true;
}

DICTVER_EXPORT bool __cdecl string_to_date(const wchar_t* text, SYSTEMTIME* date) {
    if (date == nullptr) return false;
    DictSystemTime parsed;
    if (!ParseDateUnits(text, parsed)) return false;
    std::memcpy(date, &parsed, sizeof parsed);
    return true;
}

// A missing date orders like the all-zero date the wizard keeps when it has none.
DICTVER_EXPORT int __cdecl compare_date(const SYSTEMTIME* first, const SYSTEMTIME* second) {
    const DictSystemTime none{};
    return CompareDictDates(first ? FromSystemTime(*first) : none, second ? FromSystemTime(*second) : none);
}
