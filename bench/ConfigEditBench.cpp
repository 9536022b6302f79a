// Time of one registration's verified edit of the host's configuration, by the file's
// number of sections: prints the median of 3 runs in milliseconds.
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

}  // namespace

int wmain() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"qb_config_bench.ini";
    std::vector<CConfigEdit> edits = {{L"abc", CFG_KEY_ID, L"abc"}};
    for (const wchar_t* key : CFG_COPIED_KEYS) edits.push_back({L"abc", key, std::wstring(200, L'v')});
    std::printf("sections  verified edit (ms, median of 3)\n");
    for (const int sections : {500, 4000, 30000}) {
        std::vector<double> times;
        for (int run = 0; run < 3; ++run) {
            if (!WriteConfig(path, sections)) return 1;
            LARGE_INTEGER frequency, start, end;
            QueryPerformanceFrequency(&frequency);
            QueryPerformanceCounter(&start);
            DWORD error = ERROR_SUCCESS;
            if (!ReplaceHostConfigVerified(path, edits, error)) return 2;
            QueryPerformanceCounter(&end);
            times.push_back(1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
        }
        std::sort(times.begin(), times.end());
        std::printf("%8d  %.0f\n", sections, times[1]);
    }
    DeleteFileW(path.c_str());
    return 0;
}
