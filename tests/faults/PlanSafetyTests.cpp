// Packages built to probe the plan's edges, through the real wizard: other names for an
// installed file, the same file named twice, a directory too large for memory, an entry
// without a version stamp, ids a host configuration in the ANSI code page cannot hold. The
// wizard never changes a dictionary it did not plan to change, never claims bytes it did not
// plan, and never crashes.
#include <cstring>
#include <set>

#include "package/PackageFormat.h"
#include "package/PackageWriter.h"
#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

std::wstring InstallFailed(const wchar_t* name) { return Format(WIZ_TEXT_INSTALL_FAILED_FORMAT, name); }
std::wstring Installed1(const wchar_t* name) { return Format(WIZ_TEXT_INSTALL_DONE_FORMAT, name); }

PackageEntry Entry(const std::wstring& id, const std::wstring& date, const std::string& data) {
    return {id, L".dic", date, L"词典" + id, data};
}

// The same entry naming its file in capitals.
PackageEntry InCapitals(PackageEntry entry) {
    entry.dictId = L"DUP";
    entry.fileExt = L".DIC";
    return entry;
}

class PlanSafetyTest : public FaultTest {
protected:
    // The first page's text, then a cancel there.
    std::wstring FirstPageThenCancel() {
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        if (dlg == nullptr) return L"(no dialog)";
        const std::wstring text = FirstPageText(dlg);
        Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
        return text;
    }
    std::vector<std::wstring> Install() {
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        if (dlg == nullptr) return {L"(no dialog)"};
        return InstallToTheEnd(wizard, dlg);
    }
};

// The file system folds the case of every letter, not only A-Z: a package id in another case
// than an installed file's name is that file. Older packages leave the newer files alone,
// newer ones upgrade them under their own names, with their backups, by their dates.
TEST_F(PlanSafetyTest, AnotherCaseOfAnInstalledNameIsThatDictionary) {
    const wchar_t* installedNames[] = {L"Ärzte.dic", L"Σοφία.dic", L"Москва.dic", L"ＡＢＣ.dic"};
    const wchar_t* ids[] = {L"ärzte", L"σοφία", L"москва", L"ａｂｃ"};
    struct Case {
        const char* name;
        WORD installedYear;
        const wchar_t* packageDate;
        bool upgraded;
    } cases[] = {{"installed files newer", 2030, L"2024-05-01", false},
                 {"installed files older", 2001, L"2024-05-01", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::map<std::wstring, std::string> before, after;
        std::vector<PackageEntry> entries;
        for (size_t i = 0; i < 4; ++i) {
            before[installedNames[i]] = test::PatternBytes(30 * KB + i, 100 + static_cast<unsigned>(i));
            machine->AddInstalled(installedNames[i], before[installedNames[i]], c.installedYear);
            entries.push_back(Entry(ids[i], c.packageDate, test::PatternBytes(20 * KB + i, 110 + static_cast<unsigned>(i))));
            after[installedNames[i]] = entries.back().data;
        }
        machine->AddPackage(L"dicts.dir", MakePackage(entries));
        if (!c.upgraded) {
            EXPECT_EQ(FirstPageThenCancel(), WIZ_TEXT_UP_TO_DATE);
            ExpectDataDir(before);
        } else {
            const std::vector<std::wstring> lines = Install();
            ASSERT_EQ(lines.size(), 8u);
            // Each entry's begin line, then its result once it is in place and registered.
            std::set<std::wstring> upgraded;
            for (size_t i = 0; i < 4; ++i) {
                const std::wstring name = lines[2 * i].substr(lines[2 * i].find(L"《") + 1,
                                                              lines[2 * i].find(L"》") - lines[2 * i].find(L"《") - 1);
                EXPECT_EQ(lines[2 * i], UpgradeBegins(name.c_str()));
                EXPECT_EQ(lines[2 * i + 1], Upgraded(name.c_str()));
                upgraded.insert(name);
            }
            for (const wchar_t* id : ids) EXPECT_EQ(upgraded.count(L"词典" + std::wstring(id)), 1u) << test::Utf8(id);
            ExpectDataDir(after);
        }
        for (const wchar_t* name : installedNames) DeleteFileW(Installed(name).c_str());
    }
}

// An id that is the short name of an installed long-named file reaches that file through the
// short name. It is not that dictionary: the entry fails and the file is untouched.
TEST_F(PlanSafetyTest, ShortNameOfAnInstalledFileIsNeverWritten) {
    const std::string longFile = test::PatternBytes(40 * KB, 120);
    machine->AddInstalled(L"OxfordAdvancedLearners.dic", longFile, 2030);
    wchar_t shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(Installed(L"OxfordAdvancedLearners.dic").c_str(), shortPath, MAX_PATH), 0u);
    std::wstring shortName = shortPath;
    shortName = shortName.substr(shortName.find_last_of(L'\\') + 1);
    ASSERT_NE(shortName, L"OxfordAdvancedLearners.dic") << "no short name on this file system";
    std::wstring id = shortName.substr(0, shortName.find_last_of(L'.'));
    for (wchar_t& ch : id) ch = static_cast<wchar_t>(towlower(ch));
    SCOPED_TRACE(test::Utf8(id));
    machine->AddPackage(L"short.dir", MakePackage({Entry(id, L"2024-05-01", test::PatternBytes(10 * KB, 121))}));

    const std::vector<std::wstring> lines = Install();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), InstallFailed((L"词典" + id).c_str()));
    ExpectDataDir({{L"OxfordAdvancedLearners.dic", longFile}});
}

