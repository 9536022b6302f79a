// A version library without string_to_date. Its other two exports give answers that would
// show if they were ever used: a date of 0xEE bytes, and "the installed file is newer".
#include <cstring>

extern "C" __declspec(dllexport) void __cdecl get_dict_datetime(const wchar_t*, unsigned char* date) {
    std::memset(date, 0xEE, 16);
}

extern "C" __declspec(dllexport) int __cdecl compare_date(const unsigned char*, const unsigned char*) { return -1; }
