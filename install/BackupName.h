// The name under which a dictionary's previous file waits while its upgrade runs: the
// target's full name followed by this suffix. Kept free of Windows headers, since the
// package-name rule that keeps entries off these names builds on every platform.
#pragma once

#define BACKUP_SUFFIX L"._gin_hh_"
