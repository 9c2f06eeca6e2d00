#include <gtest/gtest.h>

#include "frontend.h"

using generator::digitcount;
using generator::maxdigits;
using generator::readcount;

TEST(readcount, ReadsLikeAtoi)
{
    EXPECT_EQ(readcount("10"), 10);
    EXPECT_EQ(readcount(" \t\n\v\f\r42"), 42);
    EXPECT_EQ(readcount("+7"), 7);
    EXPECT_EQ(readcount("-3"), -3);
    EXPECT_EQ(readcount("12abc"), 12);
    EXPECT_EQ(readcount("007"), 7);
    EXPECT_EQ(readcount("abc"), 0);
    EXPECT_EQ(readcount(""), 0);
    EXPECT_EQ(readcount("-"), 0);
    EXPECT_EQ(readcount("+-5"), 0);
    EXPECT_EQ(readcount(" - 5"), 0);
    EXPECT_EQ(readcount("1e3"), 1);
}

TEST(readcount, HugeTextStaysOutOfRangeInsteadOfWrapping)
{
    // 2^32 + 1 would wrap to 1 in 32-bit arithmetic.
    EXPECT_GT(readcount("4294967297"), maxdigits);
    EXPECT_GT(readcount("99999999999999999999999999999999"), maxdigits);
    EXPECT_LT(readcount("-99999999999999999999999999999999"), 0);
}

TEST(digitcount, AcceptsExactlyZeroToTheLargestSafeCount)
{
    EXPECT_EQ(digitcount("0"), 0);
    EXPECT_EQ(digitcount("abc"), 0);
    EXPECT_EQ(digitcount("16953818"), 16953818);
    EXPECT_EQ(digitcount("-0"), 0);
    EXPECT_FALSE(digitcount("16953819"));
    EXPECT_FALSE(digitcount("-1"));
    EXPECT_FALSE(digitcount("4294967297"));
}
