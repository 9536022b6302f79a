// The removal record keeps the digest of what the install put in place.
#include "install/RecordKeeper.h"
#include "install/UninstallEntry.h"
#include "package/PackageSeal.h"
#include "tests/install/InstallFixture.h"

namespace test {
namespace {

class NoWatcher final : public IInstallReporter {
public:
    void OnInstallBegin() override {}
    void OnInstallEnd() override {}
    void OnItemBegin(const EntryItem&) override {}
    void OnStep() override {}
    void OnItemDone(const EntryItem&) override {}
    bool OnItemFailed(const EntryItem&, DWORD) override { return true; }
    bool OnPackageBad(const std::wstring&, DWORD) override { return true; }
};

class RecordKeeperTest : public InstallFixture {};

// An entry of a sealed package is put in place only once its bytes hashed to the sealed
// digest as they were written, so the record takes that digest without reading the file
// again: a file changed in place since then is not ours, and the removal will leave it. A file
// of another size by then, and every entry of an unsealed package, are hashed as they are.
TEST_F(RecordKeeperTest, RecordHoldsTheDigestOfWhatWasInstalled) {
    const std::string installed = PatternBytes(5000, 41);
    std::string changed = installed;
    changed[4321] ^= 0x01;
    const std::string longer = installed + "x";
    struct Case {
        const char* name;
        bool sealed;
        const std::string& fileAtRecord;  // the target's bytes when the record is kept
        bool sealedDigest;                // else the file's own
    } cases[] = {
        {"sealed", true, installed, true},
        {"sealed, changed in place since", true, changed, true},
        {"sealed, another size since", true, longer, false},
        {"unsealed, changed in place since", false, changed, false},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        manager.Packages().clear();
        const PackageItem& package = AddPackage(L"rk" + std::to_wstring(round++) + L".dir",
                                                {{L"rkdict", installed, ACTION_INSTALL}});
        if (c.sealed) {
            const std::string bytes = ReadFileBytes(package.filePath);
            ASSERT_TRUE(WriteFileBytes(package.filePath, bytes + BuildPackageSeal(bytes, {Sha256Of(installed)})));
        }
        ASSERT_TRUE(WriteFileBytes(TargetOf(L"rkdict"), c.fileAtRecord));

        NoWatcher watcher;
        CRecordKeeper keeper(watcher, manager.Packages(), [](const std::wstring&) {});
        keeper.OnInstallBegin();
        keeper.OnItemDone(package.entries->front());
        keeper.OnInstallEnd();

        const std::wstring id = IdentityOfSetup(manager.Packages()).id;
        std::wstring folder;
        RemovalRecord record;
        ASSERT_TRUE(RecordFolderOf(id, folder));
        ASSERT_TRUE(ReadRemovalRecord(folder, record));
        ASSERT_EQ(record.entries.size(), 1u);
        EXPECT_EQ(record.entries[0].size, c.fileAtRecord.size());
        EXPECT_TRUE(record.entries[0].sha == Sha256Of(c.sealedDigest ? installed : c.fileAtRecord));
        DWORD error = ERROR_SUCCESS;
        EXPECT_TRUE(RemoveUninstallEntry(id, error)) << error;
        EXPECT_TRUE(RemoveRecordFolder(folder, error)) << error;
        DeleteFileW(TargetOf(L"rkdict").c_str());
    }
}

}  // namespace
}  // namespace test
