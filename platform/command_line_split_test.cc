// Tests of the Windows command-line splitting rule.
#include "platform/command_line_split.h"

#include <gtest/gtest.h>

TEST(SplitCommandLine, Placeholder) { EXPECT_TRUE(orvik::SplitCommandLine("").empty()); }
