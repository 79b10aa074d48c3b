#include "stress_rounds.h"

#include <cstdlib>

int stress_rounds()
{
    const char* value = getenv("KESTRO_STRESS_ROUNDS");
    int rounds = value != nullptr ? atoi(value) : 1;
    return rounds > 0 ? rounds : 1;
}
