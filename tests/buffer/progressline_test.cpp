#include <gtest/gtest.h>

#include <string>

#include "progresscases.h"
#include "progressline.h"

TEST(progressline, LineTellsShareDoneAndTimeLeft)
{
    for (const auto& expected : testsupport::progresscases) {
        char line[96];
        const size_t length = progresstext(line, sizeof line, expected.done, expected.total, expected.elapsed);
        EXPECT_STREQ(line, expected.line);
        EXPECT_EQ(length, std::string(expected.line).size());
    }
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
