// Each variant's exact division by a reciprocal, at the edges of its
// claim: x = k*d - 1, k*d, k*d + 1 for every divisor up to 4096 and
// divisors sampled across the whole range to 2^27, over the quotients a
// pass produces (at most 108) and each divisor's largest; and the float
// variants' forms at both ends of every quotient's run of dividends over
// every cell each serves.
#include <gtest/gtest.h>

#include <cstdint>

#include "divisionboundaries.h"
#include "eachvariant.h"
#include "floatdivide.h"
#include "passbatch.h"

namespace {

class divisionpervariant : public eachvariant {};
class floatdivisionpervariant : public eachvariant {};

}  // namespace

TEST_P(divisionpervariant, EveryBoundaryAcrossTheWholeDivisorRange)
{
    testsupport::doubledivisionchecker checker(GetParam()->name, GetParam()->divide);
    testsupport::eachcheckeddivisor([&](std::int64_t d) { checker.addpassboundaries(d); });
}

INSTANTIATE_FOR_EACH_VARIANT_IN(divisionpervariant, generator::precision::doubles);

TEST_P(floatdivisionpervariant, EachFormIsExactAtEveryBoundaryOfEveryCellItServes)
{
    const generator::batchvariant& variant = *GetParam();
    const auto divide = [&variant](const float* x, const float* reciprocals, const float* divisors,
                                   float* quotients, float* remainders, std::int32_t count, bool corrected) {
        variant.dividefloats({x, reciprocals, divisors, quotients, remainders, count}, corrected);
    };
    testsupport::expectfloatformsexact(divide, generator::floatdivide::lastbiascell,
                                       generator::floatdivide::lastfloatcell);
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatdivisionpervariant, generator::precision::floats);
