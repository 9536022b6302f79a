#include "bench/BenchLayout.h"

#include <algorithm>

#include "base/ScopedWin.h"
#include "host/HostPaths.h"
#include "package/PackageWriter.h"
#include "tests/support/TestSupport.h"

namespace bench {

namespace {

constexpr size_t WRITE_BLOCK = MIB;

// xorshift32: cheap, and different for every entry and offset.
struct Pattern {
    explicit Pattern(uint32_t seed, uint32_t index) : state(seed * 2654435761u + index * 40503u + 1u) {}
    void Fill(unsigned char* out, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            out[i] = static_cast<unsigned char>(state);
        }
    }
    uint32_t state;
};

}  // namespace

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

void EmptyDir(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        DeleteFileW((dir + L"\\" + data.cFileName).c_str());
    } while (FindNextFileW(find.get(), &data));
}

std::wstring ExePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring DirOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/") + 1); }

bool WritePackage(const std::wstring& path, const std::vector<BenchEntry>& entries, uint32_t seed) {
    std::vector<PackageEntrySpec> specs;
    for (const BenchEntry& entry : entries) {
        PackageEntrySpec spec;
        spec.dictId = entry.dictId;
        spec.fileExt = L".dic";
        spec.dateText = entry.dateText;
        spec.displayName = entry.dictId;
        spec.size = entry.size;
        specs.push_back(spec);
    }
    const std::string directory = BuildPackageDirectory(specs);
    qb::ScopedHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), directory.data(), static_cast<DWORD>(directory.size()), &written, nullptr)) return false;
    std::vector<unsigned char> block(WRITE_BLOCK);
    for (uint32_t i = 0; i < entries.size(); ++i) {
        Pattern pattern(seed, i);
        for (uint32_t done = 0; done < entries[i].size;) {
            const uint32_t part = std::min<uint32_t>(entries[i].size - done, WRITE_BLOCK);
            pattern.Fill(block.data(), part);
            if (!WriteFile(file.get(), block.data(), part, &written, nullptr) || written != part) return false;
            done += part;
        }
    }
    return true;
}

bool EntryMatches(const std::wstring& path, uint32_t size, uint32_t seed, uint32_t index) {
    qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER actual;
    if (!GetFileSizeEx(file.get(), &actual) || actual.QuadPart != size) return false;
    Pattern pattern(seed, index);
    std::vector<unsigned char> expected(WRITE_BLOCK), got(WRITE_BLOCK);
    for (uint32_t done = 0; done < size;) {
        const uint32_t part = std::min<uint32_t>(size - done, WRITE_BLOCK);
        pattern.Fill(expected.data(), part);
        DWORD read = 0;
        if (!ReadFile(file.get(), got.data(), part, &read, nullptr) || read != part) return false;
        if (!std::equal(expected.begin(), expected.begin() + part, got.begin())) return false;
        done += part;
    }
    return true;
}

std::wstring DictDataDir(const std::wstring& hostDir) { return hostDir + HOST_DICT_DATA_PIECE; }

bool MakeHost(const std::wstring& hostDir) {
    return test::MakeDirs(DictDataDir(hostDir)) && test::MakeDirs(hostDir + L"\\plugin\\image") &&
           test::WriteFileBytes(hostDir + L"\\" BENCH_HOST_EXE_NAME, "");
}

bool RegisterHost(const std::wstring& hostDir) {
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr) !=
        ERROR_SUCCESS)
        return false;
    qb::ScopedRegKey key(raw);
    auto set = [&](const wchar_t* name, const std::wstring& value) {
        return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    return set(HOST_VALUE_LOCATION, hostDir) && set(HOST_VALUE_EXECUTABLE, BENCH_HOST_EXE_NAME);
}

void UnregisterHost() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, HOST_REGISTRY_KEY); }

}  // namespace bench
