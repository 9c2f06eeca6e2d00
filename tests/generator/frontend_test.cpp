#include <gtest/gtest.h>

#include "countcases.h"
#include "generatorfrontend.h"

using generator::digitcount;

TEST(digitcount, AcceptsWhatAtoiReadsWithinRange)
{
    for (const testsupport::countcase& c : testsupport::countcases) {
        EXPECT_EQ(digitcount(c.text), c.count) << '"' << c.text << '"';
    }
}
