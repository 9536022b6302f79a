// dictpack setup: a whole setup folder from manifests. Everything is made in OUTDIR.part,
// checked there, and renamed to OUTDIR only when check finds no error, so a failed setup
// leaves nothing behind.
#include <windows.h>

#include <map>
#include <optional>

#include "base/ScopedWin.h"
#include "dictver/DictDate.h"
#include "host/HostPaths.h"
#include "install/InstallEngine.h"
#include "install/SetupIdentity.h"
#include "package/EntryNames.h"
#include "package/LocalScan.h"
#include "package/VersionLibrary.h"
#include "tools/dictpack/DictPackCore.h"
#include "tools/dictpack/SetupFolder.h"
#include "tools/dictpack/Utf.h"

namespace dictpack {
namespace {

std::string U8(const std::wstring& text) { return Utf16ToUtf8(text); }
std::wstring Wide(const std::string& text) {
    std::wstring wide;
    Utf8ToUtf16(text, wide);
    return wide;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    full.resize(length < needed ? length : 0);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ToolDir() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : DirectoryOf(std::wstring(path, length));
}

bool IsEmptyDirectory(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (!find) return true;
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) return false;
    } while (FindNextFileW(find.get(), &data));
    return true;
}

// Only for the staging folder, which this run made itself.
void RemoveStaging(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    qb::ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = dir + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveStaging(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    RemoveDirectoryW(dir.c_str());
}

struct Dictionary {
    std::string where;  // manifest and line of its section
    std::string id;
    std::map<std::string, std::string> values;  // by manifest key; paths already resolved
    std::string manifest;
    std::map<std::string, size_t> lines;        // by manifest key: the line that gives it
    std::map<std::string, std::string> given;   // by manifest key: the value as written

    // The manifest, the line and the key with its value as the publisher wrote them.
    std::string At(const std::string& key) const {
        return manifest + " line " + std::to_string(lines.at(key)) + ": " + key + " = " + given.at(key);
    }
};

struct Manifest {
    std::optional<std::string> exe, library;
    std::optional<std::string> setupId, displayName, publisher;
    std::vector<Dictionary> dictionaries;
};

bool IsCopiedKey(const std::string& key) {
    for (const wchar_t* copied : CFG_COPIED_KEYS)
        if (U8(copied) == key) return true;
    return false;
}

class Setup {
public:
    Setup(std::string& out, std::string& err) : m_out(out), m_err(err) {}

    int Run(const std::vector<std::string>& args) {
        if (args.size() < 2) {
            m_err += "dictpack: setup takes OUTDIR and at least one MANIFEST\n" + UsageText();
            return EXIT_BAD_USAGE;
        }
        for (size_t i = 1; i < args.size(); ++i)
            if (!ReadManifest(args[i])) return EXIT_FAILED;
        if (m_manifest.dictionaries.empty()) return Fail("the manifests describe no dictionary");
        for (const Dictionary& dictionary : m_manifest.dictionaries)
            if (!dictionary.values.count(MANIFEST_KEY_FILE))
                return Fail(dictionary.where + ": [" MANIFEST_DICTIONARY_SECTION " " + dictionary.id + "] has no " +
                            MANIFEST_KEY_FILE);

        if (!CheckNames()) return EXIT_FAILED;
        for (const Dictionary& dictionary : m_manifest.dictionaries)
            if (!CheckSources(dictionary)) return EXIT_FAILED;

        std::wstring outDir;
        if (!Utf8ToUtf16(args[0], outDir) || outDir.empty()) return Fail("the OUTDIR name is not valid UTF-8");
        outDir = FullPath(outDir);
        const DWORD attributes = GetFileAttributesW(outDir.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || !IsEmptyDirectory(outDir)))
            return Fail(args[0] + " already exists; setup makes a new folder");
        if (attributes == INVALID_FILE_ATTRIBUTES && !CheckParent(outDir, args[0])) return EXIT_FAILED;
        const std::wstring staging = outDir + Wide(PARTIAL_SUFFIX);
        if (!CreateDirectoryW(staging.c_str(), nullptr)) {
            const DWORD code = GetLastError();
            return Fail("cannot make " + U8(staging) + ": " + SystemErrorText(code) +
                        (code == ERROR_ALREADY_EXISTS ? " (left by an interrupted setup? remove it)" : ""));
        }

        const int result = Build(staging, args[0]);
        if (result != EXIT_OK) {
            RemoveStaging(staging);
            return result;
        }
        if (attributes != INVALID_FILE_ATTRIBUTES) RemoveDirectoryW(outDir.c_str());
        if (!MoveFileW(staging.c_str(), outDir.c_str())) {
            const DWORD code = GetLastError();
            RemoveStaging(staging);
            return Fail("cannot rename " + U8(staging) + " to " + args[0] + ": " + SystemErrorText(code));
        }
        m_out += "setup: made " + args[0] + "\n";
        m_err += m_warnings;
        return EXIT_OK;
    }

private:
    int Fail(const std::string& message) {
        m_err += "dictpack: " + message + "\n";
        return EXIT_FAILED;
    }
    bool Refuse(const std::string& message) {
        Fail(message);
        return false;
    }
    // Held back until setup succeeds, so a failed setup prints only its error line.
    void Warn(const std::string& message) { m_warnings += "dictpack: warning: " + message + "\n"; }

    // OUTDIR's parent must be a folder already: setup makes one folder, not a path.
    bool CheckParent(const std::wstring& outDir, const std::string& shownAs) {
        std::wstring parent = DirectoryOf(outDir);
        if (parent.size() > 3 && parent.back() == L'\\') parent.pop_back();
        if (parent.empty()) return true;
        const DWORD attributes = GetFileAttributesW(parent.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return Refuse("cannot make " + shownAs + ": its parent folder " + U8(parent) + " does not exist (" +
                          SystemErrorText(GetLastError()) + "); make it first");
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Refuse("cannot make " + shownAs + ": " + U8(parent) + " is a file, not a folder");
        return true;
    }

    // Sections [wizard] and [dictionary ID] of "key = value" lines; see docs/dictpack.md.
    bool ReadManifest(const std::string& path) {
        std::wstring widePath;
        if (!Utf8ToUtf16(path, widePath)) return Refuse("the manifest name is not valid UTF-8");
        qb::ScopedHandle file(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                          nullptr));
        if (!file) return Refuse("cannot open manifest " + path + ": " + SystemErrorText(GetLastError()));
        std::string text;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
        const std::string encoding = ManifestEncodingProblem(text);
        if (!encoding.empty()) return Refuse("manifest " + path + " " + encoding);
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
        const std::wstring base = DirectoryOf(FullPath(widePath));

        Dictionary* dictionary = nullptr;
        bool inWizard = false;
        const std::vector<std::string> lines = ManifestLines(text);
        for (size_t index = 0; index < lines.size(); ++index) {
            const std::string line = Trim(lines[index]);
            const size_t lineNumber = index + 1;
            const std::string where = path + " line " + std::to_string(lineNumber);
            if (line.empty() || line[0] == '#' || line[0] == ';') continue;
            if (line[0] == '[') {
                if (line.back() != ']') return Refuse(where + ": a section name ends with ]");
                const std::string name = Trim(line.substr(1, line.size() - 2));
                dictionary = nullptr;
                inWizard = name == MANIFEST_WIZARD_SECTION;
                if (inWizard) {
                    if (!m_wizardWhere.empty())
                        return Refuse(where + ": a second [" MANIFEST_WIZARD_SECTION "] section (the first is at " +
                                      m_wizardWhere + "); give [" MANIFEST_WIZARD_SECTION
                                      "] once over all manifests");
                    m_wizardWhere = where;
                    continue;
                }
                const std::string prefix = MANIFEST_DICTIONARY_SECTION " ";
                if (name.compare(0, prefix.size(), prefix) != 0 || Trim(name.substr(prefix.size())).empty())
                    return Refuse(where + ": unknown section [" + name + "] (expected [" MANIFEST_WIZARD_SECTION
                                "] or [" MANIFEST_DICTIONARY_SECTION " ID])");
                const std::string id = Trim(name.substr(prefix.size()));
                for (const Dictionary& earlier : m_manifest.dictionaries)
                    if (SameName(Wide(earlier.id), Wide(id)))
                        return Refuse(where + ": dictionary " + id + " is described twice (first at " + earlier.where +
                                    ")");
                m_manifest.dictionaries.push_back(Dictionary{where, id, {}, path, {}, {}});
                dictionary = &m_manifest.dictionaries.back();
                continue;
            }
            const size_t equals = line.find('=');
            if (equals == std::string::npos) return Refuse(where + ": expected key = value");
            const std::string key = Trim(line.substr(0, equals));
            const std::string value = Trim(line.substr(equals + 1));
            if (inWizard) {
                const bool isPath = key == MANIFEST_KEY_EXE || key == MANIFEST_KEY_LIBRARY;
                std::optional<std::string>* slot = key == MANIFEST_KEY_EXE            ? &m_manifest.exe
                                                 : key == MANIFEST_KEY_LIBRARY      ? &m_manifest.library
                                                 : key == MANIFEST_KEY_SETUP_ID     ? &m_manifest.setupId
                                                 : key == MANIFEST_KEY_DISPLAY_NAME ? &m_manifest.displayName
                                                 : key == MANIFEST_KEY_PUBLISHER    ? &m_manifest.publisher
                                                                                    : nullptr;
                if (slot == nullptr) return Refuse(where + ": unknown key '" + key + "' in [" MANIFEST_WIZARD_SECTION "]");
                if (slot->has_value()) return Refuse(where + ": " + key + " given twice");
                if (value.empty()) return Refuse(where + ": " + key + " has no value");
                if (key == MANIFEST_KEY_SETUP_ID && !IsSafeSetupId(Wide(value)))
                    return Refuse(where + ": " MANIFEST_KEY_SETUP_ID " '" + value + "' is not at most " +
                                  std::to_string(SETUP_ID_MAX_UNITS) + SETUP_ID_RULE_TEXT);
                if (!isPath && Wide(value).size() > SETUP_TEXT_MAX_UNITS)
                    return Refuse(where + ": " + key + " is longer than " + std::to_string(SETUP_TEXT_MAX_UNITS) +
                                  " characters");
                *slot = isPath ? Resolve(base, value) : value;
                continue;
            }
            if (dictionary == nullptr) return Refuse(where + ": a key outside any section");
            const bool toolKey = key == MANIFEST_KEY_FILE || key == MANIFEST_KEY_PACKAGE || key == MANIFEST_KEY_EXT ||
                                 key == MANIFEST_KEY_DATE || key == MANIFEST_KEY_NAME || key == MANIFEST_KEY_PICTURE;
            if (!toolKey && !IsCopiedKey(key)) return Refuse(where + ": unknown key '" + key + "'");
            if (dictionary->values.count(key)) return Refuse(where + ": " + key + " given twice");
            if (value.empty()) continue;  // as if not given
            const std::string problem = ValueProblem(key, value);
            if (!problem.empty()) return Refuse(where + ": " + key + " = " + value + " " + problem);
            const bool isPath = key == MANIFEST_KEY_FILE || key == MANIFEST_KEY_PICTURE;
            dictionary->values[key] = isPath ? Resolve(base, value) : value;
            dictionary->lines[key] = lineNumber;
            dictionary->given[key] = value;
        }
        return true;
    }

    // The package a dictionary goes in, as named in the setup folder.
    static std::wstring PackageName(const Dictionary& dictionary) {
        const auto given = dictionary.values.find(MANIFEST_KEY_PACKAGE);
        return given != dictionary.values.end() ? Wide(given->second) : Wide(dictionary.id) + PACKAGE_FILE_EXTENSION;
    }

    // The extension an entry installs under: the manifest's, else the file's own.
    static std::wstring EntryExtension(const Dictionary& dictionary) {
        const auto given = dictionary.values.find(MANIFEST_KEY_EXT);
        if (given != dictionary.values.end()) return Wide(given->second);
        const std::wstring file = Wide(dictionary.values.at(MANIFEST_KEY_FILE));
        const size_t slash = file.find_last_of(L"\\/");
        const std::wstring name = slash == std::wstring::npos ? file : file.substr(slash + 1);
        const size_t dot = name.find_last_of(L'.');
        return dot == std::wstring::npos || dot == 0 ? std::wstring() : name.substr(dot);
    }

    // Every name that becomes a file in the setup folder or on the user's machine (the
    // package, the picture under the id, the entry under id and extension) is judged by the
    // wizard's own rule, and the wizard to ship must be a program, before anything is written.
    bool CheckNames() {
        const std::wstring suffix = PACKAGE_FILE_EXTENSION;
        for (const Dictionary& dictionary : m_manifest.dictionaries) {
            const std::string section = dictionary.where + ": [" MANIFEST_DICTIONARY_SECTION " " + dictionary.id + "]: ";
            const std::wstring id = Wide(dictionary.id), lowered = LowerAscii(id), ext = EntryExtension(dictionary);
            if (id.size() >= DICT_ID_UNITS)
                return Refuse(section + "the id is longer than " + std::to_string(DICT_ID_UNITS - 1) + " characters");
            if (!IsSafeEntryName(lowered, DICT_IMAGE_EXTENSION))
                return Refuse(section + "the id is not a plain file name (its picture would be " +
                              U8(lowered + DICT_IMAGE_EXTENSION) + ")");
            if (ext.size() >= FILE_EXT_UNITS)
                return Refuse(section + MANIFEST_KEY_EXT " '" + U8(ext) + "' is longer than " +
                              std::to_string(FILE_EXT_UNITS - 1) + " characters");
            if (!IsSafeEntryName(lowered, LowerAscii(ext)))
                return Refuse(section + "it would install to '" + U8(id + ext) +
                              "', not a plain file in the dictionary data directory");
            const std::wstring package = PackageName(dictionary);
            const bool dirName =
                package.size() > suffix.size() && SameName(package.substr(package.size() - suffix.size()), suffix);
            if (!dirName || !IsSafeEntryName(package.substr(0, package.size() - suffix.size()), suffix))
                return Refuse(section + "package '" + U8(package) + "' is not a plain file name ending in " + U8(suffix));
        }
        const std::string exe = WizardSource();
        const std::string program = WizardProgramProblem(Wide(exe));
        if (!program.empty()) return Refuse("the wizard " + exe + ": " + program);
        return true;
    }

    // What a dictionary's date or display name cannot be, judged as the line is read.
    static std::string ValueProblem(const std::string& key, const std::string& value) {
        if (key == MANIFEST_KEY_DATE) {
            const std::string problem = DateTextProblem(value);
            if (!problem.empty()) return problem;
            if (value.size() + 1 > DATE_TEXT_UNITS)
                return "has a time of day: a package carries the date only, as YYYY-MM-DD";
        }
        if (key == MANIFEST_KEY_NAME && Wide(value).size() + 1 > DISPLAY_NAME_UNITS)
            return "is longer than " + std::to_string(DISPLAY_NAME_UNITS - 1) + " characters";
        return std::string();
    }

    // The dictionary file and its picture, read before anything is made: the file is there
    // and readable, its version stamp sound and of the date the section gives; the picture
    // is one the host can show.
    bool CheckSources(const Dictionary& dictionary) {
        const std::string fileAt = dictionary.At(MANIFEST_KEY_FILE);
        const std::wstring path = Wide(dictionary.values.at(MANIFEST_KEY_FILE));
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return Refuse(fileAt + ": cannot open " + U8(path) + ": " + SystemErrorText(GetLastError()));
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Refuse(fileAt + ": " + U8(path) + " is a folder, not a file");
        qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size{};
        if (!file || !GetFileSizeEx(file.get(), &size))
            return Refuse(fileAt + ": cannot open " + U8(path) + ": " + SystemErrorText(GetLastError()));
        if (size.QuadPart == 0)
            Warn(fileAt + " is empty (0 bytes): the host gets a dictionary file without a word in it");

        unsigned char trailer[DICT_STAMP_SIZE] = {};
        DWORD got = 0;
        LARGE_INTEGER at;
        at.QuadPart = size.QuadPart - static_cast<LONGLONG>(DICT_STAMP_SIZE);
        const bool read = size.QuadPart >= static_cast<LONGLONG>(DICT_STAMP_SIZE) &&
                          SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) &&
                          ReadFile(file.get(), trailer, sizeof trailer, &got, nullptr) && got == sizeof trailer;
        std::string stampText;
        DictSystemTime stamp{};
        const bool stamped = read && ReadStampTrailer(trailer, stampText, stamp);
        if (read && HasStampMagic(trailer) && !stamped)
            return Refuse(fileAt + ": its version stamp (the last " + std::to_string(DICT_STAMP_SIZE) +
                          " bytes) is damaged; write a new one with dictpack stamp");
        const auto date = dictionary.values.find(MANIFEST_KEY_DATE);
        if (date != dictionary.values.end()) {
            DictSystemTime given{};
            ParseDateText(date->second, given);
            if (stamped && CompareDictDates(given, stamp) != 0)
                return Refuse(dictionary.At(MANIFEST_KEY_DATE) + " differs from the version stamp " + stampText +
                              " that file = " + dictionary.given.at(MANIFEST_KEY_FILE) + " (line " +
                              std::to_string(dictionary.lines.at(MANIFEST_KEY_FILE)) +
                              ") carries; give the stamp's date, or re-stamp the file with dictpack stamp");
        } else if (!stamped) {
            return Refuse(fileAt + " carries no version stamp, and [" MANIFEST_DICTIONARY_SECTION " " + dictionary.id +
                          "] (" + dictionary.where + ") gives no " MANIFEST_KEY_DATE " =; add " MANIFEST_KEY_DATE
                          " = YYYY-MM-DD to it");
        } else if (stampText.size() + 1 > DATE_TEXT_UNITS) {
            return Refuse(fileAt + " carries the version stamp " + stampText +
                          " with a time of day; a package carries the date only: re-stamp the file with dictpack "
                          "stamp FILE YYYY-MM-DD, or give " MANIFEST_KEY_DATE " =");
        }

        const auto picture = dictionary.values.find(MANIFEST_KEY_PICTURE);
        if (picture == dictionary.values.end()) return true;
        const std::string problem = PictureProblem(Wide(picture->second));
        if (!problem.empty()) return Refuse(dictionary.At(MANIFEST_KEY_PICTURE) + ": " + problem);
        return true;
    }

    std::string WizardSource() const { return m_manifest.exe.value_or(U8(ToolDir() + WIZARD_EXE_NAME)); }

    static std::string Resolve(const std::wstring& base, const std::string& value) {
        const std::wstring wide = Wide(value);
        const bool absolute = (!wide.empty() && (wide[0] == L'\\' || wide[0] == L'/')) ||
                              (wide.size() >= 2 && wide[1] == L':');
        return U8(absolute ? wide : base + wide);
    }

    bool Copy(const std::string& from, const std::wstring& to, const std::string& what) {
        if (CopyFileW(Wide(from).c_str(), to.c_str(), TRUE)) return true;
        Fail("cannot copy " + what + " " + from + ": " + SystemErrorText(GetLastError()));
        return false;
    }

    int Build(const std::wstring& staging, const std::string& shownAs) {
        const std::wstring toolDir = ToolDir();
        if (!Copy(WizardSource(), staging + L"\\" WIZARD_EXE_NAME, "the wizard") ||
            !Copy(m_manifest.library.value_or(U8(toolDir + VERSION_LIBRARY_NAME)), staging + L"\\" VERSION_LIBRARY_NAME,
                  "the version library"))
            return EXIT_FAILED;

        const std::wstring images = staging + PACKAGE_IMAGE_PIECE;
        if (!CreateDirectoryW(images.c_str(), nullptr))
            return Fail("cannot make " + U8(images) + ": " + SystemErrorText(GetLastError()));
        std::wstring config = L"\xFEFF";
        for (const Dictionary& dictionary : m_manifest.dictionaries) {
            // The wizard looks for the section and the picture under the id it lowered.
            const std::wstring id = LowerAscii(Wide(dictionary.id));
            config += L"[" + id + L"]\r\n";
            for (const wchar_t* key : CFG_COPIED_KEYS) {
                const auto value = dictionary.values.find(U8(key));
                if (value != dictionary.values.end()) config += std::wstring(key) + L"=" + Wide(value->second) + L"\r\n";
            }
            config += L"\r\n";
            const auto picture = dictionary.values.find(MANIFEST_KEY_PICTURE);
            if (picture != dictionary.values.end() &&
                !CopyFileW(Wide(picture->second).c_str(), (images + id + DICT_IMAGE_EXTENSION).c_str(), TRUE))
                return Fail(dictionary.At(MANIFEST_KEY_PICTURE) + ": cannot copy " + picture->second + ": " +
                            SystemErrorText(GetLastError()));
        }
        if (!WriteConfig(staging + L"\\" DICT_CONFIG_FILE_NAME, config)) return EXIT_FAILED;
        // What the list of installed apps shows, read by the wizard from beside itself.
        if (m_manifest.setupId || m_manifest.displayName || m_manifest.publisher) {
            std::wstring info = L"\xFEFF[" SETUP_INFO_SECTION L"]\r\n";
            const std::pair<const wchar_t*, const std::optional<std::string>*> keys[] = {
                {SETUP_KEY_ID, &m_manifest.setupId},
                {SETUP_KEY_DISPLAY_NAME, &m_manifest.displayName},
                {SETUP_KEY_PUBLISHER, &m_manifest.publisher}};
            for (const auto& key : keys)
                if (key.second->has_value()) info += std::wstring(key.first) + L"=" + Wide(**key.second) + L"\r\n";
            if (!WriteConfig(staging + L"\\" SETUP_INFO_FILE_NAME, info)) return EXIT_FAILED;
        }

        const int packed = BuildPackages(staging);
        if (packed != EXIT_OK) return packed;

        CheckCounts counts;
        if (!CheckFolder(staging, shownAs, m_out, m_err, counts)) return EXIT_FAILED;
        if (counts.errors)
            return Fail("setup: check found " + std::to_string(counts.errors) + (counts.errors == 1 ? " error" : " errors") +
                        " in the folder; nothing was made at " + shownAs);
        return EXIT_OK;
    }

    // UTF-16LE with its byte-order mark, the one encoding in which the profile functions
    // keep every character of a value.
    bool WriteConfig(const std::wstring& path, const std::wstring& text) {
        qb::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                          nullptr));
        const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        DWORD written = 0;
        if (!file || !WriteFile(file.get(), text.data(), size, &written, nullptr) || written != size)
            return Refuse("cannot write " + U8(path) + ": " + SystemErrorText(GetLastError()));
        return true;
    }

    // One package per distinct package name, in the order the manifests first name it, its
    // entries in manifest order; every entry carries a version stamp with its date.
    int BuildPackages(const std::wstring& staging) {
        std::vector<std::pair<std::wstring, std::vector<const Dictionary*>>> packages;
        for (const Dictionary& dictionary : m_manifest.dictionaries) {
            const std::wstring name = PackageName(dictionary);
            auto package = packages.begin();
            while (package != packages.end() && !SameName(package->first, name)) ++package;
            if (package == packages.end()) package = packages.insert(packages.end(), {name, {}});
            package->second.push_back(&dictionary);
        }
        for (const auto& package : packages) {
            std::vector<std::string> args = {"create", U8(staging + L"\\" + package.first)};
            for (const Dictionary* dictionary : package.second) {
                args.insert(args.end(), {"--id", dictionary->id});
                const char* const options[][2] = {
                    {"--ext", MANIFEST_KEY_EXT}, {"--date", MANIFEST_KEY_DATE}, {"--name", MANIFEST_KEY_NAME}};
                for (const auto& option : options) {
                    const auto value = dictionary->values.find(option[1]);
                    if (value != dictionary->values.end()) args.insert(args.end(), {option[0], value->second});
                }
                // The path is a full one, never taken for an option.
                args.insert(args.end(), {"--stamp", dictionary->values.at(MANIFEST_KEY_FILE)});
            }
            // The check that follows reports everything create would warn about.
            std::string out, err;
            const int result = dictpack::Run(args, out, err);
            if (result != EXIT_OK) {
                std::string line = err.substr(0, err.find('\n'));
                const std::string prefix = "dictpack: ";
                if (line.compare(0, prefix.size(), prefix) == 0) line.erase(0, prefix.size());
                Fail("cannot build " + U8(package.first) + " (first described at " + package.second.front()->where +
                     "): " + line);
                return EXIT_FAILED;
            }
        }
        return EXIT_OK;
    }

    std::string& m_out;
    std::string& m_err;
    std::string m_warnings;
    std::string m_wizardWhere;  // manifest and line of the [wizard] section, once read
    Manifest m_manifest;
};

}  // namespace

int RunSetup(const std::vector<std::string>& args, std::string& out, std::string& err) {
    Setup setup(out, err);
    return setup.Run(args);
}

}  // namespace dictpack
