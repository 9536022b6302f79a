// dictpack, the publishers' tool: builds, stamps, lists, verifies and unpacks dictionary
// packages. Portable C++; the program's entry only converts its arguments and prints.
#pragma once

#include <string>
#include <vector>

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

}  // namespace dictpack
