// What the wizard shows when the plan cannot be built (a package beside it cannot be read):
// kept below the wizard's window so that dictpack check quotes the same text.
#pragma once

#define WIZ_TEXT_PLAN_FAILED L"fail"
