// The kernels' exact division by a reciprocal, at the edges of its claim
// for passes fused k at a time: the deciding dividends of the divisors
// that decide each k, and of the largest divisor of each run the plan
// gives that k.
#include <gtest/gtest.h>

#include <cstdint>

#include "kernels/kernels.h"

#include "divisionboundaries.h"
#include "fusededges.h"
#include "eachvariant.h"
#include "exactdivision.h"

namespace {

testsupport::fusedclaim claimof(const batchvariant* kernel, std::int32_t k)
{
    return {k, fusedbias(kernel->form, k), fusedlargestdivisor(kernel->form, k), kernel->form == division_rounddown};
}

class exactdivision : public eachvariant {};

}  // namespace

TEST_P(exactdivision, HoldsItsClaimForEveryFusedPassCount)
{
    const batchvariant* kernel = GetParam();
    testsupport::expectclaimsexact(kernel->divide, [kernel](std::int32_t k) { return claimof(kernel, k); },
                                   FUSED_MOSTPASSES);
}

TEST_P(exactdivision, IsExactForTheLargestDivisorOfEachRunAtThePlansPassCount)
{
    for (const auto& edge : testsupport::fusededges()) {
        const std::int32_t n = edge.first;
        const std::int32_t cellcount = n * 10 / 3;
        const batchplan plan = planwith(GetParam(), cellcount);
        EXPECT_EQ(testsupport::firstinexactdivision(GetParam()->divide, claimof(GetParam(), plan.fusedpasses),
                                                    {2 * cellcount - 1}),
                  "")
            << "N = " << n;
        EXPECT_LE(2 * cellcount - 1, fusedlargestdivisor(GetParam()->form, plan.fusedpasses)) << "N = " << n;
        EXPECT_LE(4 * tenpower(plan.fusedpasses) * cellcount, std::int64_t{1} << 53) << "N = " << n;
    }
}

INSTANTIATE_FOR_EACH_VARIANT(exactdivision);
