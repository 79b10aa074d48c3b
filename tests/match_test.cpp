#include "match.h"

#include <gtest/gtest.h>
