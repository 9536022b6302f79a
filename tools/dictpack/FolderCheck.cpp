// dictpack check: a setup folder read as the wizard reads it. Packages are found with the
// wizard's search pattern and opened with its reader, names judged by its entry-name rule,
// dictconfig.ini read through the same profile calls and keys, pictures found where the
// install looks for them, dates asked of the folder's own dict_ver.dll.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>

#include "base/ScopedWin.h"
#include "dictver/DictDate.h"
#include "host/HostPaths.h"
#include "install/DictConfig.h"
#include "install/InstallEngine.h"
#include "install/SetupIdentity.h"
#include "install/UninstallEntry.h"
#include "package/EntryNames.h"
#include "package/LocalScan.h"
#include "package/PackageReader.h"
#include "package/PlanTexts.h"
#include "package/VersionLibrary.h"
#include "tools/dictpack/DictPackCore.h"
#include "tools/dictpack/SetupFolder.h"
#include "tools/dictpack/Utf.h"

namespace dictpack {
namespace {

// Long enough to see how far a value overruns what the wizard copies.
constexpr DWORD LONG_VALUE_UNITS = 32768;

std::string U8(const std::wstring& text) { return Utf16ToUtf8(text); }
std::string Num(int64_t value) { return std::to_string(value); }
std::string Quoted(const std::wstring& name) { return U8(L"《" + name + L"》"); }
std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadAt(HANDLE file, int64_t position, void* buffer, DWORD size) {
    LARGE_INTEGER at;
    at.QuadPart = position;
    DWORD got = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, &got, nullptr) &&
           got == size;
}

qb::ScopedHandle OpenForReading(const std::wstring& path) {
    return qb::ScopedHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
}

// Names the usual picture formats a publisher may have saved instead of a BMP.
std::string OtherPictureKind(const unsigned char (&start)[8]) {
    if (std::memcmp(start, "\x89PNG\r\n\x1A\n", 8) == 0) return "PNG";
    if (start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF) return "JPEG";
    if (std::memcmp(start, "GIF8", 4) == 0) return "GIF";
    return std::string();
}

// Empty when the host can show the bitmap: a header Windows knows, pixels inside the file,
// and LoadImageW loads it.
std::string BitmapProblem(const std::wstring& path, HANDLE file, int64_t size) {
    BITMAPFILEHEADER fileHeader{};
    DWORD infoSize = 0;
    if (!ReadAt(file, 0, &fileHeader, sizeof fileHeader) || !ReadAt(file, sizeof fileHeader, &infoSize, sizeof infoSize))
        return "shorter than a bitmap header";
    if (fileHeader.bfType != 0x4D42) return "does not start with BM";
    int64_t width = 0, height = 0;
    WORD planes = 0, bits = 0;
    DWORD compression = BI_RGB;
    if (infoSize == sizeof(BITMAPCOREHEADER)) {
        BITMAPCOREHEADER core{};
        if (!ReadAt(file, sizeof fileHeader, &core, sizeof core)) return "bitmap header cut short";
        width = core.bcWidth, height = core.bcHeight, planes = core.bcPlanes, bits = core.bcBitCount;
    } else if (infoSize >= sizeof(BITMAPINFOHEADER) && infoSize <= sizeof(BITMAPV5HEADER)) {
        BITMAPINFOHEADER info{};
        if (!ReadAt(file, sizeof fileHeader, &info, sizeof info)) return "bitmap header cut short";
        width = info.biWidth, height = info.biHeight, planes = info.biPlanes, bits = info.biBitCount;
        compression = info.biCompression;
    } else {
        return "unknown bitmap header of " + Num(infoSize) + " bytes";
    }
    if (width <= 0 || height == 0 || planes != 1) return "no picture in its header";
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Num(bits) + " bits per pixel";
    if (compression == BI_RGB || compression == BI_BITFIELDS) {
        const int64_t stride = (width * bits + 31) / 32 * 4;
        const int64_t end = int64_t{fileHeader.bfOffBits} + stride * (height < 0 ? -height : height);
        if (end > size) return "pixels cut short (they need " + Num(end) + " bytes, the file has " + Num(size) + ")";
    }
    HANDLE loaded = LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    if (loaded == nullptr) return "Windows cannot load it";
    DeleteObject(loaded);
    return std::string();
}

}  // namespace

