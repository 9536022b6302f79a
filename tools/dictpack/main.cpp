// dictpack.exe: the arguments arrive as UTF-16, everything printed leaves as UTF-8.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/dictpack/DictPackCore.h"
#include "tools/dictpack/SetupFolder.h"
#include "tools/dictpack/Utf.h"

namespace {

void Print(FILE* stream, const std::string& text) {
    if (text.empty()) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(dictpack::Utf16ToUtf8(argv[i]));
    std::string out, err;
    const std::string command = args.empty() ? std::string() : args[0];
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    const int code = command == "check"   ? dictpack::RunCheck(rest, out, err)
                     : command == "setup" ? dictpack::RunSetup(rest, out, err)
                                          : dictpack::Run(args, out, err);
    Print(stdout, out);
    Print(stderr, err);
    return code;
}
