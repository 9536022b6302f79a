#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <thread>

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

// The lock carries exactly the permissions meant (SYSTEM and the Administrators all access,
// an interactive user only waiting and letting go, nothing inherited), and a second wizard
// finds it busy.
TEST(HostLockTest, MadeWithExplicitPermissionsAndBusyForTheNext) {
    const std::wstring name = UniqueLockName();
    qb::ScopedHandle lock;
    DWORD error = ERROR_SUCCESS;
    ASSERT_EQ(AcquireHostLockNamed(name, lock, error), HostLockResult::Acquired) << error;
    EXPECT_EQ(AcquireFromAnotherThread(name), HostLockResult::Busy);

    qb::ScopedHandle readable(OpenMutexW(READ_CONTROL, FALSE, name.c_str()));
    ASSERT_TRUE(readable) << GetLastError();
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(readable.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    qb::ScopedLocalMemory owned(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "permissions inherited";
    ASSERT_NE(dacl, nullptr) << "no DACL: everyone may do anything";
    struct Expected {
        WELL_KNOWN_SID_TYPE sid;
        ACCESS_MASK mask;
    } expected[] = {{WinLocalSystemSid, MUTEX_ALL_ACCESS},
                    {WinBuiltinAdministratorsSid, MUTEX_ALL_ACCESS},
                    {WinInteractiveSid, SYNCHRONIZE | MUTEX_MODIFY_STATE}};
    ASSERT_EQ(dacl->AceCount, 3u);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        SCOPED_TRACE("ACE " + std::to_string(i));
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &raw));
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Mask, expected[i].mask);
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        ASSERT_TRUE(CreateWellKnownSid(expected[i].sid, nullptr, sid, &size));
        EXPECT_TRUE(EqualSid(const_cast<DWORD*>(&ace->SidStart), sid));
    }
}

// A lock this account may not open (another account's, made with its maker's permissions;
// here a denial of everyone, which even the owner of the test cannot pass):
// another wizard holds the host, not "the lock cannot be made".
TEST(HostLockTest, LockOfAnotherAccountIsBusy) {
    const std::wstring name = UniqueLockName();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const wchar_t* theirs = L"D:P(D;;0x001f0001;;;WD)(A;;0x001f0001;;;SY)";
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(theirs, SDDL_REVISION_1, &descriptor, nullptr));
    qb::ScopedLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    qb::ScopedHandle made(CreateMutexW(&attributes, FALSE, name.c_str()));
    ASSERT_TRUE(made);
    qb::ScopedHandle probe(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    if (probe) GTEST_SKIP() << "this system lets every account open the lock (no object permissions enforced)";
    qb::ScopedHandle lock;
    DWORD error = ERROR_SUCCESS;
    EXPECT_EQ(AcquireHostLockNamed(name, lock, error), HostLockResult::Busy) << error;
}

}  // namespace
