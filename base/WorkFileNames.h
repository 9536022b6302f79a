// The names the install engine gives its own files beside a dictionary in the host's data
// directory: the target's full name followed by one of these suffixes. None ends in a
// dictionary extension, so the scan never lists them, and the entry-name rule refuses an
// entry whose name ends like one, so no package can name them. Free of Windows headers:
// the name rule builds on every platform.
#pragma once

#include <cstddef>

// The previous file while its upgrade runs.
#define BACKUP_SUFFIX L"._gin_hh_"
// The new file while it is written; it reaches the target's name only when complete.
#define NEW_FILE_SUFFIX L"._qb_new_"
// A copy of the previous file while it is made; it becomes the backup only when complete.
#define COPY_FILE_SUFFIX L"._qb_cpy_"

// An empty mark beside a dictionary from just before its new bytes take its name until it is
// registered in the host's configuration: a kill in between leaves it, and the next plan
// installs the dictionary again even from an entry of the same date, so it gets registered.
#define UNREGISTERED_SUFFIX L"._qb_reg_"

inline constexpr const wchar_t* WORK_FILE_SUFFIXES[] = {BACKUP_SUFFIX, NEW_FILE_SUFFIX, COPY_FILE_SUFFIX,
                                                        UNREGISTERED_SUFFIX};
