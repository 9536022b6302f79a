#include "tools/dictpack/Utf.h"

#include <cstdint>

namespace dictpack {

namespace {

// Decodes up to the first byte that is not part of well-formed UTF-8 and returns its offset,
// or npos when every byte is.
size_t DecodeUtf8(const std::string& in, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        const unsigned char lead = static_cast<unsigned char>(in[i]);
        uint32_t code;
        size_t extra;
        if (lead < 0x80) { code = lead; extra = 0; }
        else if (lead >= 0xC2 && lead <= 0xDF) { code = lead & 0x1F; extra = 1; }
        else if (lead >= 0xE0 && lead <= 0xEF) { code = lead & 0x0F; extra = 2; }
        else if (lead >= 0xF0 && lead <= 0xF4) { code = lead & 0x07; extra = 3; }
        else return i;
        if (i + extra >= in.size() && extra > 0) return i;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(in[i + k]);
            if ((next & 0xC0) != 0x80) return i;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return i;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(code));
        }
        i += extra + 1;
    }
    return std::string::npos;
}

}  // namespace

bool Utf8ToUtf16(const std::string& in, std::wstring& out) { return DecodeUtf8(in, out) == std::string::npos; }

size_t Utf8ErrorOffset(const std::string& in) {
    std::wstring ignored;
    return DecodeUtf8(in, ignored);
}

std::string Utf16ToUtf8(const std::wstring& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        uint32_t code = static_cast<uint32_t>(in[i]) & 0xFFFF;
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < in.size()) {
            const uint32_t low = static_cast<uint32_t>(in[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

}  // namespace dictpack
