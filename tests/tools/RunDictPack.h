// Runs the real dictpack.exe beside the test program as a child process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace test {

struct RunResult {
    DWORD code = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

// Output is read through pipes while the tool runs; cwd empty keeps the test's own.
RunResult RunDictPack(const std::vector<std::wstring>& args, const std::wstring& cwd = std::wstring());

}  // namespace test
