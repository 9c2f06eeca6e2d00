// The kernels' exact division by a reciprocal, at the edges of its claim:
// x = k*d - 1, k*d, k*d + 1 over the whole range of divisors the data model
// has and of quotients a pass produces; and the float forms at both ends
// of every quotient's run of dividends over every cell each serves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "divisionboundaries.h"
#include "eachvariant.h"
#include "exactdivision.h"
#include "floatdivision.h"

namespace {

static_assert(EXACTDIVISION_MAXDIVISOR == testsupport::largestdivisor &&
                  EXACTDIVISION_MAXQUOTIENT == testsupport::largestquotient,
              "the checks cover the range the division claims");

testsupport::doubledivisionchecker checkerfor(const batchvariant* kernel)
{
    return {kernel->name, kernel->divide};
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

TEST_P(exactdivision, SmallDivisorsOverEveryQuotient)
{
    auto checker = checkerfor(GetParam());
    for (std::int64_t d = 1; d <= 4096; ++d) {
        checker.addboundaries(d, 0, testsupport::largestquotient + 1);
    }
}

TEST_P(exactdivision, DivisorsAcrossTheWholeRangeOverPassQuotients)
{
    auto checker = checkerfor(GetParam());
    testsupport::eachcheckeddivisor([&](std::int64_t d) { checker.addpassboundaries(d); });
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
