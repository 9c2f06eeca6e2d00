#include <gtest/gtest.h>

#include "countcases.h"
#include "generatorfrontend.h"

using generator::digitcount;
using generator::maxdigits;
using generator::readcount;

TEST(digitcount, AcceptsWhatAtoiReadsWithinRange)
{
    for (const testsupport::countcase& c : testsupport::countcases) {
        EXPECT_EQ(digitcount(c.text), c.count) << '"' << c.text << '"';
    }
}

TEST(readcount, KeepsTheSignAndClampsInsteadOfWrapping)
{
    EXPECT_EQ(readcount("-3"), -3);
    EXPECT_EQ(readcount("4294967297"), maxdigits + 1LL);
    EXPECT_EQ(readcount("-99999999999999999999999999999999"), -(maxdigits + 1LL));
}
