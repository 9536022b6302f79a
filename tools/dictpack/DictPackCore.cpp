#include "tools/dictpack/DictPackCore.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

#include "dictver/DictDate.h"
#include "package/EntryNames.h"
#include "package/LocalScan.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "tools/dictpack/DictPackFiles.h"
#include "tools/dictpack/Utf.h"

namespace dictpack {
namespace {

const char* const kUsage =
    "usage: dictpack create OUT.dir [--no-seal] [--manifest LIST] [--id ID] [--ext EXT] [--date DATE] [--name NAME] [--stamp] FILE...\n"
    "       dictpack seal PKG.dir\n"
    "       dictpack stamp FILE DATE\n"
    "       dictpack list PKG.dir\n"
    "       dictpack verify PKG.dir\n"
    "       dictpack extract PKG.dir DIR\n"
    "       dictpack check DIR\n"
    "       dictpack setup OUTDIR MANIFEST...\n"
    "--id, --ext, --date, --name and --stamp apply to the next FILE; --no-seal leaves the seal out of the package.\n"
    "DATE is YYYY-MM-DD (or YYYY-MM-DD hh:mm:ss for stamp).\n";

// Closes on every path out of a command.
struct FileCloser {
    FILE* file = nullptr;
    explicit FileCloser(FILE* f) : file(f) {}
    ~FileCloser() { Close(); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    bool Close() {
        const bool ok = file == nullptr || std::fclose(file) == 0;
        file = nullptr;
        return ok;
    }
};

std::string Num(uint64_t value) { return std::to_string(value); }

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Reads the last DICT_STAMP_SIZE bytes; false when the file is shorter or cannot be read.
bool ReadTrailer(FILE* file, int64_t size, unsigned char (&trailer)[DICT_STAMP_SIZE]) {
    if (size < static_cast<int64_t>(DICT_STAMP_SIZE)) return false;
    return SeekTo(file, size - static_cast<int64_t>(DICT_STAMP_SIZE)) &&
           std::fread(trailer, 1, DICT_STAMP_SIZE, file) == DICT_STAMP_SIZE;
}

class Tool {
public:
    Tool(std::string& out, std::string& err) : m_out(out), m_err(err) {}

    int Run(const std::vector<std::string>& args) {
        if (args.empty()) return Usage("no command given");
        const std::string& command = args[0];
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (command == "help" || command == "--help" || command == "-h") {
            m_out += kUsage;
            return EXIT_OK;
        }
        if (command == "create") return Create(rest);
        if (command == "seal") return rest.size() == 1 ? Seal(rest[0]) : Usage("seal takes one PKG.dir");
        if (command == "stamp") return rest.size() == 2 ? Stamp(rest[0], rest[1]) : Usage("stamp takes FILE and DATE");
        if (command == "list") return rest.size() == 1 ? List(rest[0]) : Usage("list takes one PKG.dir");
        if (command == "verify") return rest.size() == 1 ? Verify(rest[0]) : Usage("verify takes one PKG.dir");
        if (command == "extract") return rest.size() == 2 ? Extract(rest[0], rest[1]) : Usage("extract takes PKG.dir and DIR");
        // They read a setup folder through Windows' own functions, as the wizard does.
        if (command == "check" || command == "setup") return Fail(command + " needs Windows: run dictpack.exe");
        return Usage("unknown command '" + command + "'");
    }

private:
    struct Input {
        std::string path;
        std::optional<std::string> id, ext, date, name;
        bool stamp = false;      // an unstamped file's entry gets a stamp with the date
        bool inManifest = false;  // --stamp cannot reach it
    };

    struct Entry {
        std::string path;
        int64_t fileSize = 0;
        bool appendStamp = false;  // the file carries no stamp: the entry gets one with its date
        PackageEntrySpec spec;
    };

    int Usage(const std::string& message) {
        m_err += "dictpack: " + message + "\n" + kUsage;
        return EXIT_BAD_USAGE;
    }
    int Fail(const std::string& message) {
        m_err += "dictpack: " + message + "\n";
        return EXIT_FAILED;
    }
    // Held back until the command succeeds, so a refusal stays one line.
    void Warn(const std::string& message) { m_warnings += "dictpack: warning: " + message + "\n"; }
    void ShowWarnings() {
        m_err += m_warnings;
        m_warnings.clear();
    }

    // ---- create ----

