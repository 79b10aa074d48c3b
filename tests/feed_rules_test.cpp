#include "feed_rules.h"

#include <gtest/gtest.h>
