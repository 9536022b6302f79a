#include "host/HostPaths.h"