    int Create(const std::vector<std::string>& args) {
        if (args.empty()) return Usage("create takes OUT.dir and at least one FILE");
        const std::string outPath = args[0];
        std::vector<Input> inputs;
        Input pending;
        bool pendingOptions = false, optionsEnded = false, seal = true;
        for (size_t i = 1; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (!optionsEnded && arg == "--") {
                optionsEnded = true;
                continue;
            }
            if (!optionsEnded && arg == "--no-seal") {
                if (!seal) return Usage("--no-seal given twice");
                seal = false;
                continue;
            }
            if (!optionsEnded && arg == "--stamp") {
                if (pending.stamp) return Usage("--stamp given twice for one FILE");
                pending.stamp = pendingOptions = true;
                continue;
            }
            if (!optionsEnded && arg.compare(0, 2, "--") == 0) {
                std::optional<std::string>* slot = arg == "--id" ? &pending.id
                                                 : arg == "--ext" ? &pending.ext
                                                 : arg == "--date" ? &pending.date
                                                 : arg == "--name" ? &pending.name : nullptr;
                if (slot == nullptr && arg != "--manifest") return Usage("unknown option '" + arg + "'");
                if (i + 1 >= args.size()) return Usage(arg + " needs a value");
                const std::string& value = args[++i];
                if (arg == "--manifest") {
                    if (pendingOptions) return Usage("--manifest follows options that wait for a FILE");
                    const int result = ReadManifest(value, inputs);
                    if (result != EXIT_OK) return result;
                    continue;
                }
                if (slot->has_value()) return Usage(arg + " given twice for one FILE");
                *slot = value;
                pendingOptions = true;
                continue;
            }
            pending.path = arg;
            inputs.push_back(pending);
            pending = Input();
            pendingOptions = false;
        }
        if (pendingOptions) return Usage("options at the end apply to no FILE");
        if (inputs.empty()) return Usage("create needs at least one FILE");

        std::vector<Entry> entries;
        std::set<std::string> names;
        int64_t end = PACKAGE_HEADER_SIZE + static_cast<int64_t>(inputs.size()) * PACKAGE_RECORD_SIZE +
                      (seal ? static_cast<int64_t>(PackageSealSize(inputs.size())) : 0);
        for (const Input& input : inputs) {
            Entry entry;
            const int result = ResolveEntry(input, entry);
            if (result != EXIT_OK) return result;
            const std::string fileName = AsciiLower(Utf16ToUtf8(entry.spec.dictId + entry.spec.fileExt));
            if (!names.insert(fileName).second)
                return Fail(input.path + ": a second entry installs to " + fileName);
            end += entry.spec.size;
            if (end > PACKAGE_MAX_POSITION)
                return Fail(input.path + ": the package would reach past 2^31-1 bytes");
            entries.push_back(entry);
        }
        const int result = WritePackage(outPath, entries, seal);
        if (result == EXIT_OK) ShowWarnings();
        return result;
    }

    // One file a line: FILE, then optionally id, extension, date and name, separated by tabs;
    // an empty field keeps the default. Blank lines and lines starting with # are skipped.
    int ReadManifest(const std::string& path, std::vector<Input>& inputs) {
        FileCloser file(OpenFile(path, "rb"));
        if (file.file == nullptr) return Fail("cannot open manifest " + path);
        std::string text;
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file.file)) > 0) text.append(buffer, got);
        if (std::ferror(file.file)) return Fail("cannot read manifest " + path);
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
        const std::string encoding = ManifestEncodingProblem(text);
        if (!encoding.empty()) return Fail("manifest " + path + " " + encoding);

        const size_t slash = path.find_last_of("\\/");
        const std::string base = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        const std::vector<std::string> lines = ManifestLines(text);
        for (size_t index = 0; index < lines.size(); ++index) {
            const std::string& line = lines[index];
            const size_t lineNumber = index + 1;
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> fields;
            for (size_t from = 0;;) {
                const size_t tab = line.find('\t', from);
                fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
                if (tab == std::string::npos) break;
                from = tab + 1;
            }
            const std::string where = path + " line " + Num(lineNumber);
            if (fields.size() > 5) return Fail(where + ": more than 5 tab-separated fields");
            if (fields[0].empty()) return Fail(where + ": no FILE");
            Input input;
            input.inManifest = true;
            input.path = IsAbsolutePath(fields[0]) ? fields[0] : base + fields[0];
            std::optional<std::string>* slots[] = {&input.id, &input.ext, &input.date, &input.name};
            for (size_t k = 1; k < fields.size(); ++k)
                if (!fields[k].empty()) *slots[k - 1] = fields[k];
            inputs.push_back(input);
        }
        return EXIT_OK;
    }

    int CheckField(const std::string& path, const char* what, const std::wstring& value, size_t units) {
        if (value.size() + 1 > units)
            return Fail(path + ": " + what + " '" + Utf16ToUtf8(value) + "' is longer than " + Num(units - 1) +
                        " characters");
        return EXIT_OK;
    }

