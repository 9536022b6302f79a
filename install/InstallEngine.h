// Fixed names and sizes of the install engine: the host's configuration keys, the picture
// files and the output buffering of an extracted entry.
#pragma once

#include <windows.h>

#include <cstddef>

#define DICT_CONFIG_FILE_NAME L"dictconfig.ini"
#define CFG_KEY_ID L"id"
#define CFG_KEY_ENABLE L"enable"
#define CFG_VALUE_ENABLED L"1"

// Keys copied from the wizard's dictconfig.ini into the host's section, in this order.
inline constexpr const wchar_t* CFG_COPIED_KEYS[] = {
    L"id_net", L"desc_name", L"catalog", L"from", L"to", L"desc_intro", L"desc_copyright", L"func_all",
};
// Terminator included, so a copied value keeps at most 259 characters.
constexpr DWORD CFG_VALUE_UNITS = 260;

#define DICT_IMAGE_EXTENSION L".bmp"

// Chunks stay at CHUNK_SIZE for the progress steps; the disk sees far fewer, larger writes.
constexpr size_t OUTPUT_BUFFER_BYTES = 256 * 1024;
// The bytes of a sealed entry reach the hash in blocks of this size.
constexpr size_t HASH_BLOCK_BYTES = 256 * 1024;
