#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "progresscases.h"
#include "progressline.h"

using generator::progressline;
using generator::progresstext;

TEST(progresstext, ShareDoneAndTimeLeftAtTheSameRate)
{
    for (const auto& expected : testsupport::progresscases) {
        EXPECT_EQ(progresstext(expected.total, expected.done, expected.total, expected.elapsed), expected.line);
    }
    // The count shown is the text's, whatever units the work is counted in.
    EXPECT_EQ(progresstext(10, 1, 11, 1.0), "9% of 10 digits, about 10 s left");
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

TEST(progressline, TimeLeftOfASteadyRunFollowsThePassesNotTheSetUp)
{
    // Ten seconds making the cells, then a unit of work a second: every
    // line foretells the same end, 100 s after the work started.
    double now = 0.0;
    std::ostringstream terminal;
    progressline line(100, 100, terminal, true, [&] { return now; });
    now = 10.0;
    line.report(0);
    for (std::int32_t done = 1; done < 100; ++done) {
        now = 10.0 + done;
        terminal.str("");
        line.report(done);
        const std::string left = "about " + std::to_string(100 - done) + " s left";
        EXPECT_NE(terminal.str().find(left), std::string::npos) << "after " << done << ": " << terminal.str();
    }
}
