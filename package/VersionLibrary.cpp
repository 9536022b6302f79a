#include "package/VersionLibrary.h"

#include <string>

#include "base/ScopedWin.h"

namespace {

// The loaded state lasts for the whole process: once all three exports were found the
// library stays mapped, so the pointers below never dangle.
bool g_loaded = false;
VersionLibraryApi g_api{};

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    // Through the generic function pointer type, which converts to any other without a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

bool LoadVersionLibrary() {
    if (g_loaded) return true;

    wchar_t exePath[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    std::wstring path(exePath, length);
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return false;
    const std::wstring name = L"\\" VERSION_LIBRARY_NAME;
    if (slash + name.size() >= MAX_PATH) return false;
    path.replace(slash, std::wstring::npos, name);

    qb::ScopedLibrary library(LoadLibraryW(path.c_str()));
    if (!library) return false;
    VersionLibraryApi api{};
    api.get_dict_datetime = Export<PFN_GET_DICT_DATETIME>(library.get(), "get_dict_datetime");
    api.compare_date = Export<PFN_COMPARE_DATE>(library.get(), "compare_date");
    api.string_to_date = Export<PFN_STRING_TO_DATE>(library.get(), "string_to_date");
    if (api.get_dict_datetime == nullptr || api.compare_date == nullptr || api.string_to_date == nullptr)
        return false;

    library.release();
    g_api = api;
    g_loaded = true;
    return true;
}

const VersionLibraryApi& VersionLibrary() { return g_api; }