    int ResolveEntry(const Input& input, Entry& entry) {
        const std::string& path = input.path;
        entry.path = path;
        FileCloser file(OpenFile(path, "rb"));
        if (file.file == nullptr) return Fail("cannot open " + path);
        entry.fileSize = FileSize(file.file);
        if (entry.fileSize < 0) return Fail("cannot read " + path);

        std::optional<std::string> stampText;
        DictSystemTime stampDate{};
        unsigned char trailer[DICT_STAMP_SIZE];
        if (ReadTrailer(file.file, entry.fileSize, trailer) && HasStampMagic(trailer)) {
            std::string text;
            if (!ReadStampTrailer(trailer, text, stampDate))
                return Fail(path + ": damaged version stamp; write a new one with dictpack stamp");
            stampText = text;
        }

        const size_t slash = path.find_last_of("\\/");
        const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
        const size_t dot = fileName.find_last_of('.');
        const std::string stem = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
        const std::string ownExt = dot == std::string::npos || dot == 0 ? std::string() : fileName.substr(dot);

        std::wstring id, ext, name, date;
        if (!Utf8ToUtf16(input.id.value_or(stem), id) || !Utf8ToUtf16(input.ext.value_or(ownExt), ext) ||
            !Utf8ToUtf16(input.name.value_or(input.id.value_or(stem)), name))
            return Fail(path + ": a name is not valid UTF-8");
        if (id.empty()) return Fail(path + ": empty id");
        if (name.empty()) name = id;

        std::string dateText;
        if (input.date) {
            DictSystemTime given;
            if (!ParseDateText(*input.date, given))
                return Fail(path + ": '" + *input.date + "' " + DateTextProblem(*input.date));
            if (stampText && CompareDictDates(given, stampDate) != 0)
                return Fail(path + ": --date " + *input.date + " differs from the file's version stamp " + *stampText);
            dateText = *input.date;
        } else if (stampText) {
            dateText = *stampText;
        } else {
            return Fail(path + ": no version stamp in the file; give --date");
        }
        date.assign(dateText.begin(), dateText.end());

        int result;
        if ((result = CheckField(path, "id", id, DICT_ID_UNITS)) != EXIT_OK ||
            (result = CheckField(path, "extension", ext, FILE_EXT_UNITS)) != EXIT_OK ||
            (result = CheckField(path, "date", date, DATE_TEXT_UNITS)) != EXIT_OK ||
            (result = CheckField(path, "name", name, DISPLAY_NAME_UNITS)) != EXIT_OK)
            return result;
        if (!IsSafeEntryName(id, ext))
            return Fail(path + ": '" + Utf16ToUtf8(id + ext) + "' is not a plain file name");

        if (!IsDictExtension(ext))
            Warn(path + ": extension '" + Utf16ToUtf8(ext) + "' is neither .dic nor .dip; " +
                 OtherExtensionEffect(Utf16ToUtf8(id + ext)));
        entry.appendStamp = !stampText.has_value() && input.stamp;
        if (!stampText && !input.stamp)
            Warn(path + ": no version stamp; once installed it reports its install time as its date (run dictpack "
                        "stamp " + path + " " + dateText + (input.inManifest ? " first)" : " first, or pack it with --stamp)"));
        const int64_t size = entry.fileSize + (entry.appendStamp ? static_cast<int64_t>(DICT_STAMP_SIZE) : 0);
        if (size > PACKAGE_MAX_POSITION) return Fail(path + ": too big for a package");
        entry.spec.dictId = id;
        entry.spec.fileExt = ext;
        entry.spec.dateText = date;
        entry.spec.displayName = name;
        entry.spec.size = static_cast<uint32_t>(size);
        return EXIT_OK;
    }

    int WritePackage(const std::string& outPath, const std::vector<Entry>& entries, bool seal) {
        const std::string partPath = outPath + PARTIAL_SUFFIX;
        FileCloser out(OpenFile(partPath, "wb"));
        if (out.file == nullptr) return Fail("cannot write " + partPath);
        std::vector<PackageEntrySpec> specs;
        for (const Entry& entry : entries) specs.push_back(entry.spec);
        const std::string directory = BuildPackageDirectory(specs);
        std::string problem;
        if (std::fwrite(directory.data(), 1, directory.size(), out.file) != directory.size())
            problem = "cannot write " + partPath;
        std::vector<EntryDigest> digests(entries.size());
        for (size_t i = 0; i < entries.size() && problem.empty(); ++i) {
            CSha256 hash;
            problem = CopyEntry(entries[i], out.file, seal ? &hash : nullptr);
            if (problem.empty() && seal && !hash.Finish(digests[i])) problem = "cannot hash " + entries[i].path;
        }
        if (problem.empty() && seal) {
            const std::string sealBytes = BuildPackageSeal(directory, digests);
            if (sealBytes.empty()) problem = "cannot hash the package's directory";
            else if (std::fwrite(sealBytes.data(), 1, sealBytes.size(), out.file) != sealBytes.size())
                problem = "cannot write " + partPath;
        }
        if (problem.empty() && !FlushToDisk(out.file)) problem = "cannot write " + partPath;
        if (!out.Close() && problem.empty()) problem = "cannot write " + partPath;
        if (!problem.empty()) {
            RemoveFile(partPath);
            return Fail(problem);
        }
        if (!MoveOver(partPath, outPath)) {
            RemoveFile(partPath);
            return Fail("cannot replace " + outPath);
        }
        m_out += "created " + outPath + " with " + Num(entries.size()) + " entries, " + (seal ? "sealed" : "not sealed") + "\n";
        return EXIT_OK;
    }

