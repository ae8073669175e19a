// The self-tests that unitest runs: each prints its progress and returns 0, or -1 when a set-up step fails.
#pragma once

int Unitest_Thread();
int Unitest_Mutex();
int Unitest_Sem();
