// UTF-8 for the console and manifests, UTF-16 code units for package fields and Win32.
// A std::wstring here holds UTF-16 code units on every platform.
#pragma once

#include <string>

namespace dictpack {

// False for bytes that are not well-formed UTF-8; out is then unspecified.
bool Utf8ToUtf16(const std::string& in, std::wstring& out);
// The offset of the first byte that is not well-formed UTF-8; npos when there is none.
size_t Utf8ErrorOffset(const std::string& in);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::wstring& in);

}  // namespace dictpack