    // Empty on success, else what went wrong. hash, when given, takes every byte written.
    std::string CopyEntry(const Entry& entry, FILE* out, CSha256* hash) {
        FileCloser in(OpenFile(entry.path, "rb"));
        if (in.file == nullptr) return "cannot open " + entry.path;
        std::vector<char> buffer(COPY_BUFFER_SIZE);
        int64_t left = entry.fileSize;
        while (left > 0) {
            const size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(buffer.size())));
            const size_t got = std::fread(buffer.data(), 1, want, in.file);
            if (got != want) return entry.path + " changed while it was packed";
            if (std::fwrite(buffer.data(), 1, got, out) != got) return "cannot write the package";
            if (hash != nullptr) hash->Update(buffer.data(), got);
            left -= static_cast<int64_t>(got);
        }
        if (std::fgetc(in.file) != EOF) return entry.path + " changed while it was packed";
        if (entry.appendStamp) {
            unsigned char trailer[DICT_STAMP_SIZE];
            BuildStampTrailer(Utf16ToUtf8(entry.spec.dateText), trailer);
            if (std::fwrite(trailer, 1, sizeof trailer, out) != sizeof trailer) return "cannot write the package";
            if (hash != nullptr) hash->Update(trailer, sizeof trailer);
        }
        return std::string();
    }

    // ---- stamp ----

    int Stamp(const std::string& path, const std::string& date) {
        unsigned char trailer[DICT_STAMP_SIZE];
        if (!BuildStampTrailer(date, trailer))
            return Fail("'" + date + "' is not a date (YYYY-MM-DD or YYYY-MM-DD hh:mm:ss)");
        FileCloser file(OpenFile(path, "r+b"));
        if (file.file == nullptr) return Fail("cannot open " + path + " for writing");
        const int64_t size = FileSize(file.file);
        if (size < 0) return Fail("cannot read " + path);
        unsigned char old[DICT_STAMP_SIZE];
        const bool replace = ReadTrailer(file.file, size, old) && HasStampMagic(old);
        const int64_t at = replace ? size - static_cast<int64_t>(DICT_STAMP_SIZE) : size;
        if (!SeekTo(file.file, at) || std::fwrite(trailer, 1, sizeof trailer, file.file) != sizeof trailer ||
            !file.Close())
            return Fail("cannot write " + path);
        m_out += (replace ? "restamped " : "stamped ") + path + " " + date + "\n";
        return EXIT_OK;
    }

    // ---- reading packages ----

    // Opens through the reader the wizard uses, so the tool and the wizard agree.
    bool OpenPackage(const std::string& path, CPackageReader& reader, std::string& problem) {
        if (reader.Open(ReaderPath(path).c_str())) return true;
        problem = WhyPackageRefused(path);
        return false;
    }

    static std::string EntryName(const PackageDirRecord& record) {
        return Utf16ToUtf8(FieldText(record.dictId) + FieldText(record.fileExt));
    }

    // The first thing in the directory that makes the package unsound; empty when none.
    // What the wizard accepts but handles poorly becomes a warning.
    std::string EntryProblem(const CPackageReader& reader, int64_t fileSize) {
        const auto& records = reader.records();
        for (size_t i = 0; i < records.size(); ++i) {
            const PackageDirRecord& record = records[i];
            const std::string where = "entry " + Num(i) + ": ";
            const std::wstring ext = FieldText(record.fileExt);
            if (!IsSafeEntryName(FieldText(record.dictId), ext))
                return where + "name '" + EntryName(record) + "' would leave the dictionary data directory";
            const std::string data = EntryDataProblem(reader.header(), record, fileSize);
            if (!data.empty()) return where + data;
            DictSystemTime date;
            const std::string dateText = Utf16ToUtf8(FieldText(record.dateText));
            if (!ParseDateUnits(FieldText(record.dateText).c_str(), date))
                Warn(where + "date '" + dateText + "' is not a date the version library accepts; the wizard "
                             "upgrades the entry on every run");
            if (!IsDictExtension(ext))
                Warn(where + "extension '" + Utf16ToUtf8(ext) + "' is neither .dic nor .dip; " +
                     OtherExtensionEffect(EntryName(record)));
        }
        return std::string();
    }

    int64_t SizeOf(const std::string& path) {
        FileCloser file(OpenFile(path, "rb"));
        return file.file == nullptr ? -1 : FileSize(file.file);
    }

    int List(const std::string& path) {
        CPackageReader reader;
        std::string problem;
        if (!OpenPackage(path, reader, problem)) return Fail(path + ": " + problem);
        const PackageHeader& header = reader.header();
        m_out += "magic " + Hex(header.magic) + "  version1 " + Num(header.version1) + "  version2 " +
                 Num(header.version2) + "  record size " + Num(header.recordSize) + "  records " +
                 Num(header.recordCount) + "  data base " + Num(header.dataBase) + "\n";
        m_out += reader.sealVersion() == PACKAGE_SEAL_WHOLE
                     ? "sealed: the SHA-256 of the header, the directory and every entry follows the data\n"
                 : reader.sealed() ? "sealed (old seal, of the entries only; dictpack seal renews it): the SHA-256 of "
                                     "every entry follows its data\n"
                                   : "not sealed\n";
        m_out += "index\toffset\tsize\tid\text\tdate\tname\n";
        const auto& records = reader.records();
        for (size_t i = 0; i < records.size(); ++i) {
            const PackageDirRecord& r = records[i];
            m_out += Num(i) + "\t" + Num(r.dataOffset) + "\t" + Num(r.dataSize) + "\t" +
                     Utf16ToUtf8(FieldText(r.dictId)) + "\t" + Utf16ToUtf8(FieldText(r.fileExt)) + "\t" +
                     Utf16ToUtf8(FieldText(r.dateText)) + "\t" + Utf16ToUtf8(FieldText(r.displayName)) + "\n";
        }
        return EXIT_OK;
    }

    int Verify(const std::string& path) {
        CPackageReader reader;
        std::string problem;
        if (OpenPackage(path, reader, problem)) problem = EntryProblem(reader, SizeOf(path));
        if (problem.empty() && reader.sealed()) {
            problem = SealMismatches(reader);
            if (!problem.empty()) problem += "; the wizard installs no entry that does not match";
        }
        if (!problem.empty()) {
            m_warnings.clear();
            return Fail(path + ": " + problem);
        }
        ShowWarnings();
        m_out += "ok\n";
        return EXIT_OK;
    }

    // Every entry whose bytes differ from its seal, as one phrase; empty when all match.
    std::string SealMismatches(CPackageReader& reader) {
        std::vector<std::string> names;
        for (uint32_t i = 0; i < reader.records().size(); ++i)
            if (!MatchesSeal(reader, i)) names.push_back(Num(i) + " (" + EntryName(reader.records()[i]) + ")");
        if (names.empty()) return std::string();
        std::string text = names.size() == 1 ? "entry " : "entries ";
        for (size_t k = 0; k < names.size(); ++k) text += (k ? ", " : "") + names[k];
        return text + (names.size() == 1 ? " does not match the seal: damaged since it was sealed"
                                         : " do not match the seal: damaged since they were sealed");
    }

    // ---- seal ----

    // An unsealed package gets its seal in a copy that replaces it only when complete and on
    // disk; so does one whose seal covers the entries only, its old seal left out of the copy.
    // A sealed one whose entries all match is left as it is; one that does not match is
    // refused, since sealing it again would vouch for the damage.
    int Seal(const std::string& path) {
        CPackageReader reader;
        std::string problem;
        const int64_t size = SizeOf(path);
        if (OpenPackage(path, reader, problem)) problem = EntryProblem(reader, size);
        if (problem.empty() && reader.sealed()) {
            problem = SealMismatches(reader);
            if (!problem.empty()) problem += "; not sealed again (make the package anew with dictpack create)";
        }
        if (!problem.empty()) {
            m_warnings.clear();
            return Fail(path + ": " + problem);
        }
        if (reader.sealVersion() == PACKAGE_SEAL_WHOLE) {
            ShowWarnings();
            m_out += path + " is already sealed and every entry matches its seal\n";
            return EXIT_OK;
        }
        const size_t count = reader.records().size();
        const bool upgrade = reader.sealed();
        std::vector<EntryDigest> oldDigests;
        for (uint32_t i = 0; upgrade && i < count; ++i) oldDigests.push_back(reader.digest(i));
        const int64_t keep = size - (upgrade ? static_cast<int64_t>(PackageSealSize(count, PACKAGE_SEAL_ENTRIES)) : 0);
        reader.Close();
        if (keep + static_cast<int64_t>(PackageSealSize(count)) > PACKAGE_MAX_POSITION)
            return Fail(path + ": the sealed package would reach past 2^31-1 bytes");
        const std::string partPath = path + PARTIAL_SUFFIX;
        problem = WriteSealedCopy(path, size, keep, oldDigests, partPath);
        if (!problem.empty()) {
            RemoveFile(partPath);
            return Fail(problem);
        }
        if (!MoveOver(partPath, path)) {
            RemoveFile(partPath);
            return Fail("cannot replace " + path);
        }
        ShowWarnings();
        m_out += (upgrade ? "resealed " : "sealed ") + path + " (" + Num(count) + " entries)" +
                 (upgrade ? ": the seal now covers its header and directory too" : "") + "\n";
        return EXIT_OK;
    }

    // Copies the first keep of the package's size bytes and seals the copy. oldDigests, when
    // not empty, are what the entries' digests must be. Empty on success, else what went wrong.
    std::string WriteSealedCopy(const std::string& path, int64_t size, int64_t keep,
                                const std::vector<EntryDigest>& oldDigests, const std::string& partPath) {
        const std::string changed = path + " changed while it was sealed";
        {
            FileCloser in(OpenFile(path, "rb"));
            FileCloser out(OpenFile(partPath, "wb"));
            if (in.file == nullptr) return "cannot open " + path;
            if (out.file == nullptr) return "cannot write " + partPath;
            std::vector<char> buffer(COPY_BUFFER_SIZE);
            for (int64_t done = 0; done < size;) {
                const size_t want = static_cast<size_t>(std::min<int64_t>(size - done, static_cast<int64_t>(buffer.size())));
                if (std::fread(buffer.data(), 1, want, in.file) != want) return changed;
                // The old seal is read to see that the file is still as long, never copied.
                const size_t copy = static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(keep - done, want)));
                if (std::fwrite(buffer.data(), 1, copy, out.file) != copy) return "cannot write " + partPath;
                done += static_cast<int64_t>(want);
            }
            if (std::fgetc(in.file) != EOF) return changed;
            if (!out.Close()) return "cannot write " + partPath;
        }
        // The digests are taken from the copy, so they are of exactly the bytes that replace
        // the package.
        std::vector<EntryDigest> digests;
        std::string sealBytes;
        {
            CPackageReader copy;
            if (!copy.Open(ReaderPath(partPath).c_str()) || copy.sealed()) return changed;
            digests.resize(copy.records().size());
            if (!oldDigests.empty() && oldDigests.size() != digests.size()) return changed;
            for (uint32_t i = 0; i < digests.size(); ++i) {
                if (!EntryDataProblem(copy.header(), copy.records()[i], keep).empty() || !HashEntry(copy, i, digests[i]) ||
                    (!oldDigests.empty() && digests[i] != oldDigests[i]))
                    return changed;
            }
            sealBytes = BuildPackageSeal(copy.header(), copy.records(), digests);
            if (sealBytes.empty()) return "cannot hash " + partPath;
        }
        FileCloser out(OpenFile(partPath, "ab"));
        if (out.file == nullptr) return "cannot write " + partPath;
        if (std::fwrite(sealBytes.data(), 1, sealBytes.size(), out.file) != sealBytes.size() ||
            !FlushToDisk(out.file) || !out.Close())
            return "cannot write " + partPath;
        return std::string();
    }

    int Extract(const std::string& path, const std::string& dir) {
        CPackageReader reader;
        std::string problem;
        if (!OpenPackage(path, reader, problem)) return Fail(path + ": " + problem);
        const auto& records = reader.records();
        for (size_t i = 0; i < records.size(); ++i)
            if (!IsSafeEntryName(FieldText(records[i].dictId), FieldText(records[i].fileExt)))
                return Fail(path + ": entry " + Num(i) + ": name '" + EntryName(records[i]) +
                            "' would leave the target directory");
        if (!MakeDirectory(dir)) return Fail("cannot make directory " + dir);
        for (uint32_t i = 0; i < records.size(); ++i) {
            const std::string target = JoinPath(dir, EntryName(records[i]));
            const std::string failure = ExtractEntry(reader, i, target);
            if (!failure.empty()) {
                RemoveFile(target);
                return Fail(path + ": entry " + Num(i) + ": " + failure);
            }
        }
        m_out += "extracted " + Num(records.size()) + " entries to " + dir + "\n";
        return EXIT_OK;
    }

    std::string ExtractEntry(CPackageReader& reader, uint32_t index, const std::string& target) {
        FileCloser out(OpenFile(target, "wb"));
        if (out.file == nullptr) return "cannot write " + target;
        if (!reader.SeekToEntry(index)) return "cannot seek to its data";
        char buffer[CHUNK_SIZE];
        for (;;) {
            uint32_t count = CHUNK_SIZE;
            const int result = reader.ReadChunk(index, buffer, count);
            if (result < 0) return "data cut short";
            if (std::fwrite(buffer, 1, count, out.file) != count) return "cannot write " + target;
            if (result == 0) break;
        }
        return out.Close() ? std::string() : "cannot write " + target;
    }

    std::string& m_out;
    std::string& m_err;
    std::string m_warnings;
};

}  // namespace

