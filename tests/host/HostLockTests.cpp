#include <gtest/gtest.h>

#include "host/HostLock.h"
#include "tests/support/TestSupport.h"

namespace {

// Every spelling of one folder gives one lock; another folder gives another.
TEST(HostLockTest, OneNameForEverySpellingOfTheDataFolder) {
    test::TempDir scratch{L"lock"};
    const std::wstring dir = scratch.path() + L"\\Lexora Dictionary Data Folder";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(dir.c_str(), shortPath, MAX_PATH), 0u);
    std::wstring upper = dir;
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    const std::wstring name = HostLockName(dir);
    for (const std::wstring& spelling :
         {upper, dir + L"\\", std::wstring(shortPath), scratch.path() + L"\\.\\Lexora Dictionary Data Folder",
          scratch.path() + L"\\x\\..\\Lexora Dictionary Data Folder"}) {
        EXPECT_EQ(HostLockName(spelling), name) << test::Utf8(spelling);
    }
    EXPECT_NE(HostLockName(scratch.path() + L"\\another"), name);
    EXPECT_EQ(name.find(L'\\', name.find(L'\\') + 1), std::wstring::npos) << "a backslash beyond the namespace";
}

}  // namespace
