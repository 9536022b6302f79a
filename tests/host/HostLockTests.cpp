#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <iostream>
#include <thread>
#include <vector>

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

std::wstring UniqueLockName() {
    return L"Quillbox.Test.Lock." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(GetTickCount());
}

// Another thread's try: a thread that owns the mutex would take it again.
HostLockResult AcquireFromAnotherThread(const std::wstring& name) {
    HostLockResult result = HostLockResult::Failed;
    std::thread other([&] {
        qb::ScopedHandle lock;
        DWORD error = ERROR_SUCCESS;
        result = AcquireHostLockNamed(name, lock, error);
    });
    other.join();
    return result;
}

// Only administrators may do anything with the lock: no right for Everyone, Users, interactive
// or authenticated users, read back through the lock's own handle (a mutex in the private
// namespace, or the lock file where the system has none); a second wizard finds it busy, and
// once let go the next one takes it.
TEST(HostLockTest, NoRightForStandardUsersAndBusyForTheNext) {
    const std::wstring name = UniqueLockName();
    {
        qb::ScopedHandle lock;
        DWORD error = ERROR_SUCCESS;
        ASSERT_EQ(AcquireHostLockNamed(name, lock, error), HostLockResult::Acquired) << error;
        EXPECT_EQ(AcquireFromAnotherThread(name), HostLockResult::Busy);

        const bool inNamespace = HostLocksInPrivateNamespace();
        std::cout << "[ figure ] host lock kind: " << (inNamespace ? "private namespace mutex" : "lock file") << "\n";
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(GetSecurityInfo(lock.get(), inNamespace ? SE_KERNEL_OBJECT : SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        qb::ScopedLocalMemory owned(descriptor);
        ASSERT_NE(dacl, nullptr) << "no DACL: everyone may do anything";
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* raw = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, &raw));
            const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
            if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
            PSID sid = const_cast<DWORD*>(&ace->SidStart);
            for (WELL_KNOWN_SID_TYPE standard :
                 {WinWorldSid, WinBuiltinUsersSid, WinInteractiveSid, WinAuthenticatedUserSid})
                EXPECT_FALSE(IsWellKnownSid(sid, standard)) << "ACE " << i << " gives a standard user rights";
        }
    }
    EXPECT_EQ(AcquireFromAnotherThread(name), HostLockResult::Acquired) << "the lock outlived its holder";
}

// A standard user who makes the lock's old global name first, with every right for
// interactive users, and holds it, no longer keeps every wizard waiting.
TEST(HostLockTest, NameMadeFirstByAnotherAccountDoesNotHoldTheHost) {
    const std::wstring name = UniqueLockName();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const wchar_t* theirs = L"D:P(A;;0x001f0001;;;WD)(A;;0x001f0001;;;IU)";
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(theirs, SDDL_REVISION_1, &descriptor, nullptr));
    qb::ScopedLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    std::vector<qb::ScopedHandle> squatted;
    for (const std::wstring& spelling : {L"Global\\" + name, name, std::wstring(L"Local\\") + name}) {
        squatted.emplace_back(CreateMutexW(&attributes, TRUE, spelling.c_str()));
        ASSERT_TRUE(squatted.back()) << GetLastError();
    }
    EXPECT_EQ(AcquireFromAnotherThread(name), HostLockResult::Acquired);
}

}  // namespace