std::vector<std::string> ManifestLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t stop = text.find('\n', start);
        if (stop == std::string::npos) stop = text.size();
        lines.push_back(text.substr(start, stop - start));
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
        start = stop + 1;
    }
    return lines;
}

std::string UsageText() { return kUsage; }

std::string ManifestEncodingProblem(const std::string& text) {
    const std::string save = ": save it as UTF-8";
    if (text.compare(0, 2, "\xFF\xFE") == 0)
        return "is UTF-16 LE (it starts with the byte-order mark FF FE), not UTF-8" + save;
    if (text.compare(0, 2, "\xFE\xFF") == 0)
        return "is UTF-16 BE (it starts with the byte-order mark FE FF), not UTF-8" + save;
    const size_t mark = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::vector<std::string> lines = ManifestLines(text.substr(mark));
    for (size_t index = 0; index < lines.size(); ++index) {
        const std::string& line = lines[index];
        const std::string where = "line " + Num(index + 1);
        // NUL is well-formed UTF-8, but no text editor writes it into UTF-8 text.
        if (line.find('\0') != std::string::npos)
            return where + " holds NUL bytes: the manifest looks like UTF-16 without a byte-order mark" + save;
        const size_t bad = Utf8ErrorOffset(line);
        if (bad != std::string::npos) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(line[bad])));
            return where + " is not UTF-8 (byte " + byte + " at column " + Num(bad + 1) +
                   "): the manifest looks saved in an ANSI code page such as GBK or 1252" + save;
        }
    }
    return std::string();
}

