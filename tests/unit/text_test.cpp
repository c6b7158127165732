#include <gtest/gtest.h>
#include "script/state.h"

TEST(FormatIndex, Decimal)
{
    EXPECT_STREQ("0", FormatIndex(0));
}
