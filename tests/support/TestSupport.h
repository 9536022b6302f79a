// Small helpers shared by the tests: scratch folders, whole-file reads and writes, and the
// host's registry values in the test's own Wine prefix.
#pragma once

#include <windows.h>

#include <string>

namespace test {

// A fresh folder under the temp directory, removed with everything in it on destruction.
class TempDir {
public:
    explicit TempDir(const wchar_t* tag = L"qb");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);  // empty when missing
bool FileExists(const std::wstring& path);
bool MakeDirs(const std::wstring& path);  // every missing folder on the way
void RemoveTree(const std::wstring& path);
// Ends every process of that executable name (a stand-in a test or the wizard started), and
// waits until each is gone: a host or service left running would answer the next test.
void EndProcessesNamed(const wchar_t* exeName);
// The test program's own folder, with a trailing backslash.
std::wstring ExeDir();
std::string Utf8(const std::wstring& text);
// n bytes of a pattern that differs per seed, so swapped or shifted data shows.
std::string PatternBytes(size_t n, unsigned seed);

// HKLM "SOFTWARE\Norvale\Dictionary 2.0" with the given values (a null pointer leaves a
// value out); the key is deleted again on destruction.
class HostRegistry {
public:
    HostRegistry(const wchar_t* location, const wchar_t* executableName);
    ~HostRegistry();
    HostRegistry(const HostRegistry&) = delete;
    HostRegistry& operator=(const HostRegistry&) = delete;
    static void Delete();
};

}  // namespace test
