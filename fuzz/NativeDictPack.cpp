// dictpack built natively on Linux from the same core as dictpack.exe: arguments and
// output are UTF-8 already, so the entry only hands them through.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/dictpack/DictPackCore.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string out, err;
    const int code = dictpack::Run(args, out, err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return code;
}