std::string SystemErrorText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = text != nullptr ? text : L"";
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : U8(message);
}

std::string PictureProblem(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "cannot be read: " + SystemErrorText(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder, not a picture";
    qb::ScopedHandle file = OpenForReading(path);
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) return "cannot be read: " + SystemErrorText(GetLastError());
    unsigned char start[8] = {};
    const std::string kind = ReadAt(file.get(), 0, start, sizeof start) ? OtherPictureKind(start) : std::string();
    if (!kind.empty()) return "a " + kind + " picture, not a BMP (save it as a BMP)";
    const std::string problem = BitmapProblem(path, file.get(), size.QuadPart);
    return problem.empty() ? problem : "not a readable BMP (" + problem + ")";
}

std::string WizardProgramProblem(const std::wstring& path) {
    qb::ScopedHandle file = OpenForReading(path);
    if (!file) return "cannot be read (error " + Num(GetLastError()) + ")";
    IMAGE_DOS_HEADER dos{};
    if (!ReadAt(file.get(), 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return "not a Windows program: it does not start with MZ";
    IMAGE_NT_HEADERS32 nt{};
    if (dos.e_lfanew <= 0 || !ReadAt(file.get(), dos.e_lfanew, &nt, sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE)
        return "not a Windows program: its MZ header leads to no PE header";
    if (nt.FileHeader.Machine != IMAGE_FILE_MACHINE_I386 || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return "not a 32-bit x86 program (machine " + Hex(nt.FileHeader.Machine) + ")";
    if (!(nt.FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) || (nt.FileHeader.Characteristics & IMAGE_FILE_DLL))
        return "a library, not a program";
    if (nt.OptionalHeader.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI)
        return "not a windowed (GUI) program (subsystem " + Num(nt.OptionalHeader.Subsystem) + ")";
    return std::string();
}

namespace {

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The folder's dict_ver.dll, taken as the wizard takes it: with all three exports or not at all.
class FolderVersionLibrary {
public:
    // Empty when usable, else why not.
    std::string Load(const std::wstring& path) {
        if (!IsFile(path)) return "missing";
        qb::ScopedLibrary library(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (!library) return "cannot be loaded (error " + Num(GetLastError()) + ")";
        const char* const names[] = {"get_dict_datetime", "compare_date", "string_to_date"};
        for (const char* name : names)
            if (GetProcAddress(library.get(), name) == nullptr) return std::string("lacks ") + name;
        m_toDate = Export<PFN_STRING_TO_DATE>(library.get(), "string_to_date");
        m_library = std::move(library);
        return std::string();
    }
    bool loaded() const { return m_library.valid(); }
    bool Accepts(const std::wstring& text) const {
        DictDate date{};
        return m_toDate(text.c_str(), &date);
    }

private:
    qb::ScopedLibrary m_library;
    PFN_STRING_TO_DATE m_toDate = nullptr;
};

struct Row {
    std::string package, id = "-", ext = "-", date = "-", name = "-", section = "-", picture = "-";
    int errors = 0, warnings = 0;
};

// What one dictionary id finds in dictconfig.ini and dict_image, judged once per id.
struct IdState {
    std::string section, picture;
    bool sectionError = false, sectionWarning = false, pictureError = false, pictureWarning = false;
};

struct Target {
    std::wstring fileName;
    std::string where;
};

class Checker {
public:
    explicit Checker(const std::wstring& dir) : m_dir(dir) {}

    void Run() {
        if (!IsFile(Path(WIZARD_EXE_NAME))) {
            Report(true, U8(WIZARD_EXE_NAME), "", "missing: the user has no wizard to start", nullptr);
        } else {
            const std::string program = WizardProgramProblem(Path(WIZARD_EXE_NAME));
            if (!program.empty())
                Report(true, U8(WIZARD_EXE_NAME), "", program + ": the user cannot start the wizard", nullptr);
        }
        const std::string library = m_library.Load(Path(VERSION_LIBRARY_NAME));
        if (!library.empty())
            Report(false, U8(VERSION_LIBRARY_NAME), "",
                   library + ": the wizard upgrades every dictionary the user already has on every run, newer ones "
                             "included",
                   nullptr);
        m_configPath = Path(DICT_CONFIG_FILE_NAME);
        m_haveConfig = IsFile(m_configPath);
        if (m_haveConfig) {
            unsigned char bom[2] = {};
            qb::ScopedHandle file = OpenForReading(m_configPath);
            m_configUtf16 = file && ReadAt(file.get(), 0, bom, sizeof bom) && bom[0] == 0xFF && bom[1] == 0xFE;
        } else {
            Report(false, U8(DICT_CONFIG_FILE_NAME), "",
                   "missing: the host lists every dictionary without its name, description or languages", nullptr);
        }

        std::vector<std::wstring> packages;
        WIN32_FIND_DATAW data;
        qb::ScopedFindHandle find(FindFirstFileW((m_dir + PACKAGE_SEARCH_PIECE).c_str(), &data));
        if (find) {
            do {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) packages.push_back(data.cFileName);
            } while (FindNextFileW(find.get(), &data));
        }
        if (packages.empty())
            Report(true, "*.dir", "", "no package: the wizard has nothing to install", nullptr);
        for (const std::wstring& package : packages) CheckPackage(package);

        DescribeInstalledAppsEntry(packages);
        if (!m_nonAscii.empty())
            Report(false, U8(DICT_CONFIG_FILE_NAME), m_nonAscii,
                   "non-ASCII values and no UTF-16LE byte-order mark: the host may show them as '?' (save the file "
                   "as UTF-16LE with a BOM)",
                   nullptr);
    }

    void Write(std::string& out, const std::string& shownAs, CheckCounts& counts) const {
        out += "package\tid\text\tdate\tname\tsection\tpicture\tverdict\n";
        for (const Row& row : m_rows)
            out += row.package + "\t" + row.id + "\t" + row.ext + "\t" + row.date + "\t" + row.name + "\t" +
                   row.section + "\t" + row.picture + "\t" +
                   (row.errors ? "error" : row.warnings ? "warning" : "ok") + "\n";
        for (const std::string& line : m_entryLines) out += line + "\n";
        for (const std::string& line : m_problems) out += line + "\n";
        out += shownAs + ": " + Num(m_errors) + (m_errors == 1 ? " error, " : " errors, ") + Num(m_warnings) +
               (m_warnings == 1 ? " warning\n" : " warnings\n");
        counts.errors = m_errors;
        counts.warnings = m_warnings;
    }

private:
    std::wstring Path(const std::wstring& name) const { return m_dir + L"\\" + name; }

    // What Windows' list of installed apps will show once the folder's dictionaries are all
    // installed: the entry's key, name, version and publisher.
    void DescribeInstalledAppsEntry(const std::vector<std::wstring>& packages) {
        const SetupIdentity identity = ReadSetupIdentity(m_dir, packages);
        const std::wstring info = Path(SETUP_INFO_FILE_NAME);
        wchar_t given[SETUP_TEXT_MAX_UNITS + 1] = {};
        if (IsFile(info))
            GetPrivateProfileStringW(SETUP_INFO_SECTION, SETUP_KEY_ID, L"", given, SETUP_TEXT_MAX_UNITS + 1, info.c_str());
        if (given[0] != 0 && !IsSafeSetupId(given))
            Report(false, U8(SETUP_INFO_FILE_NAME), "",
                   "id '" + U8(given) + "' is not at most " + Num(static_cast<int>(SETUP_ID_MAX_UNITS)) +
                       SETUP_ID_RULE_TEXT ": the entry in the list of installed apps is named by a "
                       "digest of the package names instead, and another build of this setup gets an entry of its own",
                   nullptr);
        const bool fromInfo = given[0] != 0 && identity.id == given;
        m_entryLines.push_back("installed apps: HKLM\\" + U8(UninstallKeyOf(identity.id)) +
                               (fromInfo ? " (the id from " : " (a digest of the package names; no id in ") +
                               U8(SETUP_INFO_FILE_NAME) + ")");
        m_entryLines.push_back("installed apps: DisplayName " + U8(UninstallDisplayName(identity.displayName, m_entryNames)) +
                               ", DisplayVersion " + (m_newestDate.empty() ? std::string("-") : U8(m_newestDate)) +
                               ", Publisher " + (identity.publisher.empty() ? std::string("-") : U8(identity.publisher)));
    }

    // One line: the severity, the file, the dictionary id in brackets, what is wrong and
    // what the user meets because of it.
    void Report(bool error, const std::string& file, const std::string& ids, const std::string& text, Row* row) {
        m_problems.push_back(std::string(error ? "error: " : "warning: ") + file + (ids.empty() ? "" : " " + ids) +
                             ": " + text);
        ++(error ? m_errors : m_warnings);
        if (row != nullptr) ++(error ? row->errors : row->warnings);
    }

    void CheckPackage(const std::wstring& fileName) {
        const std::string package = U8(fileName);
        const std::wstring path = Path(fileName);
        const std::string fail = "the wizard shows \"" + U8(WIZ_TEXT_PLAN_FAILED) + "\" and installs nothing";
        CPackageReader reader;
        if (!reader.Open(path.c_str())) {
            m_rows.push_back(Row{package});
            Report(true, package, "", WhyPackageRefused(U8(path)) + ": " + fail, &m_rows.back());
            return;
        }
        if (reader.records().empty()) {
            m_rows.push_back(Row{package});
            Report(false, package, "", "no entries: the package installs nothing", &m_rows.back());
            return;
        }
        LARGE_INTEGER size{};
        {
            qb::ScopedHandle file = OpenForReading(path);
            if (!file || !GetFileSizeEx(file.get(), &size)) size.QuadPart = -1;
        }
        const auto& records = reader.records();
        const size_t firstRow = m_rows.size();
        bool cutShort = false;
        for (uint32_t i = 0; i < records.size(); ++i) {
            const PackageDirRecord& record = records[i];
            const std::wstring rawId = FieldText(record.dictId), ext = FieldText(record.fileExt);
            const std::wstring id = LowerAscii(rawId), name = FieldText(record.displayName);
            const std::wstring date = FieldText(record.dateText);
            Row row{package, U8(rawId), U8(ext), U8(date), U8(name)};
            m_entryNames.push_back(name);
            if (date > m_newestDate) m_newestDate = date;
            const std::string ids = "[" + U8(id) + "]";
            const std::string entry = "entry " + Num(i) + " ";
            const std::string target = U8(id + LowerAscii(ext));

            if (!IsSafeEntryName(id, LowerAscii(ext))) {
                Report(true, package, ids, entry + "installs to '" + target + "', not a plain file in the dictionary "
                                                  "data directory: " + fail, &row);
                m_rows.push_back(row);
                continue;
            }
            if (id.empty())
                Report(true, package, ids, entry + "has no id: the wizard installs " + target +
                                               " but registers it under no name and gives it no picture", &row);
            const std::string data = EntryDataProblem(reader.header(), record, size.QuadPart);
            if (!data.empty())
                Report(true, package, ids, entry + data + ": installing " + Quoted(name) + " fails", &row);
            cutShort = cutShort || !data.empty();
            if (data.empty() && reader.sealed() && !MatchesSeal(reader, i))
                Report(true, package, ids, entry + "does not match the package's seal (damaged since it was sealed): "
                                                   "installing " + Quoted(name) + " fails and leaves " + target +
                                                   " as it was", &row);
            if (name.empty()) Report(false, package, ids, entry + "has no display name: the wizard shows 《》", &row);
            if (!IsDictExtension(ext))
                Report(false, package, ids, entry + "extension '" + U8(ext) + "' is neither .dic nor .dip: " +
                                                   OtherExtensionEffect(target), &row);
            CheckDate(package, ids, entry, date, name, row);
            if (data.empty() && record.dataSize == 0)
                Report(false, package, ids, entry + "holds no data: the host gets an empty " + target, &row);
            if (data.empty()) CheckStamp(path, reader.header(), record, package, ids, entry, target, row);
            CheckDuplicate(id + LowerAscii(ext), package + " entry " + Num(i), package, ids, entry, target, row);
            if (!id.empty()) JudgeId(id, name, ids, row);
            m_rows.push_back(row);
        }
        // Data outside the file means a package cut short, seal and all: the error above says so.
        if (reader.sealVersion() == PACKAGE_SEAL_WHOLE || cutShort) return;
        if (reader.sealed())
            Report(false, package, "", "its seal is of the old kind and covers the entries only: the wizard cannot "
                                       "tell a damaged id, extension, date or name and installs by it (dictpack seal "
                                       "renews the seal)", nullptr);
        else
            Report(false, package, "", "not sealed: the wizard cannot tell a package damaged on the way from a sound "
                                       "one and installs whatever it holds (seal it with dictpack seal)", nullptr);
        for (size_t r = firstRow; r < m_rows.size(); ++r) ++m_rows[r].warnings;
    }

    void CheckDate(const std::string& package, const std::string& ids, const std::string& entry,
                   const std::wstring& date, const std::wstring& name, Row& row) {
        DictSystemTime parsed;
        if (m_library.loaded() ? m_library.Accepts(date) : ParseDateUnits(date.c_str(), parsed)) return;
        Report(false, package, ids,
               entry + "date '" + U8(date) + "' is refused by " +
                   (m_library.loaded() ? "the folder's dict_ver.dll" : "the version library's date rule") +
                   ": the wizard upgrades " + Quoted(name) + " again on every run",
               &row);
    }

    // The installed file reports the date of the stamp at its end, or its install time
    // without one; either must agree with the record's date or the next plan misjudges it.
    void CheckStamp(const std::wstring& path, const PackageHeader& header, const PackageDirRecord& record,
                    const std::string& package, const std::string& ids, const std::string& entry,
                    const std::string& target, Row& row) {
        unsigned char trailer[DICT_STAMP_SIZE] = {};
        bool read = false;
        if (record.dataSize >= DICT_STAMP_SIZE) {
            qb::ScopedHandle file = OpenForReading(path);
            const int64_t at = int64_t{header.dataBase} + record.dataOffset + record.dataSize - DICT_STAMP_SIZE;
            read = file && ReadAt(file.get(), at, trailer, DICT_STAMP_SIZE);
        }
        std::string stampText;
        DictSystemTime stamp{}, recorded{};
        const bool sound = read && ReadStampTrailer(trailer, stampText, stamp);
        if (!sound) {
            Report(false, package, ids,
                   entry + (read && HasStampMagic(trailer) ? "has a damaged version stamp" : "carries no version stamp") +
                       ": once installed, " + target + " reports its install time as its date, so a later package "
                       "dated before that is never installed over it",
                   &row);
            return;
        }
        if (record.dataSize == DICT_STAMP_SIZE)
            Report(false, package, ids,
                   entry + "holds nothing but its version stamp: the host gets " + target + " without a word in it",
                   &row);
        if (!ParseDateUnits(FieldText(record.dateText).c_str(), recorded)) return;
        const int order = CompareDictDates(recorded, stamp);
        if (order == 0) return;
        Report(false, package, ids,
               entry + "carries the version stamp " + stampText + " but its record says " + U8(FieldText(record.dateText)) +
                   ": once installed, " + target + " reports " + stampText +
                   (order > 0 ? ", so the wizard upgrades it again on every run"
                              : ", so a later package dated before that is never installed over it"),
               &row);
    }

    // The file system folds letter case for every letter, so two names that differ only in
    // case are one file, whatever the plan's ASCII-only lowering makes of them.
    void CheckDuplicate(const std::wstring& fileName, const std::string& where, const std::string& package,
                        const std::string& ids, const std::string& entry, const std::string& target, Row& row) {
        for (const Target& earlier : m_targets) {
            if (CompareStringOrdinal(earlier.fileName.c_str(), static_cast<int>(earlier.fileName.size()),
                                     fileName.c_str(), static_cast<int>(fileName.size()), TRUE) != CSTR_EQUAL)
                continue;
            Report(false, package, ids, entry + "installs to " + target + ", as " + earlier.where +
                                            " does: the user gets only one of them", &row);
            break;
        }
        m_targets.push_back(Target{fileName, where});
    }

    void JudgeId(const std::wstring& id, const std::wstring& name, const std::string& ids, Row& row) {
        auto known = m_ids.find(id);
        if (known == m_ids.end()) {
            IdState state;
            JudgeSection(id, name, ids, state);
            JudgeCodePage(id, name, ids);
            JudgePicture(id, name, ids, state);
            known = m_ids.emplace(id, state).first;
        }
        const IdState& state = known->second;
        row.section = state.section;
        row.picture = state.picture;
        row.errors += state.sectionError + state.pictureError;
        row.warnings += state.sectionWarning + state.pictureWarning;
    }

    void JudgeSection(const std::wstring& id, const std::wstring& name, const std::string& ids, IdState& state) {
        if (!m_haveConfig) {
            state.section = "-";
            return;
        }
        const std::string file = U8(DICT_CONFIG_FILE_NAME);
        std::vector<wchar_t> value(LONG_VALUE_UNITS);
        if (GetPrivateProfileStringW(id.c_str(), nullptr, L"", value.data(), LONG_VALUE_UNITS,
                                     m_configPath.c_str()) == 0) {
            state.section = "none";
            state.sectionWarning = true;
            Report(false, file, ids, "no section: the host lists " + Quoted(name) +
                                         " without its name, description or languages", nullptr);
            return;
        }
        std::string missing, cut;
        int missingCount = 0;
        bool nonAscii = false;
        for (const wchar_t* key : CFG_COPIED_KEYS) {
            const DWORD length = GetPrivateProfileStringW(id.c_str(), key, L"", value.data(), LONG_VALUE_UNITS,
                                                          m_configPath.c_str());
            if (length == 0) {
                missing += (missing.empty() ? "" : ", ") + U8(key);
                ++missingCount;
            }
            if (length > CFG_VALUE_UNITS - 1)
                cut += (cut.empty() ? "" : ", ") + U8(key) + " (" + Num(length) + " characters)";
            for (DWORD k = 0; k < length; ++k) nonAscii = nonAscii || value[k] >= 0x80;
        }
        state.section = missingCount ? Num(missingCount) + " keys missing" : "ok";
        if (!missing.empty()) {
            state.sectionWarning = true;
            Report(false, file, ids, "no value for " + missing + ": the host shows nothing there for " + Quoted(name),
                   nullptr);
        }
        if (!cut.empty()) {
            state.sectionWarning = true;
            state.section = "cut";
            Report(false, file, ids, cut + ": the host gets only the first " + Num(CFG_VALUE_UNITS - 1) + " characters",
                   nullptr);
        }
        if (nonAscii && !m_configUtf16) {
            state.sectionWarning = true;
            state.section = "not UTF-16";
            m_nonAscii += (m_nonAscii.empty() ? "" : " ") + ids;
        }
    }

    // The wizard writes the id and the copied values into the host's localquerydictcfg.ini.
    // A host that keeps that file in a Western ANSI code page cannot hold other characters,
    // and the wizard refuses to register what the file would turn into '?'. That depends on
    // the user's machine, not on this folder, so the row's verdict stays as it is.
    void JudgeCodePage(const std::wstring& id, const std::wstring& name, const std::string& ids) {
        std::vector<std::string> lacking;
        if (!TextFitsCodePage(id, WESTERN_ANSI_CODE_PAGE)) lacking.push_back("the id");
        wchar_t value[CFG_VALUE_UNITS] = {};
        for (const wchar_t* key : CFG_COPIED_KEYS) {
            if (!m_haveConfig) break;
            GetPrivateProfileStringW(id.c_str(), key, L"", value, CFG_VALUE_UNITS, m_configPath.c_str());
            if (!TextFitsCodePage(value, WESTERN_ANSI_CODE_PAGE)) lacking.push_back(U8(key));
        }
        if (lacking.empty()) return;
        std::string list;
        for (size_t i = 0; i < lacking.size(); ++i)
            list += (i == 0 ? "" : i + 1 == lacking.size() ? " and " : ", ") + lacking[i];
        Report(false, U8(DICT_CONFIG_FILE_NAME), ids,
               list + " hold characters that code page " + Num(WESTERN_ANSI_CODE_PAGE) +
                   " cannot hold: where the host keeps its localquerydictcfg.ini in a Western ANSI code page (no "
                   "UTF-16 byte-order mark), registering " + Quoted(name) +
                   " fails; a host file saved as UTF-16 LE holds them",
               nullptr);
    }

    void JudgePicture(const std::wstring& id, const std::wstring& name, const std::string& ids, IdState& state) {
        const std::wstring piece = PACKAGE_IMAGE_PIECE;
        const std::wstring relative = piece.substr(1) + id + DICT_IMAGE_EXTENSION;
        const std::wstring path = m_dir + piece + id + DICT_IMAGE_EXTENSION;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            state.picture = "none";
            state.pictureWarning = true;
            Report(false, U8(relative), ids, "missing: the host shows " + Quoted(name) + " without its picture",
                   nullptr);
            return;
        }
        const std::string problem = PictureProblem(path);
        if (problem.empty()) {
            state.picture = "ok";
            return;
        }
        state.picture = "unreadable";
        state.pictureError = true;
        Report(true, U8(relative), ids, problem + ": the host is given a picture of " + Quoted(name) + " that it cannot show",
               nullptr);
    }

    std::wstring m_dir;
    std::wstring m_configPath;
    bool m_haveConfig = false, m_configUtf16 = false;
    std::string m_nonAscii;  // the ids whose values an ANSI file may lose
    FolderVersionLibrary m_library;
    std::vector<Row> m_rows;
    std::vector<std::string> m_problems;
    std::vector<std::string> m_entryLines;  // what the entry in the list of installed apps shows
    std::vector<std::wstring> m_entryNames;  // every entry's display name, in order
    std::wstring m_newestDate;
    int m_errors = 0, m_warnings = 0;
    std::map<std::wstring, IdState> m_ids;
    std::vector<Target> m_targets;
};

}  // namespace

bool CheckFolder(const std::wstring& dir, const std::string& shownAs, std::string& out, std::string& err,
                 CheckCounts& counts) {
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        err += "dictpack: cannot read folder " + shownAs + "\n";
        return false;
    }
    std::wstring trimmed = dir;
    while (trimmed.size() > 3 && (trimmed.back() == L'\\' || trimmed.back() == L'/')) trimmed.pop_back();
    Checker checker(trimmed);
    checker.Run();
    checker.Write(out, shownAs, counts);
    return true;
}

int RunCheck(const std::vector<std::string>& args, std::string& out, std::string& err) {
    if (args.size() != 1) {
        err += "dictpack: check takes one DIR\n" + UsageText();
        return EXIT_BAD_USAGE;
    }
    std::wstring dir;
    if (!Utf8ToUtf16(args[0], dir)) {
        err += "dictpack: the folder name is not valid UTF-8\n";
        return EXIT_FAILED;
    }
    CheckCounts counts;
    if (!CheckFolder(dir, args[0], out, err, counts)) return EXIT_FAILED;
    return counts.errors ? EXIT_FAILED : EXIT_OK;
}

}  // namespace dictpack
