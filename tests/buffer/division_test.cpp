// The kernels' exact division by a reciprocal, at the edges of its claim
// for passes fused k at a time: the deciding dividends of the smallest
// divisors and the largest each k covers, and of the largest divisor of
// each run the plan gives that k; and the float forms at both ends of
// every quotient's run of dividends over every cell each serves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "kernels/kernels.h"

#include "divisionboundaries.h"
#include "fusededges.h"
#include "eachvariant.h"
#include "exactdivision.h"
#include "floatdivision.h"

namespace {

testsupport::fusedclaim claimof(const batchvariant* kernel, std::int32_t k)
{
    return {k, fusedbias(kernel->form, k), fusedlargestdivisor(kernel->form, k)};
}

// A kernel's float division, or the scalar forms, over arrays.
testsupport::floatdivide floatdivisionof(const batchvariant* kernel)
{
    return [kernel](const float* x, const float* reciprocals, const float* divisors, float* quotients,
                    float* remainders, std::int32_t count, bool corrected) {
        const floatdivisions divisions = {x, reciprocals, divisors, quotients, remainders, count};
        kernel->dividefloats(&divisions, corrected ? 1 : 0);
    };
}

void scalarfloatdivision(const float* x, const float* reciprocals, const float* divisors, float* quotients,
                         float* remainders, std::int32_t count, bool corrected)
{
    for (std::int32_t i = 0; i < count; ++i) {
        quotients[i] = corrected ? floatquotientcorrected(x[i], reciprocals[i], divisors[i])
                                 : floatquotientbiased(x[i], reciprocals[i]);
        remainders[i] = std::fma(-quotients[i], divisors[i], x[i]);
    }
}

class exactdivision : public eachvariant {};
class floatdivisionpervariant : public eachvariant {};

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
                                                    2 * cellcount - 1, 2 * cellcount - 1),
                  "")
            << "N = " << n;
        EXPECT_LE(2 * cellcount - 1, fusedlargestdivisor(GetParam()->form, plan.fusedpasses)) << "N = " << n;
        EXPECT_LE(4 * tenpower(plan.fusedpasses) * cellcount, std::int64_t{1} << 53) << "N = " << n;
    }
}

INSTANTIATE_FOR_EACH_VARIANT_IN(exactdivision, doublecells);

TEST(floatdivision, EachFormIsExactAtEveryBoundaryOfEveryCellItServes)
{
    testsupport::expectfloatformsexact(scalarfloatdivision, FLOATDIVISION_LASTBIASCELL, FLOATDIVISION_LASTCELL);
}

TEST_P(floatdivisionpervariant, EachFormIsExactAtEveryBoundaryOfEveryCellItServes)
{
    testsupport::expectfloatformsexact(floatdivisionof(GetParam()), FLOATDIVISION_LASTBIASCELL,
                                       FLOATDIVISION_LASTCELL);
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatdivisionpervariant, floatcells);
