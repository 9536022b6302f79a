#include "package/InstallManager.h"
