#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "countcases.h"
#include "bufferfrontend.h"

TEST(digitcount, AcceptsWhatAtoiReadsWithinRange)
{
    for (const testsupport::countcase& c : testsupport::countcases) {
        std::int32_t n = -12345;
        const std::optional<std::int32_t> parsed =
            digitcount(c.text, &n) ? std::optional<std::int32_t>(n) : std::nullopt;
        EXPECT_EQ(parsed, c.count) << '"' << c.text << '"';
    }
}
