// dictpack setup and dictpack check on whole setup folders: a clean folder that the real
// wizard installs, folders with one planted mistake each, and setups that must leave nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/WizardTexts.h"
#include "app/resource.h"
#include "base/ScopedWin.h"
#include "dictver/DictDate.h"
#include "package/PackageSeal.h"
#include "package/PackageWriter.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/TestSupport.h"
#include "tests/tools/RunDictPack.h"

namespace {

using test::FileExists;
using test::ReadFileBytes;
using test::RunDictPack;
using test::RunResult;
using test::TempDir;
using test::Utf8;
using test::WriteFileBytes;

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, length);
}

std::wstring BinDir() { return FullPath(test::ExeDir() + L"..\\..\\bin\\"); }

std::string Trailer(const char* date) {
    unsigned char trailer[DICT_STAMP_SIZE];
    EXPECT_TRUE(BuildStampTrailer(date, trailer));
    return std::string(reinterpret_cast<char*>(trailer), sizeof trailer);
}

std::string Picture(int side, unsigned seed) {
    const std::string row = test::PatternBytes(static_cast<size_t>(side) * 3, seed) + std::string((4 - side * 3 % 4) % 4, '\0');
    std::string pixels;
    for (int y = 0; y < side; ++y) pixels += row;
    return e2e::BitmapFile(e2e::BitmapHeader24(side, side), pixels);
}

struct Dictionary {
    const wchar_t* id;
    const wchar_t* file;
    const wchar_t* package;
    const char* date;
    const wchar_t* name;
    std::vector<std::pair<const wchar_t*, std::wstring>> keys;  // the eight the wizard copies
};

// Three dictionaries in two packages; only abc's texts are Chinese.
const std::vector<Dictionary> kDictionaries = {
    {L"abc", L"abc.dic", L"abc.dir", "2024-05-01", L"ABC英汉词典",
     {{L"id_net", L"abc-net"}, {L"desc_name", L"ABC英汉词典"}, {L"catalog", L"英汉"}, {L"from", L"en"}, {L"to", L"zh"},
      {L"desc_intro", L"收录词条五万。"}, {L"desc_copyright", L"示例出版社"}, {L"func_all", L"1"}}},
    {L"xyz", L"xyz.dic", L"words.dir", "2024-05-02", L"XYZ Thesaurus",
     {{L"id_net", L"xyz-net"}, {L"desc_name", L"XYZ Thesaurus"}, {L"catalog", L"English"}, {L"from", L"en"},
      {L"to", L"en"}, {L"desc_intro", L"Words of like meaning."}, {L"desc_copyright", L"Sample Press"},
      {L"func_all", L"1"}}},
    {L"qrs", L"qrs.dip", L"words.dir", "2024-05-03", L"QRS Idioms",
     {{L"id_net", L"qrs-net"}, {L"desc_name", L"QRS Idioms"}, {L"catalog", L"English"}, {L"from", L"en"},
      {L"to", L"en"}, {L"desc_intro", L"Idioms."}, {L"desc_copyright", L"Sample Press"}, {L"func_all", L"0"}}},
};

std::string SourceBytes(size_t i) { return test::PatternBytes(2048 * (i + 1) + 7, static_cast<unsigned>(i + 1)); }

std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }

// dictconfig.ini as setup writes it, with one section left out, one key left out, or one
// value replaced.
std::wstring IniText(const wchar_t* skipSection = nullptr, const wchar_t* skipKey = nullptr,
                     const wchar_t* longKey = nullptr, const std::wstring& longValue = std::wstring()) {
    std::wstring text;
    for (const Dictionary& d : kDictionaries) {
        if (skipSection && wcscmp(skipSection, d.id) == 0) continue;
        text += L"[" + std::wstring(d.id) + L"]\r\n";
        for (const auto& key : d.keys) {
            const bool first = wcscmp(d.id, kDictionaries[0].id) == 0;
            if (first && skipKey && wcscmp(skipKey, key.first) == 0) continue;
            const bool replaced = first && longKey && wcscmp(longKey, key.first) == 0;
            text += std::wstring(key.first) + L"=" + (replaced ? longValue : key.second) + L"\r\n";
        }
        text += L"\r\n";
    }
    return text;
}

bool WriteUtf16(const std::wstring& path, const std::wstring& text) {
    return WriteFileBytes(path, std::string("\xFF\xFE", 2) + std::string(reinterpret_cast<const char*>(text.data()),
                                                                           text.size() * sizeof(wchar_t)));
}

