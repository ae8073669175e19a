// Clocks for time-outs. Both read the monotonic clock, so a wall clock stepped by GPS or NTP in the middle of
// an exchange can neither fire a time-out early nor hold one for ever.
#pragma once

#include <cstdint>
#include <ctime>

uint32_t Time_GetSec();
// Milliseconds, wrapping at 2^32: callers compare unsigned differences.
uint32_t Time_GetMs();

// The monotonic clock's reading the given microseconds from now: the deadline of a timed condition wait.
timespec Time_MonotonicAfterUs(uint64_t microseconds);

// Sleeps the given microseconds, resuming after signals; never overflows.
void Time_SleepUs(uint64_t microseconds);
