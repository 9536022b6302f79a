// Sealed packages through the real wizard: an entry whose bytes are not the sealed ones never
// reaches its dictionary's name, the previous dictionary stays, the other entries install; a
// damaged seal, header or directory makes the package count as damaged; packages without a
// seal, or with the old seal of the entries only, install as before.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "package/PackageFormat.h"
#include "package/PackageSeal.h"
#include "tests/faults/FaultSupport.h"

namespace faults {
namespace {

std::vector<EntryDigest> DigestsOf(const std::vector<PackageEntry>& entries) {
    std::vector<EntryDigest> digests;
    for (const PackageEntry& entry : entries) digests.push_back(Sha256Of(entry.data));
    return digests;
}

std::string Sealed(const std::vector<PackageEntry>& entries) {
    const std::string package = MakePackage(entries);
    return package + BuildPackageSeal(package, DigestsOf(entries));
}

class SealTest : public FaultTest {};

// abc (an upgrade of 300 KB and a bit, so its bytes reach the hash in two blocks) and xyz (a
// new dictionary) in one package, abc's bytes damaged in its first, a middle or its last
// chunk after the package was sealed.
TEST_F(SealTest, DamagedEntryNeverReachesItsDictionary) {
    const std::string abcNew = test::PatternBytes(300 * KB + 100, 161), xyzNew = test::PatternBytes(3000, 162);
    const std::string sealed = Sealed({Abc(abcNew), Xyz(xyzNew)});
    const size_t abcStart = sealed.size() - PackageSealSize(2) - xyzNew.size() - abcNew.size();
    struct Case {
        const char* name;
        bool seal;
        long flipAt;  // within abc's data; -1: nothing damaged
        bool abcInstalled;
    } cases[] = {
        {"without a seal", false, -1, true},
        {"sealed", true, -1, true},
        {"sealed, first chunk damaged", true, 0, false},
        {"sealed, middle chunk damaged", true, 75 * CHUNK_SIZE + 7, false},
        {"sealed, last chunk damaged", true, static_cast<long>(abcNew.size()) - 1, false},
        {"without a seal, damaged", false, 75 * CHUNK_SIZE + 7, true},  // nothing to tell it by
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
        std::string package = c.seal ? sealed : MakePackage({Abc(abcNew), Xyz(xyzNew)});
        std::string abcBytes = abcNew;
        if (c.flipAt >= 0) {
            package[abcStart + c.flipAt] ^= 0x20;
            abcBytes[c.flipAt] ^= 0x20;
        }
        machine->AddPackage(L"dicts.dir", package);
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        const std::vector<std::wstring> lines = InstallToTheEnd(wizard, dlg);
        ASSERT_EQ(lines.size(), 4u);
        const std::wstring abcLine = c.abcInstalled ? Upgraded(ABC_NAME) : UpgradeFailed(ABC_NAME);
        EXPECT_NE(std::find(lines.begin(), lines.end(), abcLine), lines.end()) << test::Utf8(abcLine);
        EXPECT_EQ(lines[3], Format(WIZ_TEXT_INSTALL_DONE_FORMAT, XYZ_NAME));
        ExpectDataDir({{L"abc.dic", c.abcInstalled ? abcBytes : ABC_OLD}, {L"xyz.dic", xyzNew}});
        DeleteFileW(Installed(L"xyz.dic").c_str());
    }
}

// A seal that is damaged itself makes the package damaged: the plan fails, nothing changes.
TEST_F(SealTest, DamagedSealFailsThePlan) {
    const std::string abcNew = test::PatternBytes(9000, 171);
    const std::string sealed = Sealed({Abc(abcNew)});
    const size_t trailer = sealed.size() - PACKAGE_SEAL_TRAILER_SIZE;
    std::string wrongCount = sealed, wrongSize = sealed;
    wrongCount[trailer] = 2;
    wrongSize[trailer + 4] ^= 1;
    const std::string digestCut = sealed.substr(0, trailer - 8) + sealed.substr(trailer);
    for (const auto& damaged : {std::make_pair("wrong count", wrongCount), std::make_pair("wrong size", wrongSize),
                                std::make_pair("digests cut short", digestCut)}) {
        SCOPED_TRACE(damaged.first);
        machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
        machine->AddPackage(L"abc.dir", damaged.second);
        ExpectPlanFailsChangingNothing({{L"abc.dic", ABC_OLD}});
    }
}

// One changed byte anywhere in a sealed package of abc (an upgrade) and xyz (new): a changed
// header, record or seal digest of either fails the plan before anything is touched; a changed
// byte of abc's data, or of its digest, fails abc alone at its install and leaves the old file.
// A package with the old seal, of the entries only, installs as it always did.
TEST_F(SealTest, EveryChangedByteIsRefused) {
    const std::string abcNew = test::PatternBytes(9000, 181), xyzNew = test::PatternBytes(3000, 182);
    const std::vector<PackageEntry> entries = {Abc(abcNew), Xyz(xyzNew)};
    const std::string sealed = Sealed(entries);
    const size_t record0 = PACKAGE_HEADER_SIZE, abcData = PACKAGE_HEADER_SIZE + 2 * PACKAGE_RECORD_SIZE;
    const size_t seal = sealed.size() - PackageSealSize(2), frame = seal + 2 * SHA256_DIGEST_SIZE;
    enum Outcome { PLAN_FAILS, ABC_REFUSED, INSTALLS };
    struct Case {
        const char* name;
        size_t at;  // the byte changed; SIZE_MAX: none
        Outcome outcome;
        bool entriesOnlySeal = false;
    } cases[] = {
        {"header: version2", 12, PLAN_FAILS},
        {"abc's id", record0 + offsetof(PackageDirRecord, dictId), PLAN_FAILS},
        {"abc's extension", record0 + offsetof(PackageDirRecord, fileExt) + 2, PLAN_FAILS},
        {"abc's date", record0 + offsetof(PackageDirRecord, dateText) + 6, PLAN_FAILS},
        {"abc's display name", record0 + offsetof(PackageDirRecord, displayName), PLAN_FAILS},
        {"abc's first byte", abcData, ABC_REFUSED},
        {"abc's last byte", abcData + abcNew.size() - 1, ABC_REFUSED},
        {"the seal: abc's digest", seal, ABC_REFUSED},
        {"the seal: the header's digest", frame, PLAN_FAILS},
        {"the seal: the directory's digest", frame + SHA256_DIGEST_SIZE + 31, PLAN_FAILS},
        {"the seal: its count", sealed.size() - PACKAGE_SEAL_TRAILER_SIZE, PLAN_FAILS},
        {"nothing", SIZE_MAX, INSTALLS},
        {"the old seal, of the entries only", SIZE_MAX, INSTALLS, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machine->AddInstalled(L"abc.dic", ABC_OLD, 2001);
        DeleteFileW(Installed(L"xyz.dic").c_str());
        std::string package = c.entriesOnlySeal ? MakePackage(entries) + BuildEntriesOnlySeal(DigestsOf(entries)) : sealed;
        if (c.at != SIZE_MAX) package[c.at] ^= 0x02;
        machine->AddPackage(L"dicts.dir", package);
        if (c.outcome == PLAN_FAILS) {
            ExpectPlanFailsChangingNothing({{L"abc.dic", ABC_OLD}});
            continue;
        }
        Wizard wizard(machine->wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        const std::vector<std::wstring> lines = InstallToTheEnd(wizard, dlg);
        ASSERT_EQ(lines.size(), 4u);
        const bool abcInstalled = c.outcome == INSTALLS;
        const std::wstring abcLine = abcInstalled ? Upgraded(ABC_NAME) : UpgradeFailed(ABC_NAME);
        EXPECT_NE(std::find(lines.begin(), lines.end(), abcLine), lines.end()) << test::Utf8(abcLine);
        ExpectDataDir({{L"abc.dic", abcInstalled ? abcNew : ABC_OLD}, {L"xyz.dic", xyzNew}});
    }
}

}  // namespace
}  // namespace faults