// Sources beside a manifest that describes them all, the wizard's files taken from the build.
class SetupSources {
public:
    SetupSources() {
        std::wstring manifest = L"# sample\r\n[wizard]\r\nexe = " + BinDir() + L"Quillbox.exe\r\nversion_library = " +
                                BinDir() + L"dict_ver.dll\r\n";
        for (size_t i = 0; i < kDictionaries.size(); ++i) {
            const Dictionary& d = kDictionaries[i];
            EXPECT_TRUE(WriteFileBytes(src / d.file, SourceBytes(i)));
            EXPECT_TRUE(WriteFileBytes(src / (std::wstring(d.id) + L".bmp"), Picture(6 + static_cast<int>(i), 10 + i)));
            manifest += L"\r\n[dictionary " + std::wstring(d.id) + L"]\r\nfile = " + d.file + L"\r\npackage = " +
                        d.package + L"\r\ndate = " + Widen(d.date) + L"\r\nname = " + d.name + L"\r\npicture = " +
                        d.id + L".bmp\r\n";
            for (const auto& key : d.keys) manifest += std::wstring(key.first) + L" = " + key.second + L"\r\n";
        }
        EXPECT_TRUE(WriteFileBytes(src / L"sample.manifest", Utf8(manifest)));
        // Sources a publisher may name by mistake; the sample names none of them.
        EXPECT_TRUE(WriteFileBytes(src / L"stamped.dic", SourceBytes(0) + Trailer("2024-04-01")));
        EXPECT_TRUE(WriteFileBytes(src / L"empty.dic", ""));
        EXPECT_TRUE(WriteFileBytes(src / L"hanying.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16)));
    }

    RunResult Setup(const std::wstring& outDir) const { return RunDictPack({L"setup", outDir, src / L"sample.manifest"}); }

    TempDir src{L"src"};
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t stop = text.find('\n', start);
        if (stop == std::string::npos) stop = text.size();
        lines.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return lines;
}

std::vector<std::string> ProblemLines(const std::string& out) {
    std::vector<std::string> problems;
    for (const std::string& line : Lines(out))
        if (line.compare(0, 7, "error: ") == 0 || line.compare(0, 9, "warning: ") == 0) problems.push_back(line);
    return problems;
}

// abc's Chinese texts, which a host file kept in a Western ANSI code page cannot hold.
const std::string kAbcCodePageLine = Utf8(
    L"warning: dictconfig.ini [abc]: desc_name, catalog, desc_intro and desc_copyright hold characters that code "
    L"page 1252 cannot hold: where the host keeps its localquerydictcfg.ini in a Western ANSI code page (no UTF-16 "
    L"byte-order mark), registering 《ABC英汉词典》 fails; a host file saved as UTF-16 LE holds them");

bool OnFinishedPage(HWND dlg) {
    return e2e::Visible(dlg, IDC_CHK_MAINDLG_LAUNCH) && e2e::ControlText(dlg, IDC_BTN_MAINDLG_CANCEL) == WIZ_TEXT_FINISH;
}

// The folder setup makes passes check with only the warning about abc's Chinese texts, and
// the real wizard installs every dictionary from it: files with their stamps, the host's
// sections, the pictures; a second run finds everything up to date.
TEST(SetupFolderTest, CleanFolderPassesCheckAndTheWizardInstallsIt) {
    SetupSources sources;
    TempDir root(L"pub");
    e2e::Machine machine(root.path());
    const RunResult setup = sources.Setup(machine.wizardDir);
    ASSERT_EQ(setup.code, 0u) << setup.err << setup.out;
    EXPECT_EQ(setup.err, "");
    EXPECT_NE(setup.out.find("0 errors, 1 warning\n"), std::string::npos) << setup.out;
    EXPECT_FALSE(FileExists(machine.wizardDir + L".part"));
    const std::string config = ReadFileBytes(machine.wizardDir + L"\\dictconfig.ini");
    EXPECT_EQ(config.compare(0, 2, "\xFF\xFE", 2), 0) << "dictconfig.ini is UTF-16LE with its byte-order mark";

    const RunResult check = RunDictPack({L"check", machine.wizardDir});
    EXPECT_EQ(check.code, 0u) << check.err;
    EXPECT_EQ(ProblemLines(check.out), std::vector<std::string>{kAbcCodePageLine}) << check.out;
    EXPECT_NE(check.out.find("abc.dir\tabc\t.dic\t2024-05-01\t" + Utf8(L"ABC英汉词典") + "\tok\tok\tok\n"),
              std::string::npos)
        << check.out;

    ASSERT_TRUE(machine.Create(BinDir()));
    machine.Register();
    struct Ender {
        ~Ender() { e2e::Machine::Unregister(); }
    } ender;
    {
        e2e::Wizard wizard(machine.wizardExe);
        HWND dlg = wizard.WaitForDialog();
        ASSERT_NE(dlg, nullptr);
        e2e::Click(dlg, IDC_BTN_MAINDLG_NEXT);
        ASSERT_TRUE(e2e::WaitUntil([&] { return OnFinishedPage(dlg); }));
        e2e::SetChecked(dlg, IDC_CHK_MAINDLG_LAUNCH, false);
        e2e::Click(dlg, IDC_BTN_MAINDLG_CANCEL);
        EXPECT_EQ(wizard.WaitForExit(), 1u);
    }
    for (size_t i = 0; i < kDictionaries.size(); ++i) {
        const Dictionary& d = kDictionaries[i];
        SCOPED_TRACE(Utf8(d.id));
        EXPECT_EQ(ReadFileBytes(machine.dictData + L"\\" + d.file), SourceBytes(i) + Trailer(d.date));
        EXPECT_EQ(ReadFileBytes(machine.hostImages + L"\\" + d.id + L".bmp"),
                  ReadFileBytes(sources.src / (std::wstring(d.id) + L".bmp")));
        for (const auto& key : d.keys) EXPECT_EQ(e2e::IniValue(machine.hostConfig, d.id, key.first), key.second);
    }

    e2e::Wizard again(machine.wizardExe);
    HWND dlg = again.WaitForDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(e2e::ControlText(dlg, IDC_STC_MAINDLG_TIPINFO), WIZ_TEXT_UP_TO_DATE);
    e2e::Click(dlg, IDC_BTN_MAINDLG_CANCEL);
    EXPECT_EQ(again.WaitForExit(), 1u);
}

// What the list of installed apps will show: from the manifest's [wizard] keys through
// setup.ini, or, without them, a digest of the package names and the dictionaries' names.
TEST(SetupFolderTest, CheckSaysWhatTheInstalledAppsEntryShows) {
    SetupSources sources;
    const std::string sample = ReadFileBytes(sources.src / L"sample.manifest");
    struct Case {
        const char* name;
        const char* wizardKeys;
        std::string keyLine, shownLine;
    } cases[] = {
        {"from the manifest", "setup_id = acme.dicts\r\ndisplay_name = Acme 词典 2024\r\npublisher = 示例出版社\r\n",
         "installed apps: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillbox.acme.dicts (the id from "
         "setup.ini)",
         "installed apps: DisplayName Acme 词典 2024, DisplayVersion 2024-05-03, Publisher 示例出版社"},
        {"without keys", "",
         "installed apps: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillbox.pk-",
         Utf8(L"installed apps: DisplayName ABC英汉词典、XYZ Thesaurus、QRS Idioms, DisplayVersion 2024-05-03, "
              L"Publisher -")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string manifest = sample;
        manifest.insert(manifest.find("[wizard]\r\n") + 10, c.wizardKeys);
        ASSERT_TRUE(WriteFileBytes(sources.src / L"keys.manifest", manifest));
        TempDir out(L"apps");
        const RunResult setup = RunDictPack({L"setup", out / L"wizard", sources.src / L"keys.manifest"});
        ASSERT_EQ(setup.code, 0u) << setup.err << setup.out;
        EXPECT_EQ(FileExists(out / L"wizard\\setup.ini"), c.wizardKeys[0] != 0);
        const RunResult check = RunDictPack({L"check", out / L"wizard"});
        EXPECT_EQ(check.code, 0u) << check.err;
        EXPECT_EQ(ProblemLines(check.out), std::vector<std::string>{kAbcCodePageLine}) << check.out;
        EXPECT_NE(check.out.find(c.keyLine), std::string::npos) << check.out;
        EXPECT_NE(check.out.find(c.shownLine + "\n"), std::string::npos) << check.out;
    }
}

// An empty dictionary file is packed, with a warning that names its line in the manifest,
// and check names the entry that holds nothing but the version stamp setup gave it.
TEST(SetupFolderTest, EmptyDictionaryFileIsPackedWithAWarning) {
    SetupSources sources;
    const std::string manifest = ReadFileBytes(sources.src / L"sample.manifest") +
                                 "\n[dictionary empty]\nfile = empty.dic\ndate = 2024-05-01\n";
    ASSERT_TRUE(WriteFileBytes(sources.src / L"empty.manifest", manifest));
    TempDir out(L"empty");
    const RunResult setup = RunDictPack({L"setup", out / L"wizard", sources.src / L"empty.manifest"});
    ASSERT_EQ(setup.code, 0u) << setup.err << setup.out;
    EXPECT_EQ(setup.err, "dictpack: warning: " + Utf8(sources.src / L"empty.manifest") +
                             " line 52: file = empty.dic is empty (0 bytes): the host gets a dictionary file without a "
                             "word in it\n");
    EXPECT_NE(setup.out.find("warning: empty.dir [empty]: entry 0 holds nothing but its version stamp: the host gets "
                             "empty.dic without a word in it\n"),
              std::string::npos)
        << setup.out;
}

struct Folder {
    std::wstring dir;
    const SetupSources* sources;

    std::wstring operator/(const std::wstring& name) const { return dir + L"\\" + name; }
    std::string Stamped(size_t i, const char* date) const { return SourceBytes(i) + Trailer(date); }
    // Sealed, as create makes them.
    void Package(const std::wstring& name, const std::vector<PackageEntrySpec>& specs,
                 const std::vector<std::string>& data) const {
        EXPECT_TRUE(WriteFileBytes(*this / name, BuildSealedPackage(specs, data)));
    }
    void Package(const std::wstring& name, const wchar_t* id, const wchar_t* ext, const wchar_t* date,
                 const std::string& data) const {
        Package(name, {{id, ext, date, id, 0}}, {data});
    }
};

struct PlantedCase {
    const char* name;
    void (*plant)(const Folder&);
    bool error;             // else a warning
    const char* line;       // the one problem line check gives, or a part of it
    const char* row;        // the start of the entry's table row, or null for a folder-wide mistake
};

class SetupFolderCheckTest : public ::testing::TestWithParam<PlantedCase> {};

TEST_P(SetupFolderCheckTest, NamesThePlantedMistake) {
    static const SetupSources sources;
    TempDir out(L"chk");
    const Folder folder{out / L"wizard", &sources};
    const RunResult setup = sources.Setup(folder.dir);
    ASSERT_EQ(setup.code, 0u) << setup.err;
    GetParam().plant(folder);

    const RunResult check = RunDictPack({L"check", folder.dir});
    EXPECT_EQ(check.code, GetParam().error ? 1u : 0u) << check.out << check.err;
    EXPECT_EQ(check.err, "");
    // The sample's own warning about abc's Chinese texts comes wherever dictconfig.ini still
    // holds them; each case counts what it planted besides.
    std::vector<std::string> problems = ProblemLines(check.out);
    const auto shared = std::remove_if(problems.begin(), problems.end(), [](const std::string& line) {
        return line.compare(0, 31, "warning: dictconfig.ini [abc]: ") == 0 &&
               line.find(" cannot hold: where the host keeps") != std::string::npos;
    });
    const int sharedWarnings = static_cast<int>(problems.end() - shared);
    problems.erase(shared, problems.end());
    ASSERT_EQ(problems.size(), 1u) << check.out;
    EXPECT_EQ(problems[0].compare(0, GetParam().error ? 7 : 9, GetParam().error ? "error: " : "warning: "), 0)
        << problems[0];
    EXPECT_NE(problems[0].find(GetParam().line), std::string::npos) << problems[0];
    const int warnings = sharedWarnings + (GetParam().error ? 0 : 1);
    const std::string counts = std::string(GetParam().error ? ": 1 error, " : ": 0 errors, ") +
                               std::to_string(warnings) + (warnings == 1 ? " warning\n" : " warnings\n");
    EXPECT_NE(check.out.find(counts), std::string::npos) << check.out;
    if (GetParam().row == nullptr) return;
    const std::vector<std::string> lines = Lines(check.out);
    const std::string start = GetParam().row;
    const auto row = std::find_if(lines.begin(), lines.end(),
                                  [&](const std::string& line) { return line.compare(0, start.size(), start) == 0; });
    ASSERT_NE(row, lines.end()) << check.out;
    const std::string verdict = GetParam().error ? "\terror" : "\twarning";
    EXPECT_EQ(row->substr(row->size() - std::min(row->size(), verdict.size())), verdict) << *row;
}

const std::wstring k300(300, L'x');

INSTANTIATE_TEST_SUITE_P(
    Mistakes, SetupFolderCheckTest,
    ::testing::Values(
        PlantedCase{"not_a_package",
                    [](const Folder& f) { WriteFileBytes(f / L"notes.dir", "release notes of the dictionaries, not a package"); }, true,
                    "error: notes.dir: not a package: wrong magic 0x656C6572: the wizard shows \"fail\" and installs "
                    "nothing",
                    "notes.dir\t-\t"},
        PlantedCase{"no_wizard", [](const Folder& f) { DeleteFileW((f / L"Quillbox.exe").c_str()); }, true,
                    "error: Quillbox.exe: missing: the user has no wizard to start", nullptr},
        PlantedCase{"no_package",
                    [](const Folder& f) {
                        DeleteFileW((f / L"abc.dir").c_str());
                        DeleteFileW((f / L"words.dir").c_str());
                    },
                    true, "error: *.dir: no package: the wizard has nothing to install", nullptr},
        PlantedCase{"data_outside_the_file",
                    [](const Folder& f) {
                        const std::string bytes = ReadFileBytes(f / L"abc.dir");
                        // The seal and the last part of the data.
                        WriteFileBytes(f / L"abc.dir", bytes.substr(0, bytes.size() - 300));
                    },
                    true, "abc.dir [abc]: entry 0 data lies outside the file", "abc.dir\tabc\t"},
        PlantedCase{"unsafe_name",
                    [](const Folder& f) { f.Package(L"dev.dir", L"con", L".dic", L"2024-05-01", f.Stamped(0, "2024-05-01")); },
                    true, "dev.dir [con]: entry 0 installs to 'con.dic', not a plain file in the dictionary data directory: "
                          "the wizard shows \"fail\"",
                    "dev.dir\tcon\t"},
        PlantedCase{"no_id",
                    [](const Folder& f) {
                        f.Package(L"noid.dir", {{L"", L".dic", L"2024-05-01", L"No id", 0}}, {f.Stamped(0, "2024-05-01")});
                    },
                    true, "error: noid.dir []: entry 0 ", "noid.dir\t\t"},
        PlantedCase{"picture_not_a_bitmap",
                    [](const Folder& f) { WriteFileBytes(f / L"dict_image\\xyz.bmp", "BM but nothing else"); }, true,
                    "error: dict_image\\xyz.bmp [xyz]: not a readable BMP", "words.dir\txyz\t"},
        PlantedCase{"picture_a_png",
                    [](const Folder& f) {
                        CopyFileW((f.sources->src / L"hanying.png").c_str(), (f / L"dict_image\\xyz.bmp").c_str(), FALSE);
                    },
                    true, "error: dict_image\\xyz.bmp [xyz]: a PNG picture, not a BMP (save it as a BMP): the host is "
                          "given a picture of 《XYZ Thesaurus》 that it cannot show",
                    "words.dir\txyz\t"},
        PlantedCase{"entry_of_only_a_stamp",
                    [](const Folder& f) { f.Package(L"abc.dir", L"abc", L".dic", L"2024-05-01", Trailer("2024-05-01")); },
                    false, "warning: abc.dir [abc]: entry 0 holds nothing but its version stamp: the host gets abc.dic "
                           "without a word in it",
                    "abc.dir\tabc\t"},
        PlantedCase{"picture_cut_short",
                    [](const Folder& f) {
                        const std::string bytes = ReadFileBytes(f / L"dict_image\\abc.bmp");
                        WriteFileBytes(f / L"dict_image\\abc.bmp", bytes.substr(0, bytes.size() - 20));
                    },
                    true, "dict_image\\abc.bmp [abc]: not a readable BMP (pixels cut short", "abc.dir\tabc\t"},
        PlantedCase{"no_dictconfig", [](const Folder& f) { DeleteFileW((f / L"dictconfig.ini").c_str()); }, false,
                    "warning: dictconfig.ini: missing: the host lists every dictionary without its name", nullptr},
        PlantedCase{"missing_section", [](const Folder& f) { WriteUtf16(f / L"dictconfig.ini", IniText(L"xyz")); }, false,
                    "warning: dictconfig.ini [xyz]: no section: the host lists 《XYZ Thesaurus》 without its name",
                    "words.dir\txyz\t"},
        PlantedCase{"missing_key",
                    [](const Folder& f) { WriteUtf16(f / L"dictconfig.ini", IniText(nullptr, L"desc_copyright")); },
                    false, "warning: dictconfig.ini [abc]: no value for desc_copyright: the host shows nothing there",
                    "abc.dir\tabc\t"},
        PlantedCase{"value_too_long",
                    [](const Folder& f) {
                        WriteUtf16(f / L"dictconfig.ini", IniText(nullptr, nullptr, L"desc_intro", k300));
                    },
                    false, "[abc]: desc_intro (300 characters): the host gets only the first 259 characters",
                    "abc.dir\tabc\t"},
        PlantedCase{"config_not_utf16",
                    [](const Folder& f) { WriteFileBytes(f / L"dictconfig.ini", Utf8(IniText())); }, false,
                    "warning: dictconfig.ini [abc]: non-ASCII values and no UTF-16LE byte-order mark", "abc.dir\tabc\t"},
        PlantedCase{"missing_picture", [](const Folder& f) { DeleteFileW((f / L"dict_image\\qrs.bmp").c_str()); }, false,
                    "warning: dict_image\\qrs.bmp [qrs]: missing: the host shows 《QRS Idioms》 without its picture",
                    "words.dir\tqrs\t"},
        PlantedCase{"no_version_library", [](const Folder& f) { DeleteFileW((f / L"dict_ver.dll").c_str()); }, false,
                    "warning: dict_ver.dll: missing: the wizard upgrades every dictionary the user already has",
                    nullptr},
        PlantedCase{"date_the_library_refuses",
                    [](const Folder& f) { f.Package(L"abc.dir", L"abc", L".dic", L"2024-02-30", f.Stamped(0, "2024-05-01")); },
                    false, "abc.dir [abc]: entry 0 date '2024-02-30' is refused by the folder's dict_ver.dll: the wizard "
                           "upgrades 《abc》 again on every run",
                    "abc.dir\tabc\t"},
        PlantedCase{"unstamped_entry",
                    [](const Folder& f) { f.Package(L"abc.dir", L"abc", L".dic", L"2024-05-01", SourceBytes(0)); },
                    false, "abc.dir [abc]: entry 0 carries no version stamp: once installed, abc.dic reports its install "
                           "time",
                    "abc.dir\tabc\t"},
        PlantedCase{"stamp_older_than_the_record",
                    [](const Folder& f) { f.Package(L"abc.dir", L"abc", L".dic", L"2024-05-01", f.Stamped(0, "2024-01-01")); },
                    false, "entry 0 carries the version stamp 2024-01-01 but its record says 2024-05-01: once installed, "
                           "abc.dic reports 2024-01-01, so the wizard upgrades it again on every run",
                    "abc.dir\tabc\t"},
        PlantedCase{"no_display_name",
                    [](const Folder& f) {
                        f.Package(L"abc.dir", {{L"abc", L".dic", L"2024-05-01", L"", 0}}, {f.Stamped(0, "2024-05-01")});
                    },
                    false, "warning: abc.dir [abc]: entry 0 has no display name: the wizard shows 《》", "abc.dir\tabc\t"},
        PlantedCase{"other_extension",
                    [](const Folder& f) {
                        f.Package(L"words.dir",
                                  {{L"xyz", L".dic", L"2024-05-02", L"XYZ Thesaurus", 0},
                                   {L"qrs", L".dat", L"2024-05-03", L"QRS Idioms", 0}},
                                  {f.Stamped(1, "2024-05-02"), f.Stamped(2, "2024-05-03")});
                    },
                    false, "words.dir [qrs]: entry 1 extension '.dat' is neither .dic nor .dip: the host's dictionaries "
                           "end in one of these; the wizard installs qrs.dat all the same and finds it again by that "
                           "name, so a second run says up to date",
                    "words.dir\tqrs\t"},
        PlantedCase{"two_entries_for_one_file",
                    [](const Folder& f) {
                        f.Package(L"words.dir",
                                  {{L"xyz", L".dic", L"2024-05-02", L"XYZ Thesaurus", 0},
                                   {L"qrs", L".dip", L"2024-05-03", L"QRS Idioms", 0},
                                   {L"XYZ", L".DIC", L"2024-05-02", L"XYZ Thesaurus", 0}},
                                  {f.Stamped(1, "2024-05-02"), f.Stamped(2, "2024-05-03"), f.Stamped(1, "2024-05-02")});
                    },
                    false, "words.dir [xyz]: entry 2 installs to xyz.dic, as words.dir entry 0 does: the user gets only "
                           "one of them",
                    "words.dir\tXYZ\t"},
        PlantedCase{"names_one_file_by_case_folding",
                    [](const Folder& f) {
                        // The plan lowers A-Z only; the file system folds Ä and ä together. Wine's
                        // profile functions do not, so each spelling gets its section.
                        std::wstring keys;
                        for (const auto& key : kDictionaries[1].keys) keys += std::wstring(key.first) + L"=x\r\n";
                        WriteUtf16(f / L"dictconfig.ini", IniText() + L"[ärzte]\r\n" + keys + L"[Ärzte]\r\n" + keys);
                        WriteFileBytes(f / L"dict_image\\ärzte.bmp", Picture(5, 3));
                        f.Package(L"med.dir",
                                  {{L"ärzte", L".dic", L"2024-05-02", L"Ärzte", 0},
                                   {L"Ärzte", L".dic", L"2024-05-02", L"Ärzte", 0}},
                                  {f.Stamped(1, "2024-05-02"), f.Stamped(1, "2024-05-02")});
                    },
                    false, "med.dir [Ärzte]: entry 1 installs to Ärzte.dic, as med.dir entry 0 does", "med.dir\tÄrzte\t"},
        PlantedCase{"entry_unlike_its_seal",
                    [](const Folder& f) {
                        std::string bytes = ReadFileBytes(f / L"words.dir");
                        const PackageHeader& header = *reinterpret_cast<const PackageHeader*>(bytes.data());
                        const PackageDirRecord& qrs =
                            *reinterpret_cast<const PackageDirRecord*>(&bytes[PACKAGE_HEADER_SIZE + PACKAGE_RECORD_SIZE]);
                        bytes[header.dataBase + qrs.dataOffset + 2048 + 3] ^= 0x10;
                        WriteFileBytes(f / L"words.dir", bytes);
                    },
                    true, "error: words.dir [qrs]: entry 1 does not match the package's seal (damaged since it was "
                          "sealed): installing 《QRS Idioms》 fails and leaves qrs.dip as it was",
                    "words.dir\tqrs\t"},
        PlantedCase{"damaged_seal",
                    [](const Folder& f) {
                        std::string bytes = ReadFileBytes(f / L"words.dir");
                        bytes[bytes.size() - PACKAGE_SEAL_TRAILER_SIZE] = 3;  // the seal's entry count
                        WriteFileBytes(f / L"words.dir", bytes);
                    },
                    true, "error: words.dir: damaged seal: it counts 3 entries, the directory has 2: the wizard shows "
                          "\"fail\" and installs nothing",
                    "words.dir\t-\t"},
        PlantedCase{"unsealed_package",
                    [](const Folder& f) {
                        WriteFileBytes(f / L"abc.dir", BuildPackage({{L"abc", L".dic", L"2024-05-01", L"ABC英汉词典", 0}},
                                                                    {f.Stamped(0, "2024-05-01")}));
                    },
                    false, "warning: abc.dir: not sealed: the wizard cannot tell a package damaged on the way from a "
                           "sound one",
                    "abc.dir\tabc\t"},
        PlantedCase{"old_seal_of_the_entries_only",
                    [](const Folder& f) {
                        WriteFileBytes(f / L"abc.dir",
                                       BuildEntriesOnlySealedPackage({{L"abc", L".dic", L"2024-05-01", L"ABC英汉词典", 0}},
                                                                     {f.Stamped(0, "2024-05-01")}));
                    },
                    false, "warning: abc.dir: its seal is of the old kind and covers the entries only",
                    "abc.dir\tabc\t"},
        // The wizard must be a 32-bit Windows program with a window.
        PlantedCase{"wizard_a_text_file",
                    [](const Folder& f) { WriteFileBytes(f / L"Quillbox.exe", "echo this is no program\r\n"); }, true,
                    "error: Quillbox.exe: not a Windows program: it does not start with MZ: the user cannot start the "
                    "wizard",
                    nullptr},
        PlantedCase{"wizard_a_library",
                    [](const Folder& f) { CopyFileW((f / L"dict_ver.dll").c_str(), (f / L"Quillbox.exe").c_str(), FALSE); },
                    true, "error: Quillbox.exe: a library, not a program", nullptr},
        PlantedCase{"wizard_a_console_program",
                    [](const Folder& f) {
                        CopyFileW((BinDir() + L"dictpack.exe").c_str(), (f / L"Quillbox.exe").c_str(), FALSE);
                    },
                    true, "error: Quillbox.exe: not a windowed (GUI) program (subsystem 3)", nullptr},
        PlantedCase{"wizard_for_64_bits",
                    [](const Folder& f) {
                        std::string bytes = ReadFileBytes(f / L"Quillbox.exe");
                        const LONG nt = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data())->e_lfanew;
                        reinterpret_cast<IMAGE_NT_HEADERS32*>(&bytes[nt])->FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
                        WriteFileBytes(f / L"Quillbox.exe", bytes);
                    },
                    true, "error: Quillbox.exe: not a 32-bit x86 program (machine 0x8664)", nullptr},
        PlantedCase{"wizard_mz_without_pe",
                    [](const Folder& f) { WriteFileBytes(f / L"Quillbox.exe", "MZ" + std::string(200, '\0')); }, true,
                    "error: Quillbox.exe: not a Windows program: its MZ header leads to no PE header", nullptr},
        // A setup id Windows would read as another name (its trailing dot dropped) or as a
        // device: the entry is named by the digest instead.
        PlantedCase{"setup_id_ending_in_a_dot",
                    [](const Folder& f) { WriteUtf16(f / L"setup.ini", L"[setup]\r\nid=abc.\r\n"); }, false,
                    "warning: setup.ini: id 'abc.' is not at most 40 letters", nullptr},
        PlantedCase{"setup_id_a_device",
                    [](const Folder& f) { WriteUtf16(f / L"setup.ini", L"[setup]\r\nid=nul\r\n"); }, false,
                    "not starting or ending with '.', and not a device name", nullptr},
        PlantedCase{"empty_package",
                    [](const Folder& f) { f.Package(L"empty.dir", std::vector<PackageEntrySpec>{}, {}); }, false,
                    "warning: empty.dir: no entries: the package installs nothing", "empty.dir\t-\t"}),
    [](const ::testing::TestParamInfo<PlantedCase>& info) { return std::string(info.param.name); });

enum class ManifestBytes { Utf8, Utf16Le, Utf16Be, Utf16LeWithoutMark };

struct BadSetupCase {
    const char* name;
    // Appended to the sample manifest; one that starts with a [wizard] section adds its keys
    // to the sample's own, since the section may be given once. Null: no manifest at all.
    const char* manifestAddition;
    bool outDirExists;             // OUTDIR holds a file before setup runs
    DWORD code;
    const char* error;  // part of the first stderr line
    const wchar_t* exe = nullptr;  // the wizard the manifest names instead: a file in bin\, else as written
    const char* also = nullptr;    // a second part of that line
    ManifestBytes bytes = ManifestBytes::Utf8;
    bool noParent = false;  // OUTDIR's parent folder does not exist
};

// The manifest's UTF-8 text saved in another encoding.
std::string Saved(const std::string& utf8, ManifestBytes bytes) {
    if (bytes == ManifestBytes::Utf8) return utf8;
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    std::string saved = bytes == ManifestBytes::Utf16Le ? "\xFF\xFE" : bytes == ManifestBytes::Utf16Be ? "\xFE\xFF" : "";
    for (wchar_t unit : wide) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        saved += bytes == ManifestBytes::Utf16Be ? std::string{high, low} : std::string{low, high};
    }
    return saved;
}

// Every file and folder under dir with its size, one a line, in the order the search gives.
std::string Listing(const std::wstring& dir) {
    std::string listing;
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) return listing;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        listing += Utf8(dir + L"\\" + name) + " " + std::to_string(data.nFileSizeLow) + "\n";
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) listing += Listing(dir + L"\\" + name);
    } while (FindNextFileW(find.get(), &data));
    return listing;
}