// A file that appears under a new dictionary's name after the plan (while the welcome page
// shows) is not the wizard's: the new file is never renamed over it, and the entry fails.
TEST_F(PlanSafetyTest, FileThatAppearsAfterThePlanIsNeverOverwritten) {
    machine->AddPackage(L"qrs.dir", MakePackage({Qrs(test::PatternBytes(20 * KB, 125))}));
    Wizard wizard(machine->wizardExe);
    HWND dlg = wizard.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    ASSERT_EQ(FirstPageText(dlg), Welcome(L"安装《QRS词典》"));
    const std::string someoneElses = "another program's file";
    test::WriteFileBytes(Installed(L"QRS.DIC"), someoneElses);
    EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{InstallFailed(QRS_NAME)});
    ExpectDataDir({{L"QRS.DIC", someoneElses}});
}

// One action per file: of several entries for one file, in one package or in two, the newest
// (the first of equal dates) is installed and the others take no part. A damaged duplicate
// behind a good entry therefore never deletes it.
TEST_F(PlanSafetyTest, OneFileNamedTwiceIsInstalledOnce) {
    const std::string older = test::PatternBytes(30 * KB, 130), newer = test::PatternBytes(35 * KB, 131);
    struct Case {
        const char* name;
        std::vector<std::vector<PackageEntry>> packages;
        bool cutLastPackage;  // its last entry's data runs past the end of the file
        std::string installed;
    } cases[] = {
        {"in one package, older first", {{Entry(L"dup", L"2023-01-01", older), InCapitals(Entry(L"dup", L"2024-01-01", newer))}},
         false, newer},
        {"in one package, newer first", {{Entry(L"dup", L"2024-01-01", newer), Entry(L"dup", L"2023-01-01", older)}},
         false, newer},
        {"in two packages", {{Entry(L"dup", L"2023-01-01", older)}, {Entry(L"dup", L"2024-01-01", newer)}}, false,
         newer},
        {"good entry, then a damaged one of the same date",
         {{Entry(L"dup", L"2024-01-01", newer), Entry(L"dup", L"2024-01-01", older)}}, true, newer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t i = 0; i < c.packages.size(); ++i) {
            std::string bytes = MakePackage(c.packages[i]);
            if (c.cutLastPackage && i + 1 == c.packages.size()) bytes.resize(bytes.size() - 1000);
            machine->AddPackage(L"p" + std::to_wstring(i) + L".dir", bytes);
        }
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(FirstPageText(dlg), Welcome(L"安装《词典dup》"));
        EXPECT_EQ(InstallToTheEnd(wizard, dlg), std::vector<std::wstring>{Installed1(L"词典dup")});
        ExpectDataDir({{L"dup.dic", c.installed}});
        DeleteFileW(Installed(L"dup.dic").c_str());
        for (size_t i = 0; i < c.packages.size(); ++i)
            DeleteFileW((machine->wizardDir + L"\\p" + std::to_wstring(i) + L".dir").c_str());
    }
}

