#pragma once

#define IDD_FRAMEWORK_PROBE 100
