#include "run_program.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>
