// dictpack, the publishers' tool: builds, stamps, lists, verifies and unpacks dictionary
// packages. Portable C++; the program's entry only converts its arguments and prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageFormat.h"
#include "package/PackageSeal.h"

class CPackageReader;

namespace dictpack {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;     // bad input, a refused package, a file that cannot be used
constexpr int EXIT_BAD_USAGE = 2;  // bad arguments

// A package is written beside its final name under this suffix and renamed when complete.
constexpr const char* PARTIAL_SUFFIX = ".part";
constexpr size_t COPY_BUFFER_SIZE = 1 << 16;

// Runs one command. args excludes the program name; everything is UTF-8. out receives the
// command's report, err one line per error ("dictpack: ...").
int Run(const std::vector<std::string>& args, std::string& out, std::string& err);

// The usage text printed after a usage error.
std::string UsageText();

// A manifest's lines, each without its line end ("\n" or "\r\n"); line n is element n - 1.
std::vector<std::string> ManifestLines(const std::string& text);

// Empty when text, a manifest's bytes as read (byte-order mark included), is UTF-8; else
// what it looks like instead and how to save it, starting "is ..." or "line N ...".
std::string ManifestEncodingProblem(const std::string& text);

// Empty when text is a date the version library accepts; else why not, in words, starting
// "is not a date": "is not a date: February 2024 has 29 days".
std::string DateTextProblem(const std::string& text);

// Judgements shared by verify and the setup-folder check, so both say the same thing.

// True for the two extensions (any letter case) of the host's dictionaries, the ones the
// wizard lists in the host's data directory. An entry under any other is still installed and
// found again by its own name.
bool IsDictExtension(std::wstring ext);
// What the wizard does with an entry whose extension is not one of the two, installed as
// target: the end of every warning about it.
std::string OtherExtensionEffect(const std::string& target);
// Why the wizard's package reader refuses the file at path, found by looking at the header
// and the seal as the reader does. Only meaningful for a file the reader refused.
std::string WhyPackageRefused(const std::string& path);
// Empty when the entry's data lies inside a file of fileSize bytes and ends below 2^31;
// otherwise what is wrong with it.
std::string EntryDataProblem(const PackageHeader& header, const PackageDirRecord& record, int64_t fileSize);
// The SHA-256 of an entry's bytes as the reader delivers them; false when the entry cannot
// be read to its end.
bool HashEntry(CPackageReader& reader, uint32_t index, EntryDigest& digest);
// In a sealed package: whether the entry's bytes are the ones its seal names.
bool MatchesSeal(CPackageReader& reader, uint32_t index);

}  // namespace dictpack
