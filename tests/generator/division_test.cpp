// Each variant's exact division by a reciprocal, at the edges of its claim
// for passes fused k at a time: the deciding dividends of the divisors
// that decide each k, and of the largest divisor of each run the plan
// gives that k.
#include <gtest/gtest.h>

#include <cstdint>

#include "divisionboundaries.h"
#include "fusededges.h"
#include "eachvariant.h"
#include "passbatch.h"

namespace {

class divisionpervariant : public eachvariant {};

}  // namespace

testsupport::fusedclaim claimof(const generator::batchvariant& variant, std::int32_t k)
{
    return {k, generator::fused::bias(variant.division, k), generator::fused::largestdivisor(variant.division, k),
            variant.division == generator::fused::form::rounddown};
}

TEST_P(divisionpervariant, HoldsItsClaimForEveryFusedPassCount)
{
    const generator::batchvariant& variant = *GetParam();
    testsupport::expectclaimsexact(variant.divide, [&variant](std::int32_t k) { return claimof(variant, k); },
                                   generator::fused::mostpasses);
}

TEST_P(divisionpervariant, IsExactForTheLargestDivisorOfEachRunAtThePlansPassCount)
{
    for (const auto& edge : testsupport::fusededges()) {
        const std::int32_t n = edge.first;
        const std::int32_t cellcount = n * 10 / 3;
        const std::int32_t k = generator::planwith(*GetParam(), cellcount).fusedpasses;
        EXPECT_EQ(testsupport::firstinexactdivision(GetParam()->divide, claimof(*GetParam(), k), {2 * cellcount - 1}),
                  "")
            << "N = " << n;
        EXPECT_LE(2 * cellcount - 1, generator::fused::largestdivisor(GetParam()->division, k)) << "N = " << n;
        EXPECT_LE(4 * generator::fused::power(k) * cellcount, std::int64_t{1} << 53) << "N = " << n;
    }
}

INSTANTIATE_FOR_EACH_VARIANT(divisionpervariant);
