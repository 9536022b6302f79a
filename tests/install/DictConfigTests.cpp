#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include "base/ScopedWin.h"
#include "host/ProcessControl.h"
#include "install/DictConfig.h"
#include "install/InstallEngine.h"
#include "install/Recovery.h"
#include "install/WorkFiles.h"
#include "tests/install/InstallFixture.h"

namespace {

using test::ReadFileBytes;

EntryItem Entry(const std::wstring& dictId, EntryAction action = ACTION_INSTALL) {
    EntryItem entry;
    entry.dictId = dictId;
    entry.action = action;
    return entry;
}

std::string Digits(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += static_cast<char>('0' + i % 10);
    return out;
}

class DictConfigTest : public test::InstallFixture {};

TEST_F(DictConfigTest, RegisterCopiesKeysInOrder) {
    WriteWizardConfig("[ABC]\r\nfunc_all=f\r\ndesc_copyright=c\r\ndesc_intro=" + Digits(300) +
                      "\r\nto=zh\r\nfrom=en\r\ncatalog=\r\ndesc_name=Name\r\nid_net=net1\r\n");
    ASSERT_TRUE(test::WriteFileBytes(host.configPath, "[abc]\r\ncatalog=kept\r\n"));

    EXPECT_TRUE(manager.RegisterDictionary(Entry(L"abc")));

    EXPECT_EQ(HostValue(L"abc", L"id"), L"abc");
    EXPECT_EQ(HostValue(L"abc", L"catalog"), L"kept") << "an empty value overwrote the host's";
    EXPECT_EQ(HostValue(L"abc", L"desc_intro").size(), CFG_VALUE_UNITS - 1);
    EXPECT_EQ(test::Utf8(HostValue(L"abc", L"desc_intro")), Digits(CFG_VALUE_UNITS - 1));
    const std::string text = ReadFileBytes(host.configPath);
    size_t last = 0;
    for (const char* key : {"id=", "id_net=", "desc_name=", "from=", "to=", "desc_intro=", "desc_copyright=",
                            "func_all="}) {
        const size_t at = text.find(std::string("\n") + key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key << " out of order in:\n" << text;
        last = at;
    }
}

TEST_F(DictConfigTest, RegisterWithoutWizardSectionWritesOnlyId) {
    WriteWizardConfig("[other]\r\ndesc_name=Other\r\n");
    EXPECT_TRUE(manager.RegisterDictionary(Entry(L"abc")));
    EXPECT_EQ(HostValue(L"abc", L"id"), L"abc");
    EXPECT_EQ(HostValue(L"abc", L"desc_name"), L"");
}

TEST_F(DictConfigTest, RegisterWithoutWizardConfigKeepsTheId) {
    EXPECT_FALSE(manager.RegisterDictionary(Entry(L"abc")));
    EXPECT_EQ(HostValue(L"abc", L"id"), L"abc");
}

TEST_F(DictConfigTest, RegisterNeverCreatesTheHostFile) {
    WriteWizardConfig("[abc]\r\ndesc_name=Name\r\n");
    ASSERT_TRUE(DeleteFileW(host.configPath.c_str()));
    EXPECT_FALSE(manager.RegisterDictionary(Entry(L"abc")));
    EXPECT_FALSE(test::FileExists(host.configPath));
}

TEST_F(DictConfigTest, RegisterRefusesEmptyId) {
    const std::string before = ReadFileBytes(host.configPath);
    EXPECT_FALSE(manager.RegisterDictionary(Entry(L"")));
    EXPECT_EQ(ReadFileBytes(host.configPath), before);
}

TEST_F(DictConfigTest, RegisterLeavesAttributesAlone) {
    ASSERT_TRUE(SetFileAttributesW(host.configPath.c_str(), FILE_ATTRIBUTE_READONLY));
    manager.RegisterDictionary(Entry(L"abc"));
    EXPECT_NE(GetFileAttributesW(host.configPath.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

// Whatever its action (skipped, installed, upgraded, failed), a planned dictionary is enabled
// where the host can see it: in a section that names it with its id. No section is ever made,
// and a section without its id (a registration that failed) stays without "enable".
TEST_F(DictConfigTest, EnableMarksEveryRegisteredDictionaryAndStartsHost) {
    AddPackage(L"a.dir", {{L"skipped", "s", ACTION_SKIP}, {L"installed", "i", ACTION_INSTALL}});
    AddPackageWithoutEntries(L"empty.dir");
    AddPackage(L"b.dir", {{L"upgraded", "u", ACTION_UPGRADE},
                          {L"failed", "f", ACTION_INSTALL},
                          {L"noid", "n", ACTION_INSTALL},
                          {L"otherid", "o", ACTION_INSTALL},
                          {L"", "e", ACTION_INSTALL}});
    ASSERT_TRUE(test::WriteFileBytes(host.configPath,
                                     "[other]\r\nid=other\r\n[Skipped]\r\nid = skipped\r\n[installed]\r\nid=installed\r\n"
                                     "[upgraded]\r\nID=Upgraded\r\n[noid]\r\ndesc_name=n\r\n[otherid]\r\nid=other\r\n"));
    auto service = test::StartService();

    EXPECT_TRUE(manager.EnableDictionaries());

    EXPECT_FALSE(service->running());
    for (const wchar_t* id : {L"skipped", L"installed", L"upgraded"}) {
        EXPECT_EQ(HostValue(id, L"enable"), L"1") << test::Utf8(id);
    }
    for (const wchar_t* id : {L"failed", L"noid", L"otherid", L"", L"other"}) {
        EXPECT_EQ(HostValue(id, L"enable"), L"") << test::Utf8(id);
    }
    const std::string text = ReadFileBytes(host.configPath);
    EXPECT_EQ(text.find("[failed]"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("[other]", 0), 0u) << "keys ahead of the first section:\n" << text;
    EXPECT_TRUE(test::WaitUntilRunning(TEST_HOST_EXECUTABLE));
}

// A read-only host file is the host's to keep so, in the registration and at the finish alike:
// nothing is written, the bit stays, and the host is not started.
TEST_F(DictConfigTest, ReadOnlyHostFileFailsRegistrationAndEnabling) {
    AddPackage(L"a.dir", {{L"abc", "a", ACTION_INSTALL}});
    ASSERT_TRUE(test::WriteFileBytes(host.configPath, "[abc]\r\nid=abc\r\n"));
    ASSERT_TRUE(SetFileAttributesW(host.configPath.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string before = ReadFileBytes(host.configPath);

    DWORD error = ERROR_SUCCESS;
    EXPECT_FALSE(manager.RegisterDictionary(Entry(L"abc"), error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(manager.EnableDictionaries());

    EXPECT_NE(GetFileAttributesW(host.configPath.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    SetFileAttributesW(host.configPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFileBytes(host.configPath), before);
    DWORD id = 0;
    EXPECT_FALSE(FindProcessByName(TEST_HOST_EXECUTABLE, id));
}

// A registration that cannot reach the host's file is a failure with its reason, never
// "registered": no host file, no id.
TEST_F(DictConfigTest, RegistrationThatReachesNothingFails) {
    WriteWizardConfig("[abc]\r\ndesc_name=Name\r\n");
    const struct {
        const char* name;
        const wchar_t* id;
        bool deleteHostFile;
        DWORD error;
    } cases[] = {
        {"no host file", L"abc", true, ERROR_FILE_NOT_FOUND},
        {"no id", L"", false, ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::WriteFileBytes(host.configPath, "[other]\r\nid=other\r\n"));
        if (c.deleteHostFile) {
            ASSERT_TRUE(DeleteFileW(host.configPath.c_str()));
        }
        DWORD error = ERROR_SUCCESS;
        EXPECT_FALSE(manager.RegisterDictionary(Entry(c.id), error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(test::FileExists(host.configPath), !c.deleteHostFile);
    }
}

// A file's bytes in UTF-16LE behind its byte order mark.
std::string Utf16File(const std::wstring& text) {
    const std::wstring marked = L"\xFEFF" + text;
    return std::string(reinterpret_cast<const char*>(marked.data()), marked.size() * sizeof(wchar_t));
}

// The host's file decides why a registration fails, and the file stays as it was: kept in the
// ANSI code page, it cannot hold a dictionary's Chinese texts (refused before anything is
// written, not left to come back as '?'); held by another program, it is not taken for an
// ANSI file because its first bytes cannot be read.
TEST_F(DictConfigTest, RegistrationFailsWithTheHostFilesReason) {
    const std::wstring chinese = L"\u8BCD\u5178";
    WriteWizardConfig(Utf16File(L"[abc]\r\ndesc_name=ABC\r\n[xyz]\r\ndesc_name=" + chinese + L"\r\n"));
    const std::string ansi = "[other]\r\nid=other\r\n";
    const std::string utf16 = Utf16File(L"[other]\r\nid=other\r\n");
    const struct {
        const char* name;
        const std::string& hostFile;
        const wchar_t* id;
        bool held;
        DWORD error;
    } cases[] = {
        {"ANSI, texts it holds", ansi, L"abc", false, ERROR_SUCCESS},
        {"ANSI, texts it cannot hold", ansi, L"xyz", false, ERROR_NO_UNICODE_TRANSLATION},
        {"UTF-16, any texts", utf16, L"xyz", false, ERROR_SUCCESS},
        {"held without sharing", utf16, L"xyz", true, ERROR_SHARING_VIOLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error == ERROR_NO_UNICODE_TRANSLATION && TextFitsCodePage(chinese, GetACP())) continue;
        ASSERT_TRUE(test::WriteFileBytes(host.configPath, c.hostFile));
        const EntryItem entry = Entry(c.id);
        std::vector<DWORD> errors;
        {
            qb::ScopedHandle holder;
            if (c.held)
                holder.reset(CreateFileW(host.configPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            manager.RegisterDictionaries({&entry}, errors);
        }
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], c.error);
        if (c.error != ERROR_SUCCESS) {
            EXPECT_EQ(ReadFileBytes(host.configPath), c.hostFile);
        } else {
            EXPECT_EQ(HostValue(c.id, L"id"), c.id);
        }
    }
}

TEST_F(DictConfigTest, EnableGivesUpWhileTheServiceRuns) {
    AddPackage(L"a.dir", {{L"abc", "a", ACTION_INSTALL}});
    host.MakeRepairToolRefuse();
    auto first = test::StartService();
    auto second = test::StartService();  // only one of the two is terminated
    const std::string before = ReadFileBytes(host.configPath);

    EXPECT_FALSE(manager.EnableDictionaries());

    EXPECT_EQ(ReadFileBytes(host.configPath), before);
    DWORD id = 0;
    EXPECT_FALSE(FindProcessByName(TEST_HOST_EXECUTABLE, id));
}

TEST_F(DictConfigTest, EnableWithoutHostFileCreatesNoneButStartsHost) {
    AddPackage(L"a.dir", {{L"abc", "a", ACTION_INSTALL}});
    ASSERT_TRUE(DeleteFileW(host.configPath.c_str()));

    EXPECT_TRUE(manager.EnableDictionaries());

    EXPECT_FALSE(test::FileExists(host.configPath));
    EXPECT_TRUE(test::WaitUntilRunning(TEST_HOST_EXECUTABLE));
}

// Whether an id survives the host's ANSI file, for any code page the system may use, UTF-8
// included (it refuses the flags the other code pages take).
TEST(TextFitsCodePageTest, EveryCodePage) {
    const struct {
        const wchar_t* text;
        bool in936, in1252, in65001;
    } cases[] = {
        {L"abc", true, true, true},
        {L"", true, true, true},
        {L"\x8BCD\x5178", true, false, true},  // 词典
        {L"caf\x00E9", true, true, true},        // café: GBK has the pinyin é
        {L"\x0628", false, false, true},         // an Arabic letter
        {L"\xD800", false, false, false},        // a lone surrogate is no text at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test::Utf8(c.text));
        EXPECT_EQ(TextFitsCodePage(c.text, 936), c.in936);
        EXPECT_EQ(TextFitsCodePage(c.text, 1252), c.in1252);
        EXPECT_EQ(TextFitsCodePage(c.text, CP_UTF8), c.in65001);
    }
}

// The host holding its file with each sharing mode: without delete sharing the file cannot
// be replaced, and after a short while of trying the change fails with the file exactly as
// it was and no copy left; with delete sharing it is replaced as before.
TEST_F(DictConfigTest, HeldHostFileIsReplacedOnlyWhereTheHolderAllows) {
    const struct {
        const char* name;
        DWORD share;
        bool replaced;
    } holders[] = {{"none", 0, false},
                   {"read", FILE_SHARE_READ, false},
                   {"read+write", FILE_SHARE_READ | FILE_SHARE_WRITE, false},
                   {"read+write+delete", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true}};
    for (const auto& h : holders) {
        SCOPED_TRACE(h.name);
        const std::string before = ReadFileBytes(host.configPath);
        DWORD error = ERROR_SUCCESS;
        bool replaced = false;
        {
            qb::ScopedHandle holder(CreateFileW(host.configPath.c_str(), GENERIC_READ, h.share, nullptr, OPEN_EXISTING,
                                                0, nullptr));
            ASSERT_TRUE(holder.valid());
            replaced = ReplaceHostConfigVerified(host.configPath, {{L"abc", L"id", L"abc"}}, error);
        }
        EXPECT_EQ(replaced, h.replaced);
        EXPECT_FALSE(test::FileExists(NewFilePathOf(host.configPath)));
        if (h.replaced) {
            EXPECT_EQ(HostValue(L"abc", L"id"), L"abc");
            EXPECT_EQ(HostValue(L"other", L"id"), L"other");
            ASSERT_TRUE(WritePrivateProfileStringW(L"abc", nullptr, nullptr, host.configPath.c_str()));
        } else {
            EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
            EXPECT_EQ(ReadFileBytes(host.configPath), before);
        }
    }
}

// A section removed through the same proven replacement; every other section stays.
TEST_F(DictConfigTest, SectionRemovedThroughTheProvenCopy) {
    DWORD error = ERROR_SUCCESS;
    ASSERT_TRUE(ReplaceHostConfigVerified(host.configPath, {{L"abc", L"id", L"abc"}, {L"abc", L"from", L"en"}}, error));
    ASSERT_EQ(HostValue(L"abc", L"from"), L"en");
    CConfigEdit removal;
    removal.m_strSection = L"abc";
    removal.m_bRemoveSection = true;
    EXPECT_TRUE(ReplaceHostConfigVerified(host.configPath, {removal}, error)) << error;
    EXPECT_EQ(HostValue(L"abc", L"id"), L"");
    EXPECT_EQ(HostValue(L"other", L"id"), L"other");
}

// A file as people and other programs leave it: keys ahead of the first section, comments,
// blank lines, spaces around names and values, a line without a value, a quoted value, a
// repeated section. The rewrite through the profile functions keeps all of it, so the proof
// must accept it, in an ANSI file and in a UTF-16 one.
TEST_F(DictConfigTest, ProofAcceptsWhateverTheRewriteKeeps) {
    const std::string odd =
        "top=1\r\n\r\n; a comment\r\n[ spaced ]\r\n  key  =  value  \r\nbare line\r\n\r\n[abc]\r\n"
        "id=abc\r\nquoted=\"q\"\r\n[Spaced]\r\nagain=2\r\n";
    for (const bool unicode : {false, true}) {
        SCOPED_TRACE(unicode ? "UTF-16" : "ANSI");
        std::string bytes = odd;
        if (unicode) {
            bytes = "\xFF\xFE";
            for (const char c : odd) bytes += std::string{c, '\0'};
        }
        ASSERT_TRUE(test::WriteFileBytes(host.configPath, bytes));
        DWORD error = ERROR_SUCCESS;
        EXPECT_TRUE(ReplaceHostConfigVerified(host.configPath, {{L"abc", L"desc_name", L"Name"}, {L"new", L"id", L"new"}},
                                              error))
            << error;
        EXPECT_EQ(HostValue(L"abc", L"desc_name"), L"Name");
        EXPECT_EQ(HostValue(L"spaced", L"key"), L"value");
        EXPECT_EQ(HostValue(L"", L"top"), L"1");
    }
}

std::wstring DaclText(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return std::wstring();
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                         nullptr);
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    LocalFree(descriptor);
    return result;
}

// Explicit permissions the host's set-up gave its file stay with it after a registration.
TEST_F(DictConfigTest, ReplacementKeepsTheFilesPermissions) {
    PSID everyone = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = GENERIC_READ | GENERIC_WRITE | DELETE;
    access.grfAccessMode = SET_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, &access, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
    std::wstring path = host.configPath;
    const DWORD set = SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, acl, nullptr);
    LocalFree(acl);
    FreeSid(everyone);
    ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
    const std::wstring before = DaclText(path);
    ASSERT_NE(before.find(L";;;WD)"), std::wstring::npos) << test::Utf8(before);

    manager.RegisterDictionary(Entry(L"abc"));

    EXPECT_EQ(HostValue(L"abc", L"id"), L"abc");
    EXPECT_EQ(DaclText(path), before);
}

// Keys that cannot be written at the finish are reported as a service that would not stop
// is: false, and the host is not started.
TEST_F(DictConfigTest, EnableThatCannotWriteDoesNotStartTheHost) {
    AddPackage(L"a.dir", {{L"abc", "a", ACTION_INSTALL}});
    ASSERT_TRUE(test::WriteFileBytes(host.configPath, "[abc]\r\nid=abc\r\n"));  // a section to enable
    const std::string before = ReadFileBytes(host.configPath);
    qb::ScopedHandle held(
        CreateFileW(host.configPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());

    EXPECT_FALSE(manager.EnableDictionaries());

    held.reset();
    EXPECT_EQ(ReadFileBytes(host.configPath), before);
    DWORD id = 0;
    EXPECT_FALSE(FindProcessByName(TEST_HOST_EXECUTABLE, id));
}

// A copy of the host's file left at the start: beside the file either copy goes. Alone, a
// proven copy was cut off inside a swap and is the configuration; one never proven may be cut
// short, and is left where it is rather than put at the name.
TEST_F(DictConfigTest, StartSettlesALeftoverCopyOfTheHostFile) {
    const std::string before = "[other]\r\nid=other\r\n", copied = "[other]\r\nid=other\r\n[abc]\r\nid=abc\r\n";
    const struct {
        const char* name;
        bool proven, fileThere;
        std::string config;  // what answers to the name afterwards ("" for nothing)
        bool copyStays;
    } cases[] = {
        {"proven, beside the file", true, true, before, false},
        {"proven, alone", true, false, copied, false},
        {"never proven, beside the file", false, true, before, false},
        {"never proven, alone", false, false, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring copy = c.proven ? NewFilePathOf(host.configPath) : CopyFilePathOf(host.configPath);
        ASSERT_TRUE(test::WriteFileBytes(host.configPath, before));
        ASSERT_TRUE(test::WriteFileBytes(copy, copied));
        if (!c.fileThere) {
            ASSERT_TRUE(DeleteFileW(host.configPath.c_str()));
        }

        RecoverHostConfig(host.configPath);

        EXPECT_EQ(test::FileExists(copy), c.copyStays);
        EXPECT_EQ(test::FileExists(host.configPath), !c.config.empty());
        EXPECT_EQ(ReadFileBytes(host.configPath), c.config);
        DeleteFileW(copy.c_str());
    }
}

}  // namespace
