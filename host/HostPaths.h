// Finding the host installation through the registry, and every path into it and beside
// the wizard. Two process-wide caches keep the values once read.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#define HOST_REGISTRY_KEY L"SOFTWARE\\Norvale\\Dictionary 2.0"
// Where a 32-bit program's view of that key lies on 64-bit Windows.
#define HOST_REGISTRY_KEY_WOW64 L"SOFTWARE\\WOW6432Node\\Norvale\\Dictionary 2.0"
#define HOST_VALUE_LOCATION L"Location"
#define HOST_VALUE_EXECUTABLE L"ExcutableName"

#define HOST_DICT_DATA_PIECE L"\\plugin\\localquery\\dictdata"
#define HOST_LOCAL_QUERY_CFG_PIECE L"\\plugin\\localquery\\localquerydictcfg.ini"
#define HOST_IMAGE_PIECE L"\\plugin\\image\\"
#define PACKAGE_IMAGE_PIECE L"\\dict_image\\"
#define REPAIR_TOOL_NAME L"LXDRepair.exe"

// Values are read into 260 UTF-16 units; one that fills the whole buffer is refused.
bool ReadRegistryString(HKEY root, const wchar_t* subKey, const wchar_t* valueName, std::wstring& out);
// Re-reads both values and tests that the host executable exists.
bool CheckHostEnvironment();

bool GetDictDataDir(std::wstring& out);
bool GetLocalQueryCfgPath(std::wstring& out);
bool GetHostImagePath(const wchar_t* fileName, std::wstring& out);
bool GetPackageImagePath(const wchar_t* fileName, std::wstring& out);
bool GetRepairToolPath(std::wstring& out);
// The host's installation folder (Location), without a trailing backslash.
bool GetHostFolder(std::wstring& out);
bool GetHostExecutablePath(std::wstring& out);
// Drive and directory of the running executable, ending with a backslash.
bool GetModuleDir(std::wstring& out);

bool PathExists(const std::wstring& path);

// Why CheckHostEnvironment says no, in words an administrator can act on: the registry key
// and the view that was read, and the value or path that is missing ("... has no value
// ExcutableName (its values: ExecutableName, Location)"). Reads the registry again and looks
// at the disk; empty when the host is there.
std::wstring DescribeMissingHost();
// The parts of a found host that the install writes into, one line for each that is missing:
// the dictionary folder, the configuration file and the picture folder. They do not decide
// whether the host is installed.
std::vector<std::wstring> DescribeMissingHostParts();
