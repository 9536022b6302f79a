// Points in the install where a fault-injection build of the wizard can end its own process
// at once, as a kill or a power cut would: nothing is flushed or closed on the way out. The
// build that the tests use for this counts the points it passes and ends at the one named
// by the environment variable QB_CRASH_AT; the shipped wizard compiles them to nothing.
#pragma once

#ifdef QB_CRASH_POINTS
namespace qb {
void CrashPoint();
}
#define QB_CRASH_POINT() ::qb::CrashPoint()
#else
#define QB_CRASH_POINT() ((void)0)
#endif

#define QB_CRASH_AT_VARIABLE L"QB_CRASH_AT"
// The exit code of a process ended at a crash point.
#define QB_CRASH_EXIT_CODE 86
