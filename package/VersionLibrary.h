// The version library "dict_ver.dll" beside the wizard: reads and compares dictionary dates.
#pragma once

#include "package/PlanRecords.h"

#define VERSION_LIBRARY_NAME L"dict_ver.dll"

// The library's exports, C calling convention, plain names.
typedef void(__cdecl* PFN_GET_DICT_DATETIME)(const wchar_t* path, DictDate* date);
typedef bool(__cdecl* PFN_STRING_TO_DATE)(const wchar_t* text, DictDate* date);
typedef int(__cdecl* PFN_COMPARE_DATE)(const DictDate* first, const DictDate* second);

struct VersionLibraryApi {
    PFN_GET_DICT_DATETIME get_dict_datetime;
    PFN_STRING_TO_DATE string_to_date;
    PFN_COMPARE_DATE compare_date;
};

// Loads the library by its full path beside the running executable, once for the process,
// with all three exports or not at all. Tries again on every call while it is unavailable.
bool LoadVersionLibrary();
// The loaded exports; only valid after LoadVersionLibrary returned true.
const VersionLibraryApi& VersionLibrary();
