// Time of one registration's verified edit of the host's configuration, by the file's
// number of sections: prints the median of 3 runs in milliseconds. With "many": 20
// dictionaries registered into a file of 4,000 sections, one replacement each against one
// replacement for all of them (one run each).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "install/DictConfig.h"
#include "install/InstallEngine.h"

namespace {

bool WriteConfig(const std::wstring& path, int sections) {
    std::wstring text = L"\xFEFF";
    for (int i = 0; i < sections; ++i) {
        wchar_t section[160];
        swprintf(section, 160, L"[dict%05d]\r\nid=dict%05d\r\ndesc_name=Dictionary %05d\r\nenable=1\r\n", i, i, i);
        text += section;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE;
}

std::vector<CConfigEdit> RegistrationEdits(const std::wstring& id) {
    std::vector<CConfigEdit> edits = {{id, CFG_KEY_ID, id}};
    for (const wchar_t* key : CFG_COPIED_KEYS) edits.push_back({id, key, std::wstring(200, L'v')});
    return edits;
}

double Milliseconds(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&end);
    return 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

int ManyDictionaries(const std::wstring& path) {
    constexpr int DICTIONARIES = 20;
    constexpr int SECTIONS = 4000;
    std::vector<CConfigEdit> all;
    std::printf("%d dictionaries into %d sections (ms)\n", DICTIONARIES, SECTIONS);
    if (!WriteConfig(path, SECTIONS)) return 1;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < DICTIONARIES; ++i) {
        const std::vector<CConfigEdit> edits = RegistrationEdits(L"new" + std::to_wstring(i));
        all.insert(all.end(), edits.begin(), edits.end());
        DWORD error = ERROR_SUCCESS;
        if (!ReplaceHostConfigVerified(path, edits, error)) return 2;
    }
    std::printf("one replacement each    %.0f\n", Milliseconds(start));
    if (!WriteConfig(path, SECTIONS)) return 1;
    QueryPerformanceCounter(&start);
    DWORD error = ERROR_SUCCESS;
    if (!ReplaceHostConfigVerified(path, all, error)) return 2;
    std::printf("one replacement for all %.0f\n", Milliseconds(start));
    DeleteFileW(path.c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"qb_config_bench.ini";
    if (argc > 1 && std::wstring(argv[1]) == L"many") return ManyDictionaries(path);
    const std::vector<CConfigEdit> edits = RegistrationEdits(L"abc");
    std::printf("sections  verified edit (ms, median of 3)\n");
    for (const int sections : {500, 4000, 30000}) {
        std::vector<double> times;
        for (int run = 0; run < 3; ++run) {
            if (!WriteConfig(path, sections)) return 1;
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            DWORD error = ERROR_SUCCESS;
            if (!ReplaceHostConfigVerified(path, edits, error)) return 2;
            times.push_back(Milliseconds(start));
        }
        std::sort(times.begin(), times.end());
        std::printf("%8d  %.0f\n", sections, times[1]);
    }
    DeleteFileW(path.c_str());
    return 0;
}
