#include "base/NameFolding.h"

#include <windows.h>

std::wstring FoldedName(std::wstring name) {
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}
