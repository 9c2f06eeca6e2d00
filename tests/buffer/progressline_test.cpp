#include <gtest/gtest.h>

#include <string>

#include "progressline.h"

TEST(progressline, LineTellsShareDoneAndTimeLeft)
{
    char line[96];
    progresstext(line, sizeof line, 42000, 100000, 2.1);
    EXPECT_STREQ(line, "42% of 100000 digits, about 3 s left");
    progresstext(line, sizeof line, 10, 1000000, 1.0);
    EXPECT_STREQ(line, "0% of 1000000 digits, about 1667 min left");
    // A short buffer gets what fits, terminated.
    char shortline[8];
    EXPECT_EQ(progresstext(shortline, sizeof shortline, 1, 2, 1.0), 7u);
    EXPECT_STREQ(shortline, "50% of ");
}

TEST(progressline, DueAfterItsDelayThenFourTimesASecond)
{
    const double first = 100.0 + PROGRESS_DELAY;
    EXPECT_FALSE(progressdue(100.0, -1.0, 100.0 + 0.99 * PROGRESS_DELAY));
    EXPECT_TRUE(progressdue(100.0, -1.0, first));
    EXPECT_FALSE(progressdue(100.0, first, first + 0.8 * PROGRESS_INTERVAL));
    EXPECT_TRUE(progressdue(100.0, first, first + PROGRESS_INTERVAL));
}
