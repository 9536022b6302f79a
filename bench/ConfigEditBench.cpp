// Time of one registration's proven replacement of the host's configuration, by the file's
// number of sections, beside the floor any proven replacement pays: copying the file, flushing
// the copy and renaming it over the file. Medians of 7 runs, in milliseconds. With "many": 20
// dictionaries registered into a file of 4,000 sections, one replacement each as each is
// placed, beside 20 times that file's floor (one run each).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "install/DictConfig.h"
#include "install/InstallEngine.h"
#include "install/WorkFiles.h"

namespace {

// Runs per size, taking turns with the floor: a loaded machine moves single figures a lot.
constexpr int RUNS = 7;

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

// What no proven replacement can do without: a flushed copy renamed over the file.
bool CopyFlushRename(const std::wstring& path) {
    const std::wstring copy = path + L".floor";
    return DeleteWorkFile(copy) && CopyDurably(path, copy, CREATE_NEW) && MoveDurably(copy, path, true);
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int ManyDictionaries(const std::wstring& path) {
    constexpr int DICTIONARIES = 20;
    constexpr int SECTIONS = 4000;
    std::printf("%d dictionaries into %d sections, each registered as it is placed (ms)\n", DICTIONARIES, SECTIONS);
    if (!WriteConfig(path, SECTIONS)) return 1;
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < DICTIONARIES; ++i) {
        DWORD error = ERROR_SUCCESS;
        if (!ReplaceHostConfigVerified(path, RegistrationEdits(L"new" + std::to_wstring(i)), error)) return 2;
    }
    const double replacements = Milliseconds(start);
    if (!WriteConfig(path, SECTIONS)) return 1;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < DICTIONARIES; ++i)
        if (!CopyFlushRename(path)) return 3;
    const double floor = Milliseconds(start);
    std::printf("one proven replacement each %.0f   floor (copy + flush + rename) x %d %.0f   ratio %.2f\n",
                replacements, DICTIONARIES, floor, replacements / floor);
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
    std::printf("sections  proven replacement  floor (copy + flush + rename)  ratio   (ms, medians of %d)\n", RUNS);
    for (const int sections : {500, 4000, 30000}) {
        std::vector<double> replacements, floors;
        for (int run = 0; run < RUNS; ++run) {
            // Taking turns, so that a change in the machine's load touches both alike.
            if (!WriteConfig(path, sections)) return 1;
            LARGE_INTEGER start;
            QueryPerformanceCounter(&start);
            DWORD error = ERROR_SUCCESS;
            if (!ReplaceHostConfigVerified(path, edits, error)) return 2;
            replacements.push_back(Milliseconds(start));
            if (!WriteConfig(path, sections)) return 1;
            QueryPerformanceCounter(&start);
            if (!CopyFlushRename(path)) return 3;
            floors.push_back(Milliseconds(start));
        }
        const double replacement = Median(replacements), floor = Median(floors);
        std::printf("%8d  %18.1f  %29.1f  %5.2f\n", sections, replacement, floor, replacement / floor);
    }
    DeleteFileW(path.c_str());
    return 0;
}
