// Which division each chunk of a float batch makes: the rotated passes run
// over a division that watches every call (divisionprobe.h). The bias form
// is wrong for a few dividends just past its last cell, too few for any
// text or batch comparison to meet, so the choice itself is checked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "divisionprobe.h"
#include "floatdivide.h"
#include "rotatedpasses.h"

namespace {

typedef float probedvector __attribute__((vector_size(16)));
constexpr int probedwidth = 4;

// Both forms lane by lane in plain C++, each call reported to the probe.
struct probeddivision {
    static probedvector quotient(const probedvector& x, const probedvector& reciprocal, const probedvector&)
    {
        float xs[probedwidth], reciprocals[probedwidth];
        probedvector q;
        for (int l = 0; l < probedwidth; ++l) {
            xs[l] = x[l];
            reciprocals[l] = reciprocal[l];
            q[l] = std::floor(std::fma(x[l], reciprocal[l], generator::floatdivide::bias));
        }
        testsupport::activeprobe->biased(xs, reciprocals, probedwidth);
        return q;
    }
    static void correcteddivide(const probedvector& x, const probedvector& reciprocal, const probedvector& divisor,
                                probedvector& q, probedvector& r)
    {
        float divisors[probedwidth];
        for (int l = 0; l < probedwidth; ++l) {
            divisors[l] = divisor[l];
            const float q0 = std::trunc(std::fma(x[l], reciprocal[l], generator::floatdivide::correctionbias));
            const float r0 = std::fma(-q0, divisor[l], x[l]);
            q[l] = r0 >= divisor[l] ? q0 + 1.0f : q0;
            r[l] = r0 >= divisor[l] ? r0 - divisor[l] : r0;
        }
        testsupport::activeprobe->corrected(divisors, probedwidth);
    }
};

constexpr int probedvectors = 4;
constexpr int probedpasses = probedvectors * probedwidth;

}  // namespace

TEST(floatbatch, CorrectsTheDivisionInEveryChunkWithAPassPastTheBiasFormsLastCell)
{
    testsupport::expectchunksdividebytherule(
        generator::floatdivide::lastbiascell, probedvectors, probedpasses,
        [](std::vector<float>& cells, double* carries) {
            std::vector<float> reciprocals;
            for (std::size_t j = 0; j < cells.size(); ++j) {
                reciprocals.push_back(1.0f / static_cast<float>(2 * j + 1));
            }
            generator::rotated::runpasses<probedvector, probedvectors, probeddivision>(
                {cells.data(), reciprocals.data(), static_cast<std::int32_t>(cells.size()), 0}, nullptr, carries,
                {10.0, 0.0});
        });
}