class SetupFolderBadSetupTest : public ::testing::TestWithParam<BadSetupCase> {};

// A refused or failed setup says why in one line and leaves no folder, half-made or staged.
TEST_P(SetupFolderBadSetupTest, FailsWithOneLineAndLeavesNothing) {
    static const SetupSources sources;
    TempDir out(L"bad");
    const std::wstring outDir = out / (GetParam().noParent ? L"missing\\wizard" : L"wizard");
    if (GetParam().outDirExists) {
        ASSERT_TRUE(CreateDirectoryW(outDir.c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(outDir + L"\\mine.txt", "the publisher's own file"));
    }
    std::vector<std::wstring> args = {L"setup", outDir};
    if (GetParam().manifestAddition != nullptr) {
        std::string manifest = ReadFileBytes(sources.src / L"sample.manifest");
        const std::string addition = GetParam().manifestAddition, wizard = "\n[wizard]\n";
        if (addition.compare(0, wizard.size(), wizard) == 0)
            manifest.insert(manifest.find("[wizard]\r\n") + 10, addition.substr(wizard.size()));
        else
            manifest += addition;
        if (GetParam().exe != nullptr) {
            const std::string wizard = Utf8(BinDir() + L"Quillbox.exe");
            const std::wstring inBin = BinDir() + GetParam().exe;
            manifest.replace(manifest.find(wizard), wizard.size(), Utf8(FileExists(inBin) ? inBin : GetParam().exe));
        }
        ASSERT_TRUE(WriteFileBytes(sources.src / L"bad.manifest", Saved(manifest, GetParam().bytes)));
        args.push_back(sources.src / L"bad.manifest");
    }
    // Nothing is written anywhere: not beside OUTDIR, not where a hostile name points.
    const std::string before = Listing(out.path());
    const RunResult setup = RunDictPack(args);
    EXPECT_EQ(Listing(out.path()), before);
    EXPECT_EQ(setup.code, GetParam().code) << setup.out;
    EXPECT_EQ(setup.err.compare(0, 10, "dictpack: "), 0) << setup.err;
    const std::string first = setup.err.substr(0, setup.err.find('\n'));
    EXPECT_NE(first.find(GetParam().error), std::string::npos) << setup.err;
    if (GetParam().also != nullptr) EXPECT_NE(first.find(GetParam().also), std::string::npos) << setup.err;
    if (GetParam().code == 1) {
        EXPECT_EQ(std::count(setup.err.begin(), setup.err.end(), '\n'), 1) << setup.err;
        // Setup's own words: no option of create, which setup does not have.
        EXPECT_EQ(first.find("--"), std::string::npos) << first;
    }
    EXPECT_FALSE(FileExists(outDir + L".part"));
    if (GetParam().outDirExists) {
        EXPECT_EQ(ReadFileBytes(outDir + L"\\mine.txt"), "the publisher's own file");
        EXPECT_FALSE(FileExists(outDir + L"\\Quillbox.exe"));
    } else {
        EXPECT_FALSE(FileExists(outDir));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Setups, SetupFolderBadSetupTest,
    ::testing::Values(
        BadSetupCase{"no_manifest", nullptr, false, 2, "setup takes OUTDIR and at least one MANIFEST"},
        BadSetupCase{"out_dir_exists", "", true, 1, "already exists; setup makes a new folder"},
        BadSetupCase{"missing_file", "\n[dictionary gone]\nfile = gone.dic\ndate = 2024-01-01\n", false, 1,
                     "gone.dic"},
        BadSetupCase{"misspelt_key", "\n[dictionary more]\nfile = abc.dic\ndesc_nmae = More\n", false, 1,
                     "line 53: unknown key 'desc_nmae'"},
        BadSetupCase{"dictionary_twice", "\n[dictionary ABC]\nfile = abc.dic\n", false, 1,
                     "dictionary ABC is described twice"},
        BadSetupCase{"no_file", "\n[dictionary more]\nname = More\n", false, 1, "[dictionary more] has no file"},
        BadSetupCase{"setup_id_not_a_plain_name", "\n[wizard]\nsetup_id = ..\\evil\n", false, 1,
                     "setup_id '..\\evil' is not at most 40 letters"},
        BadSetupCase{"setup_id_ending_in_a_dot", "\n[wizard]\nsetup_id = abc.\n", false, 1,
                     "setup_id 'abc.' is not at most 40 letters"},
        BadSetupCase{"setup_id_a_device", "\n[wizard]\nsetup_id = com1\n", false, 1,
                     "setup_id 'com1' is not at most 40 letters"},
        BadSetupCase{"bad_date", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-13-01\n", false, 1,
                     "bad.manifest line 53: date = 2024-13-01 is not a date: there is no month 13"},
        BadSetupCase{"package_not_found_by_the_wizard", "\n[dictionary more]\nfile = abc.dic\npackage = more.pkg\n",
                     false, 1, "package 'more.pkg' is not a plain file name ending in .dir"},
        // Every manifest value that names a file in the setup folder or on the user's machine
        // (the id, the extension, the package), with a way out of the folder, a drive, a root
        // or an alternate stream; and files read from such places that are not there.
        BadSetupCase{"id_leaving_the_folder",
                     "\n[dictionary ..\\..\\escaped]\nfile = abc.dic\ndate = 2024-01-01\npicture = abc.bmp\n", false, 1,
                     "[dictionary ..\\..\\escaped]: the id is not a plain file name (its picture would be "
                     "..\\..\\escaped.bmp)"},
        BadSetupCase{"id_with_a_drive", "\n[dictionary C:\\escaped]\nfile = abc.dic\ndate = 2024-01-01\npicture = abc.bmp\n",
                     false, 1, "the id is not a plain file name"},
        BadSetupCase{"id_from_the_root", "\n[dictionary \\escaped]\nfile = abc.dic\ndate = 2024-01-01\npicture = abc.bmp\n",
                     false, 1, "the id is not a plain file name"},
        BadSetupCase{"id_with_a_stream", "\n[dictionary more:x]\nfile = abc.dic\ndate = 2024-01-01\npicture = abc.bmp\n",
                     false, 1, "the id is not a plain file name"},
        BadSetupCase{"extension_leaving_the_folder", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\next = \\..\\x\n",
                     false, 1, "it would install to 'more\\..\\x', not a plain file in the dictionary data directory"},
        BadSetupCase{"extension_with_a_drive", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\next = C:\\x\n",
                     false, 1, "it would install to 'moreC:\\x'"},
        BadSetupCase{"extension_with_a_stream", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\next = .dic:x\n",
                     false, 1, "it would install to 'more.dic:x'"},
        BadSetupCase{"file_with_a_stream", "\n[dictionary more]\nfile = abc.dic:x\ndate = 2024-01-01\n", false, 1,
                     "it would install to 'more.dic:x'"},
        BadSetupCase{"package_leaving_the_folder",
                     "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\npackage = ..\\..\\escaped.dir\n", false, 1,
                     "package '..\\..\\escaped.dir' is not a plain file name ending in .dir"},
        BadSetupCase{"package_with_a_drive", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\npackage = C:\\escaped.dir\n",
                     false, 1, "is not a plain file name ending in .dir"},
        BadSetupCase{"package_from_the_root", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\npackage = \\escaped.dir\n",
                     false, 1, "is not a plain file name ending in .dir"},
        BadSetupCase{"package_with_a_stream", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\npackage = more.dir:x\n",
                     false, 1, "is not a plain file name ending in .dir"},
        BadSetupCase{"picture_with_a_stream", "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\npicture = abc.bmp:x\n",
                     false, 1, "abc.bmp:x"},
        BadSetupCase{"file_above_the_folder", "\n[dictionary more]\nfile = ..\\..\\..\\gone.dic\ndate = 2024-01-01\n", false,
                     1, "gone.dic"},
        // The wizard to ship is a 32-bit Windows program with a window, and nothing else.
        BadSetupCase{"wizard_a_text_file", "", false, 1,
                     "sample.manifest: not a Windows program: it does not start with MZ", L"sample.manifest"},
        BadSetupCase{"wizard_a_library", "", false, 1, "dict_ver.dll: a library, not a program", L"dict_ver.dll"},
        BadSetupCase{"wizard_a_console_program", "", false, 1,
                     "dictpack.exe: not a windowed (GUI) program (subsystem 3)", L"dictpack.exe"},
        BadSetupCase{"wizard_missing", "", false, 1, "gone.exe: cannot be read", L"gone.exe"},
        BadSetupCase{"picture_a_text_file",
                     "\n[dictionary more]\nfile = abc.dic\ndate = 2024-01-01\nid_net = more\npicture = sample.manifest\n",
                     false, 1, "bad.manifest line 55: picture = sample.manifest: not a readable BMP (does not start with BM)"},
        // The publisher's mistakes, each named by the manifest, its line and its key, found
        // before anything is made.
        BadSetupCase{"file_missing", "\n[dictionary med]\nfile = medterm.dic\ndate = 2024-05-01\n", false, 1,
                     "bad.manifest line 52: file = medterm.dic: cannot open ", nullptr, "medterm.dic: "},
        BadSetupCase{"file_a_folder", "\n[dictionary med]\nfile = .\ndate = 2024-05-01\n", false, 1,
                     "bad.manifest line 52: file = .: ", nullptr, " is a folder, not a file"},
        BadSetupCase{"file_without_stamp_or_date", "\n[dictionary med]\nfile = abc.dic\n", false, 1,
                     "bad.manifest line 52: file = abc.dic carries no version stamp, and [dictionary med] (", nullptr,
                     "bad.manifest line 51) gives no date =; add date = YYYY-MM-DD to it"},
        BadSetupCase{"date_unlike_the_stamp", "\n[dictionary med]\nfile = stamped.dic\ndate = 2024-05-01\n", false, 1,
                     "bad.manifest line 53: date = 2024-05-01 differs from the version stamp 2024-04-01 that file = "
                     "stamped.dic (line 52) carries"},
        BadSetupCase{"impossible_day", "\n[dictionary med]\nfile = abc.dic\ndate = 2024-02-30\n", false, 1,
                     "bad.manifest line 53: date = 2024-02-30 is not a date: February 2024 has 29 days"},
        BadSetupCase{"picture_a_png", "\n[dictionary med]\nfile = abc.dic\ndate = 2024-05-01\npicture = hanying.png\n",
                     false, 1, "bad.manifest line 54: picture = hanying.png: a PNG picture, not a BMP"},
        BadSetupCase{"picture_a_folder", "\n[dictionary med]\nfile = abc.dic\ndate = 2024-05-01\npicture = .\n", false,
                     1, "bad.manifest line 54: picture = .: a folder, not a picture"},
        BadSetupCase{"second_wizard_section",
                     "\n[dictionary med]\nfile = abc.dic\ndate = 2024-05-01\n[wizard]\npublisher = Other Press\n", false,
                     1, "bad.manifest line 54: a second [wizard] section (the first is at ", nullptr,
                     "bad.manifest line 2); give [wizard] once over all manifests"},
        BadSetupCase{"manifest_in_utf16_le", "", false, 1,
                     "bad.manifest is UTF-16 LE (it starts with the byte-order mark FF FE), not UTF-8: save it as UTF-8",
                     nullptr, nullptr, ManifestBytes::Utf16Le},
        BadSetupCase{"manifest_in_utf16_be", "", false, 1,
                     "bad.manifest is UTF-16 BE (it starts with the byte-order mark FE FF)", nullptr, nullptr,
                     ManifestBytes::Utf16Be},
        BadSetupCase{"manifest_in_utf16_without_mark", "", false, 1,
                     "bad.manifest line 1 holds NUL bytes: the manifest looks like UTF-16 without a byte-order mark",
                     nullptr, nullptr, ManifestBytes::Utf16LeWithoutMark},
        BadSetupCase{"manifest_line_in_gbk", "\n[dictionary med]\nfile = abc.dic\nname = \xBA\xBA\xD3\xA2\n", false, 1,
                     "bad.manifest line 53 is not UTF-8 (byte 0xBA at column 8): the manifest looks saved in an ANSI "
                     "code page such as GBK or 1252: save it as UTF-8"},
        BadSetupCase{"out_dir_without_parent", "", false, 1, "wizard: its parent folder ", nullptr,
                     "\\missing does not exist", ManifestBytes::Utf8, true}),
    [](const ::testing::TestParamInfo<BadSetupCase>& info) { return std::string(info.param.name); });

}  // namespace
