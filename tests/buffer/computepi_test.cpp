#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "computepi.h"

namespace {

std::string buildtext(int n)
{
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2, '#');
    EXPECT_EQ(computepi(n, buffer.data()), computepi_ok);
    return buffer.data();
}

std::string tail(const std::string& text, std::size_t length)
{
    return text.substr(text.size() - length);
}

}  // namespace

TEST(computepi, ShortTexts)
{
    EXPECT_EQ(buildtext(0), "0");
    EXPECT_EQ(buildtext(1), "02");
    EXPECT_EQ(buildtext(5), "031415");
    EXPECT_EQ(buildtext(10), "03141592653");
}

TEST(computepi, NinesStillHeldAfterTheLastPassAreDropped)
{
    EXPECT_EQ(buildtext(6), "031415");
    EXPECT_EQ(buildtext(13), "0314159265358");
    const std::string text = buildtext(768);
    EXPECT_EQ(text.size(), 763u);
    EXPECT_EQ(tail(text, 6), "721134");
}

TEST(computepi, LastPredigitIsWrittenWithoutALaterCarry)
{
    EXPECT_EQ(buildtext(32).size(), 33u);
    EXPECT_EQ(buildtext(32).back(), '4');
    EXPECT_EQ(tail(buildtext(50), 8), "93993750");
    EXPECT_EQ(tail(buildtext(100), 12), "825342117067");
}

TEST(computepi, WritesOnlyTheTextAndItsTerminator)
{
    // The buffer holds N + 2 bytes; with nines dropped the rest is untouched.
    std::vector<char> buffer(6 + 2, '#');
    ASSERT_EQ(computepi(6, buffer.data()), computepi_ok);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string("031415\0#", 8));
}