// A directory of 3,000,000 records that the file really holds (about 0.55 GB, made sparse):
// refused like a damaged package, with the "fail" box, never a crash.
TEST_F(PlanSafetyTest, DirectoryTooLargeForMemoryFailsThePlan) {
    const uint32_t records = 3000000;
    std::vector<PackageEntrySpec> specs(1);
    specs[0] = {L"big", L".dic", L"2024-05-01", L"Big", 4};
    std::string directory = BuildPackageDirectory(specs);
    PackageHeader header;
    std::memcpy(&header, directory.data(), sizeof header);
    header.recordCount = records;
    const uint64_t dataBase = PACKAGE_HEADER_SIZE + uint64_t{records} * PACKAGE_RECORD_SIZE;
    header.dataBase = static_cast<uint32_t>(dataBase);
    std::memcpy(&directory[0], &header, sizeof header);
    // Every record the same valid entry, but for its offset; only the first is written, and
    // the rest of the file is left to the file system as a hole of zeros.
    const std::wstring path = machine->wizardDir + L"\\big.dir";
    ASSERT_TRUE(test::WriteFileBytes(path, directory));
    {
        qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.valid());
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(dataBase + 4);
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
    ExpectPlanFailsChangingNothing({{L"abc.dic", ABC_OLD}});
}

// A file installed from an entry without a version stamp is dated by the entry's date: a
// later package upgrades it, the same or an earlier date leaves it. (Dated by the moment of
// the install, every later package before today would be refused as older.)
TEST_F(PlanSafetyTest, UnstampedEntryIsDatedByItsPackage) {
    machine->AddPackage(L"abc.dir", MakePackage({Entry(L"abc", L"2024-05-01", test::PatternBytes(10 * KB, 140))}));
    ASSERT_EQ(Install(), std::vector<std::wstring>{Installed1(L"词典abc")});
    struct Case {
        const wchar_t* date;
        bool upgrade;
    } cases[] = {{L"2024-05-02", true}, {L"2024-05-01", false}, {L"2024-04-30", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(test::Utf8(c.date));
        machine->AddPackage(L"abc.dir", MakePackage({Entry(L"abc", c.date, test::PatternBytes(10 * KB, 141))}));
        EXPECT_EQ(FirstPageThenCancel(), c.upgrade ? Welcome(L"升级《词典abc》") : std::wstring(WIZ_TEXT_UP_TO_DATE));
    }
}

// An entry under an extension other than the host dictionaries' two is installed all the
// same and found again by its name: the second run says up to date, as dictpack's warning
// about such an entry tells the publisher.
TEST_F(PlanSafetyTest, EntryOfAnotherExtensionIsFoundAgainByItsName) {
    PackageEntry notes = Entry(L"notes", L"2024-05-01", test::PatternBytes(5 * KB, 150));
    notes.fileExt = L".txt";
    machine->AddPackage(L"notes.dir", MakePackage({notes}));
    EXPECT_EQ(Install(), std::vector<std::wstring>{Installed1(L"词典notes")});
    ExpectDataDir({{L"notes.txt", notes.data}});
    EXPECT_EQ(FirstPageThenCancel(), WIZ_TEXT_UP_TO_DATE);
    ExpectDataDir({{L"notes.txt", notes.data}});
}

// A host configuration without a byte order mark is kept in the ANSI code page, where Chinese
// ids would all become the same "??" section. Such entries fail, visibly, and change nothing;
// an id the code page holds installs as usual.
TEST_F(PlanSafetyTest, IdsAnAnsiHostConfigurationCannotHoldFail) {
    const std::string ansiConfig = "[other]\r\nid=other\r\n";
    ASSERT_TRUE(test::WriteFileBytes(machine->hostConfig, ansiConfig));
    const std::string plain = test::PatternBytes(5 * KB, 150);
    machine->AddPackage(L"dicts.dir", MakePackage({Entry(L"词典甲", L"2024-05-01", test::PatternBytes(5 * KB, 151)),
                                                   Entry(L"词典乙", L"2024-05-01", test::PatternBytes(5 * KB, 152)),
                                                   Entry(L"plain", L"2024-05-01", plain)}));
    const std::vector<std::wstring> lines = Install();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], InstallFailed(L"词典词典甲"));
    EXPECT_EQ(lines[3], InstallFailed(L"词典词典乙"));
    EXPECT_EQ(lines[5], Installed1(L"词典plain"));
    ExpectDataDir({{L"plain.dic", plain}});
    EXPECT_EQ(IniValue(machine->hostConfig, L"plain", L"id"), L"plain");
    EXPECT_EQ(test::ReadFileBytes(machine->hostConfig).find("??"), std::string::npos);
}

}  // namespace
}  // namespace faults
