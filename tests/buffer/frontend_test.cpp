#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "frontend.h"

namespace {

std::optional<std::int32_t> parse(const char* text)
{
    std::int32_t n = -12345;
    if (!parsedigitcount(text, &n)) {
        return std::nullopt;
    }
    return n;
}

}  // namespace

TEST(parsedigitcount, ReadsLikeAtoi)
{
    EXPECT_EQ(parse("10"), 10);
    EXPECT_EQ(parse(" \t\n\v\f\r42"), 42);
    EXPECT_EQ(parse("+7"), 7);
    EXPECT_EQ(parse("12abc"), 12);
    EXPECT_EQ(parse("abc"), 0);
    EXPECT_EQ(parse(""), 0);
    EXPECT_EQ(parse("-"), 0);
    EXPECT_EQ(parse("-0"), 0);
    EXPECT_EQ(parse("+-5"), 0);
    EXPECT_EQ(parse("1e3"), 1);
}

TEST(parsedigitcount, AcceptsExactlyZeroToTheLargestSafeCount)
{
    EXPECT_EQ(parse("16953818"), 16953818);
    EXPECT_EQ(parse("0016953818"), 16953818);
    EXPECT_FALSE(parse("16953819"));
    EXPECT_FALSE(parse("-1"));
    // 2^32 + 1 would wrap to 1 in 32-bit arithmetic.
    EXPECT_FALSE(parse("4294967297"));
    EXPECT_FALSE(parse("99999999999999999999999999999999"));
    EXPECT_FALSE(parse("-99999999999999999999999999999999"));
}