std::string DateTextProblem(const std::string& text) {
    DictSystemTime date;
    if (ParseDateText(text, date)) return std::string();
    static const char* const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
    const std::string no = "is not a date: ";
    unsigned year = 0, month = 0, day = 0;
    const bool shaped = (text.size() == DICT_DATE_SHORT_LENGTH || text.size() == DICT_DATE_LONG_LENGTH) &&
                        DateDigits(text, 0, 4, year) && text[4] == '-' && DateDigits(text, 5, 2, month) &&
                        text[7] == '-' && DateDigits(text, 8, 2, day);
    if (!shaped) return no + "write it as YYYY-MM-DD, e.g. 2024-05-01";
    if (year < DICT_DATE_MIN_YEAR || year > DICT_DATE_MAX_YEAR)
        return no + "the year lies outside " + Num(DICT_DATE_MIN_YEAR) + "-" + Num(DICT_DATE_MAX_YEAR);
    if (month < 1 || month > 12) return no + "there is no month " + text.substr(5, 2);
    if (day < 1) return no + "there is no day 00";
    if (day > DaysInMonth(year, month))
        return no + months[month - 1] + (month == 2 ? " " + Num(year) : std::string()) + " has " +
               Num(DaysInMonth(year, month)) + " days";
    if (text.size() == DICT_DATE_LONG_LENGTH) return no + "the time of day is not hh:mm:ss from 00:00:00 to 23:59:59";
    return no + "write it as YYYY-MM-DD, e.g. 2024-05-01";
}

