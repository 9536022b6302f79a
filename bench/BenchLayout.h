// What the benchmark lays out on disk: folders, packages of generated data streamed to disk
// (a 500 MiB package never sits in memory), installed dictionary files and the host's
// registry values; and a clock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr uint32_t MIB = 1024 * 1024;
#define BENCH_HOST_EXE_NAME L"Lexora.exe"

double Now();  // seconds, monotonic

// Deletes the files (not folders) directly inside dir.
void EmptyDir(const std::wstring& dir);
std::wstring ExePath();
std::wstring DirOf(const std::wstring& path);  // with a trailing backslash

struct BenchEntry {
    std::wstring dictId;
    std::wstring dateText;
    uint32_t size = 0;
};

// A package whose entries' data follow the directory back to back; entry i's bytes are a
// pattern seeded by (seed, i), so EntryMatches can check a copy without keeping the data.
bool WritePackage(const std::wstring& path, const std::vector<BenchEntry>& entries, uint32_t seed);
bool EntryMatches(const std::wstring& path, uint32_t size, uint32_t seed, uint32_t index);

// <hostDir>\Lexora.exe and the empty dictionary data and picture folders.
bool MakeHost(const std::wstring& hostDir);
std::wstring DictDataDir(const std::wstring& hostDir);
// HKLM values that point the wizard at hostDir.
bool RegisterHost(const std::wstring& hostDir);
void UnregisterHost();

}  // namespace bench
