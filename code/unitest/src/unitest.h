// The self-tests that unitest runs: each prints its progress and returns 0, or -1 when a set-up step fails.
#pragma once

#include <cstdint>

int Unitest_Thread();
int Unitest_Mutex();
int Unitest_Sem();

// Shared by the self-tests.
inline constexpr uint64_t kUnitestSecondUs = 1000000;

// Prints "<label> <round>.\n" for rounds 0 to 4, one a second.
void Unitest_CountFive(const char *label);
// Starts thread "test1", then after test2DelayUs thread "test2", both with arg, and waits for both to end.
// Returns 0, or -1 when a thread cannot start (test1 is still waited for: it uses arg until its end).
int Unitest_RunPair(void *arg, void *(*test1)(void *), void *(*test2)(void *), uint64_t test2DelayUs);
