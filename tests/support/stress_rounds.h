// How long the crash and stress tests run: KESTRO_STRESS_ROUNDS=N in the
// environment makes them repeat their work N times.
#pragma once

// The number of rounds asked for in KESTRO_STRESS_ROUNDS, 1 by default.
int stress_rounds();
