// Each variant's exact division by a reciprocal, at the edges of its
// claim: x = k*d - 1, k*d, k*d + 1 for every divisor up to 4096 and
// divisors sampled across the whole range to 2^27, over the quotients a
// pass produces (at most 108) and each divisor's largest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "eachvariant.h"
#include "floatdivide.h"
#include "passbatch.h"

namespace {

constexpr std::int64_t maxx = 2147483647;
constexpr std::int64_t maxdivisor = std::int64_t{1} << 27;
constexpr std::int64_t maxquotient = (std::int64_t{1} << 12) - 1;
// The largest divisor a pass uses, at 16953818 digits.
constexpr std::int64_t largestcelldivisor = 2 * 56512726 - 1;

// Checks the boundaries around k*d for the pass quotients and the largest
// quotient d allows; the first wrong quotient is reported.
::testing::AssertionResult dividesexactly(const generator::batchvariant& variant, std::int64_t d)
{
    std::vector<double> x;
    const std::int64_t top = std::min(maxquotient, maxx / d);
    for (std::int64_t k = 0; k <= top + 1; k = (k == 120 && top > 121) ? top - 1 : k + 1) {
        for (const std::int64_t each : {k * d - 1, k * d, k * d + 1}) {
            if (each >= 0 && each <= maxx && each / d <= maxquotient) {
                x.push_back(static_cast<double>(each));
            }
        }
    }
    x.resize((x.size() + 7) / 8 * 8, 0.0);
    const std::vector<double> reciprocals(x.size(), 1.0 / static_cast<double>(d));
    std::vector<double> quotients(x.size());
    variant.divide(x.data(), reciprocals.data(), quotients.data(), static_cast<std::int32_t>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) {
        const auto exact = static_cast<std::int64_t>(x[i]) / d;
        if (quotients[i] != static_cast<double>(exact)) {
            return ::testing::AssertionFailure() << variant.name << ": " << x[i] << " / " << d << " gave "
                                                 << quotients[i] << ", not " << exact;
        }
    }
    return ::testing::AssertionSuccess();
}

class divisionpervariant : public eachvariant {};

}  // namespace

TEST_P(divisionpervariant, EveryBoundaryAcrossTheWholeDivisorRange)
{
    const generator::batchvariant& variant = *GetParam();
    for (std::int64_t d = 1; d <= 4096; ++d) {
        ASSERT_TRUE(dividesexactly(variant, d));
    }
    for (std::int64_t d = 4097; d <= maxdivisor; d += 7919) {
        ASSERT_TRUE(dividesexactly(variant, d));
    }
    for (std::int64_t power = 4096; power <= maxdivisor; power *= 2) {
        for (std::int64_t d = power - 3; d <= std::min(power + 3, maxdivisor); ++d) {
            ASSERT_TRUE(dividesexactly(variant, d));
        }
    }
    for (std::int64_t d = largestcelldivisor - 2000; d <= largestcelldivisor + 2; ++d) {
        ASSERT_TRUE(dividesexactly(variant, d));
    }
    for (std::int64_t d = maxdivisor - 2000; d <= maxdivisor; ++d) {
        ASSERT_TRUE(dividesexactly(variant, d));
    }
}

INSTANTIATE_FOR_EACH_VARIANT_IN(divisionpervariant, generator::precision::doubles);

// The float variants' own division, in the bias form and the corrected
// one, at both ends of every quotient's run of dividends (which decides
// every dividend, floatdivide.h) over every cell each form serves; the
// bias form seen to fail at the first cell past its range.
namespace {

// The first cell from first to last where the variant's quotient or
// remainder is wrong for a dividend a pass can form there, or -1.
std::int32_t firstinexactcell(const generator::batchvariant& variant, bool corrected, std::int32_t first,
                              std::int32_t last)
{
    std::vector<float> x, reciprocals, divisors, quotients, remainders;
    std::vector<std::int32_t> cells, expected;
    const auto flush = [&]() -> std::int32_t {
        while (x.size() % 16 != 0) {  // 0 / 1, to a whole number of vectors
            x.push_back(0.0f), reciprocals.push_back(1.0f), divisors.push_back(1.0f);
            cells.push_back(-1), expected.push_back(0);
        }
        quotients.assign(x.size(), -1.0f);
        remainders.assign(x.size(), -1.0f);
        variant.dividefloats({x.data(), reciprocals.data(), divisors.data(), quotients.data(), remainders.data(),
                              static_cast<std::int32_t>(x.size())},
                             corrected);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const float remainder = x[i] - static_cast<float>(expected[i]) * divisors[i];
            if (quotients[i] != static_cast<float>(expected[i]) || remainders[i] != remainder) {
                return cells[i];
            }
        }
        x.clear(), reciprocals.clear(), divisors.clear(), cells.clear(), expected.clear();
        return -1;
    };
    for (std::int32_t j = first; j <= last; ++j) {
        const std::int32_t d = 2 * j + 1;
        const std::int32_t largest = 38 * j + 18;
        for (std::int32_t k = 0; k <= largest / d; ++k) {
            for (const std::int32_t end : {k * d, std::min(k * d + d - 1, largest)}) {
                x.push_back(static_cast<float>(end));
                divisors.push_back(static_cast<float>(d));
                reciprocals.push_back(1.0f / static_cast<float>(d));
                cells.push_back(j);
                expected.push_back(k);
            }
        }
        if (x.size() >= 1 << 16 || j == last) {
            if (const std::int32_t inexact = flush(); inexact >= 0) {
                return inexact;
            }
        }
    }
    return -1;
}

class floatdivisionpervariant : public eachvariant {};

}  // namespace

TEST_P(floatdivisionpervariant, EachFormIsExactAtEveryBoundaryOfEveryCellItServes)
{
    using generator::floatdivide::lastbiascell, generator::floatdivide::lastfloatcell;
    EXPECT_EQ(firstinexactcell(*GetParam(), false, 0, lastbiascell), -1);
    EXPECT_EQ(firstinexactcell(*GetParam(), false, lastbiascell + 1, lastbiascell + 1), lastbiascell + 1)
        << "the bias form's range ends later than its bound says";
    EXPECT_EQ(firstinexactcell(*GetParam(), true, 0, lastfloatcell), -1);
    // The cells that fit end where a cell's largest value reaches 2^24.
    EXPECT_LT(38 * lastfloatcell + 18, 1 << 24);
    EXPECT_GE(38 * (lastfloatcell + 1) + 18, 1 << 24);
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatdivisionpervariant, generator::precision::floats);
