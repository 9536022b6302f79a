// The wizard's folders under %ProgramData%: what anyone else put at one of their names is moved
// aside whole (a link and what it leads to untouched) and the folder is made anew.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <iostream>
#include <vector>

#include "base/ProtectedFolder.h"
#include "base/ScopedWin.h"
#include "base/WaitLog.h"
#include "tests/faults/UnixMount.h"
#include "tests/support/TestSupport.h"

namespace {

std::vector<std::wstring> g_notes;
void Collect(const std::wstring& line) { g_notes.push_back(line); }

std::vector<BYTE> Sid(const wchar_t* text) {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid)) return {};
    qb::ScopedLocalMemory owned(sid);
    return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + GetLengthSid(sid));
}

// Whose folder may be adopted: the system's accounts, and whoever owns %ProgramData% (a system
// that keeps no owners reports one owner for every folder); never a user or a group of users.
TEST(ProtectedFolderTest, TrustedOwners) {
    const wchar_t* const user = L"S-1-5-21-1-2-3-1001";
    struct Case {
        const wchar_t* owner;
        const wchar_t* programDataOwner;
        bool trusted;
    } cases[] = {
        {L"SY", L"SY", true},
        {L"BA", L"SY", true},
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", L"SY", true},  // TrustedInstaller
        {user, L"SY", false},
        {L"WD", L"SY", false},
        {L"BU", L"SY", false},
        {L"IU", L"SY", false},
        {L"AU", L"SY", false},
        {user, user, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.owner));
        std::vector<BYTE> owner = Sid(c.owner), programData = Sid(c.programDataOwner);
        ASSERT_FALSE(owner.empty());
        EXPECT_EQ(IsTrustedFolderOwner(owner.data(), programData.data()), c.trusted);
    }
    EXPECT_FALSE(IsTrustedFolderOwner(nullptr, nullptr));
}

class ProtectedFolderPlantTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ProgramDataDir(base));
        root = base + PROTECTED_ROOT_PIECE;
        folder = root + L"\\Test-" + std::to_wstring(GetCurrentProcessId());
        g_notes.clear();
        qb::SetWaitSink(Collect);
    }
    void TearDown() override {
        qb::SetWaitSink(nullptr);
        test::RemoveTree(folder);
        WIN32_FIND_DATAW data;
        qb::ScopedFindHandle find(FindFirstFileW((base + L"\\" PLANTED_ASIDE_PREFIX L"*").c_str(), &data));
        if (!find) return;
        do {
            const std::wstring aside = base + L"\\" + data.cFileName;
            if (!RemoveDirectoryW(aside.c_str()) && !DeleteFileW(aside.c_str())) test::RemoveTree(aside);
        } while (FindNextFileW(find.get(), &data));
    }

    // The folder is made, really there (its handle reaches exactly it), and owned as trusted.
    void ExpectOurs() const {
        qb::ScopedHandle made(CreateFileW(folder.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(made);
        EXPECT_EQ(FinalPathOf(made.get()), folder);
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(GetSecurityInfo(made.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                  nullptr, &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        qb::ScopedLocalMemory owned(descriptor);
        qb::ScopedHandle programData(CreateFileW(base.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        PSID theirs = nullptr;
        PSECURITY_DESCRIPTOR theirDescriptor = nullptr;
        ASSERT_EQ(GetSecurityInfo(programData.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &theirs, nullptr,
                                  nullptr, nullptr, &theirDescriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        qb::ScopedLocalMemory theirOwned(theirDescriptor);
        EXPECT_TRUE(IsTrustedFolderOwner(owner, theirs));
    }

    std::wstring base, root, folder;
    test::TempDir scratch{L"planted"};
};

// A link at the folder's name (a Unix symbolic link under Wine) is never followed: moved aside
// where the system moves a link as itself, else left as it is and the folder refused; either
// way nothing behind it is touched. A file at the name is moved aside and the folder made anew;
// a folder of ours keeps what it holds. Each move is logged.
TEST_F(ProtectedFolderPlantTest, PlantedLinkOrFileIsNeverFollowed) {
    const std::wstring victim = scratch.path() + L"\\victim";
    ASSERT_TRUE(test::MakeDirs(victim));
    ASSERT_TRUE(test::WriteFileBytes(victim + L"\\precious.txt", "precious"));
    ASSERT_TRUE(test::MakeDirs(root));
    ASSERT_EQ(faults::RunShell("ln -s '" + faults::UnixPath(victim) + "' '" + faults::UnixPath(root) + "/" +
                                   test::Utf8(folder.substr(root.size() + 1)) + "'",
                               scratch.path() + L"\\sh"),
              0);
    ASSERT_TRUE(test::FileExists(folder + L"\\precious.txt")) << "the link leads to the victim";

    DWORD error = ERROR_SUCCESS;
    const bool movable = NameIsItself(folder);
    std::cout << "[ figure ] a planted link is " << (movable ? "moved aside" : "refused, left as it is") << "\n";
    EXPECT_EQ(MakeProtectedFolder(folder + L"\\inner\\", error), movable) << error;
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_NE(g_notes[0].find(folder + L" (a link or junction)"), std::wstring::npos) << test::Utf8(g_notes[0]);
    EXPECT_EQ(test::ReadFileBytes(victim + L"\\precious.txt"), "precious");
    EXPECT_FALSE(test::FileExists(victim + L"\\inner"));
    if (movable) {
        ExpectOurs();
    } else {
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_REPARSE_POINT_ENCOUNTERED));
        ASSERT_EQ(faults::RunShell("rm '" + faults::UnixPath(root) + "/" + test::Utf8(folder.substr(root.size() + 1)) + "'",
                                   scratch.path() + L"\\sh"),
                  0);
    }

    // A file at the name.
    ASSERT_TRUE(test::WriteFileBytes(folder, "a file where a folder belongs"));
    g_notes.clear();
    ASSERT_TRUE(MakeProtectedFolder(folder + L"\\inner", error)) << error;
    ExpectOurs();
    ASSERT_EQ(g_notes.size(), 1u);
    EXPECT_NE(g_notes[0].find(L"moved aside: " + folder + L" (a file, not a folder) to " + base + L"\\" PLANTED_ASIDE_PREFIX),
              std::wstring::npos)
        << test::Utf8(g_notes[0]);

    // A folder of ours keeps what it holds.
    ASSERT_TRUE(test::WriteFileBytes(folder + L"\\inner\\ours.txt", "ours"));
    ASSERT_TRUE(MakeProtectedFolder(folder + L"\\inner", error)) << error;
    EXPECT_EQ(test::ReadFileBytes(folder + L"\\inner\\ours.txt"), "ours");
    EXPECT_EQ(g_notes.size(), 1u);
}

// Which names are themselves: plain files and folders; not a link to either (under Wine, where
// a move or delete of the link would act on what it leads to), and not a missing name.
TEST_F(ProtectedFolderPlantTest, NameIsItselfOnlyForWhatIsNoLink) {
    const std::wstring dir = scratch.path();
    ASSERT_TRUE(test::WriteFileBytes(dir + L"\\file", "x"));
    ASSERT_TRUE(test::MakeDirs(dir + L"\\folder"));
    const std::string unixDir = faults::UnixPath(dir);
    ASSERT_EQ(faults::RunShell("ln -s '" + unixDir + "/file' '" + unixDir + "/file-link' && ln -s '" + unixDir +
                                   "/folder' '" + unixDir + "/folder-link'",
                               dir + L"\\sh"),
              0);
    struct Case {
        const wchar_t* name;
        bool itself;
    } cases[] = {{L"file", true}, {L"folder", true}, {L"missing", false}};
    for (const Case& c : cases) EXPECT_EQ(NameIsItself(dir + L"\\" + c.name), c.itself) << test::Utf8(c.name);
    // A link is itself only where the system opens it as itself (and then moves it as itself).
    for (const wchar_t* link : {L"file-link", L"folder-link"}) {
        const std::wstring path = dir + L"\\" + link;
        qb::ScopedHandle opened(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        ASSERT_TRUE(opened);
        const bool opensAsItself = FinalPathOf(opened.get()).find(link) != std::wstring::npos;
        EXPECT_EQ(NameIsItself(path), opensAsItself) << test::Utf8(link);
    }
    // The scratch folder's clean-up would follow the links.
    EXPECT_EQ(faults::RunShell("rm '" + unixDir + "/file-link' '" + unixDir + "/folder-link'", dir + L"\\sh"), 0);
}

// Only folders below %ProgramData%\Quillbox are made, and no way out of it.
TEST_F(ProtectedFolderPlantTest, RefusesFoldersOutsideItsRoot) {
    for (const std::wstring& outside : {base + L"\\Other", root + L"Sibling", root + L"\\..\\Other", scratch.path()}) {
        SCOPED_TRACE(test::Utf8(outside));
        DWORD error = ERROR_SUCCESS;
        EXPECT_FALSE(MakeProtectedFolder(outside, error));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_BAD_PATHNAME));
    }
    EXPECT_FALSE(test::FileExists(base + L"\\Other"));
}

// Empty folders go up to the root; one that holds anything stays, with everything above it.
TEST_F(ProtectedFolderPlantTest, EmptyFoldersGo) {
    DWORD error = ERROR_SUCCESS;
    ASSERT_TRUE(MakeProtectedFolder(folder + L"\\a\\b", error)) << error;
    ASSERT_TRUE(MakeProtectedFolder(folder + L"\\kept", error)) << error;
    ASSERT_TRUE(test::WriteFileBytes(folder + L"\\kept\\file", "x"));
    RemoveEmptyProtectedFolders(folder + L"\\a\\b");
    EXPECT_FALSE(test::FileExists(folder + L"\\a"));
    EXPECT_TRUE(test::FileExists(folder + L"\\kept\\file"));
    EXPECT_TRUE(test::FileExists(root));
}

}  // namespace