bool IsDictExtension(std::wstring ext) {
    for (wchar_t& c : ext)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return ext == DICT_EXT_DIC || ext == DICT_EXT_DIP;
}

std::string OtherExtensionEffect(const std::string& target) {
    return "the host's dictionaries end in one of these; the wizard installs " + target +
           " all the same and finds it again by that name, so a second run says up to date";
}

namespace {

// What is wrong with the seal at the end of a file whose header and directory are readable,
// as a whole phrase; empty when there is none or nothing is wrong with it.
std::string SealProblem(FILE* file, const PackageHeader& header, int64_t directoryEnd, int64_t size) {
    PackageSealTrailer trailer{};
    if (size - directoryEnd < static_cast<int64_t>(sizeof trailer)) return std::string();
    if (!SeekTo(file, size - static_cast<int64_t>(sizeof trailer)) ||
        std::fread(&trailer, 1, sizeof trailer, file) != sizeof trailer)
        return std::string();
    const uint32_t version = SealVersionOf(trailer);
    if (version == PACKAGE_SEAL_NONE) return std::string();
    const std::string damaged = "damaged seal: ";
    if (trailer.entryCount != header.recordCount)
        return damaged + "it counts " + Num(trailer.entryCount) + " entries, the directory has " + Num(header.recordCount);
    const uint64_t sealSize = PackageSealSize(trailer.entryCount, version);
    if (trailer.sealSize != sealSize)
        return damaged + "its size says " + Num(trailer.sealSize) + " bytes, " + Num(trailer.entryCount) +
               " entries make " + Num(sealSize);
    if (sealSize > static_cast<uint64_t>(size - directoryEnd))
        return damaged + "cut short: it needs " + Num(sealSize) + " bytes, " + Num(size - directoryEnd) +
               " lie behind the directory";
    const int64_t sealStart = size - static_cast<int64_t>(sealSize);
    std::vector<PackageDirRecord> records(header.recordCount);
    if (!records.empty() && (!SeekTo(file, PACKAGE_HEADER_SIZE) ||
                             std::fread(records.data(), sizeof(PackageDirRecord), records.size(), file) != records.size()))
        return std::string();
    for (uint32_t i = 0; i < records.size(); ++i) {
        const int64_t end = int64_t{header.dataBase} + records[i].dataOffset + records[i].dataSize;
        if (end > sealStart)
            return damaged + "entry " + Num(i) + "'s data runs into it (it starts at " + Num(sealStart) +
                   ", the data ends at " + Num(end) + ")";
    }
    if (version != PACKAGE_SEAL_WHOLE) return std::string();
    PackageFrameDigests sealed, found;
    if (!SeekTo(file, size - static_cast<int64_t>(sizeof trailer + PACKAGE_SEAL_WHOLE_EXTRA)) ||
        std::fread(sealed.header.data(), 1, sealed.header.size(), file) != sealed.header.size() ||
        std::fread(sealed.directory.data(), 1, sealed.directory.size(), file) != sealed.directory.size())
        return std::string();
    if (!HashPackageFrame(header, records, found)) return "cannot hash the header and the directory";
    const bool headerDiffers = found.header != sealed.header, directoryDiffers = found.directory != sealed.directory;
    if (!headerDiffers && !directoryDiffers) return std::string();
    const std::string what = headerDiffers && directoryDiffers ? "the header and the directory do not"
                             : headerDiffers                   ? "the header does not"
                                                               : "the directory (its ids, extensions, dates, names or "
                                                                 "places of the entries) does not";
    return what + std::string(" match the seal: damaged since it was sealed; the wizard refuses the package");
}

}  // namespace

