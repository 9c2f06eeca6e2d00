// Each variant's exact division by a reciprocal, at the edges of its
// claim: x = k*d - 1, k*d, k*d + 1 for every divisor up to 4096 and
// divisors sampled across the whole range to 2^27, over the quotients a
// pass produces (at most 108) and each divisor's largest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "eachvariant.h"
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

INSTANTIATE_FOR_EACH_VARIANT(divisionpervariant);
