#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "progressline.h"

using generator::progressline;
using generator::progresstext;

TEST(progresstext, ShareDoneAndTimeLeftAtTheSameRate)
{
    EXPECT_EQ(progresstext(100000, 42000, 100000, 2.1), "42% of 100000 digits, about 3 s left");
    EXPECT_EQ(progresstext(10, 1, 11, 1.0), "9% of 10 digits, about 10 s left");
    EXPECT_EQ(progresstext(1000000, 10, 1000000, 1.0), "0% of 1000000 digits, about 1667 min left");
}

TEST(progressline, ShowsAfterItsDelayRedrawsSparinglyAndErasesItself)
{
    double now = 100.0;
    std::ostringstream terminal;
    {
        progressline line(1000, 1000, terminal, true, [&] { return now; });
        now = 100.0 + 0.9 * progressline::delay;
        line.report(100);
        EXPECT_EQ(terminal.str(), "");  // not yet

        const double first = 100.0 + progressline::delay;
        now = first;
        line.report(500);
        EXPECT_EQ(terminal.str(), "\r50% of 1000 digits, about 1 s left");

        now = first + 0.8 * progressline::interval;
        line.report(600);  // too soon to redraw
        now = first + progressline::interval;
        line.report(990);  // shorter: spaces cover the rest of the longer line
        EXPECT_EQ(terminal.str(), "\r50% of 1000 digits, about 1 s left"
                                  "\r99% of 1000 digits, about 1 s left");
        terminal.str("");
    }
    // Gone with the object: spaces over it, the cursor back at the start.
    EXPECT_EQ(terminal.str(), "\r" + std::string(34, ' ') + "\r");
}

TEST(progressline, DisabledDrawsNothing)
{
    std::ostringstream terminal;
    double now = 0.0;
    progressline line(1000, 1000, terminal, false, [&] { return now; });
    now = 10.0;
    line.report(500);
    line.erase();
    EXPECT_EQ(terminal.str(), "");
}