std::string WhyPackageRefused(const std::string& path) {
    FileCloser file(OpenFile(path, "rb"));
    if (file.file == nullptr) return "cannot open the file";
    const int64_t size = FileSize(file.file);
    PackageHeader header{};
    if (size < static_cast<int64_t>(PACKAGE_HEADER_SIZE) || !SeekTo(file.file, 0) ||
        std::fread(&header, 1, sizeof header, file.file) != sizeof header)
        return "not a package: shorter than the " + Num(PACKAGE_HEADER_SIZE) + "-byte header";
    if (header.magic != PACKAGE_MAGIC) return "not a package: wrong magic " + Hex(header.magic);
    if (!IsAcceptedHeader(header))
        return "no accepted format version (version1 " + Num(header.version1) + ", version2 " +
               Num(header.version2) + ")";
    if (header.recordSize != PACKAGE_RECORD_SIZE)
        return "record size " + Num(header.recordSize) + ", not " + Num(PACKAGE_RECORD_SIZE);
    const int64_t need = PACKAGE_HEADER_SIZE + int64_t{header.recordCount} * header.recordSize;
    if (need > size)
        return "directory cut short: " + Num(header.recordCount) + " records need " + Num(need) +
               " bytes, the file has " + Num(size);
    const std::string seal = SealProblem(file.file, header, need, size);
    return seal.empty() ? "the package reader refuses it" : seal;
}

bool HashEntry(CPackageReader& reader, uint32_t index, EntryDigest& digest) {
    if (!reader.SeekToEntry(index)) return false;
    CSha256 hash;
    std::vector<char> buffer(COPY_BUFFER_SIZE);
    for (;;) {
        uint32_t count = static_cast<uint32_t>(buffer.size());
        const int result = reader.ReadChunk(index, buffer.data(), count);
        if (result < 0) return false;
        hash.Update(buffer.data(), count);
        if (result == 0) return hash.Finish(digest);
    }
}

bool MatchesSeal(CPackageReader& reader, uint32_t index) {
    EntryDigest digest;
    return HashEntry(reader, index, digest) && digest == reader.digest(index);
}

std::string EntryDataProblem(const PackageHeader& header, const PackageDirRecord& record, int64_t fileSize) {
    const int64_t end = int64_t{header.dataBase} + record.dataOffset + record.dataSize;
    if (end > PACKAGE_MAX_POSITION) return "data reaches past 2^31-1 (ends at " + Num(end) + ")";
    if (end > fileSize)
        return "data lies outside the file (ends at " + Num(end) + ", the file has " + Num(fileSize) + " bytes)";
    return std::string();
}

int Run(const std::vector<std::string>& args, std::string& out, std::string& err) {
    Tool tool(out, err);
    return tool.Run(args);
}

}  // namespace dictpack
