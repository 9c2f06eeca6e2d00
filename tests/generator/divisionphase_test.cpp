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
#include "randomcells.h"
#include "rotatedpasses.h"
#include "sweep.h"

namespace {

testsupport::divisionprobe* probe = nullptr;

typedef float probedvector __attribute__((vector_size(16)));
constexpr int probedwidth = 4;

// Both forms lane by lane in plain C++, each call reported to the probe.
struct probeddivision {
    static probedvector quotient(const probedvector& x, const probedvector& reciprocal)
    {
        float xs[probedwidth], reciprocals[probedwidth];
        probedvector q;
        for (int l = 0; l < probedwidth; ++l) {
            xs[l] = x[l];
            reciprocals[l] = reciprocal[l];
            q[l] = std::floor(std::fma(x[l], reciprocal[l], generator::floatdivide::bias));
        }
        probe->biased(xs, reciprocals, probedwidth);
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
        probe->corrected(divisors, probedwidth);
    }
};

constexpr int probedvectors = 4;
constexpr int probedpasses = probedvectors * probedwidth;

}  // namespace

TEST(floatbatch, CorrectsTheDivisionInEveryChunkWithAPassPastTheBiasFormsLastCell)
{
    using generator::floatdivide::lastbiascell;
    // Past the last bias cell by one cell and by a few chunks, and short
    // of it by a few cells, where the first chunks, at the top, reach past
    // it; the cells drawn at random, so that no lane divides a zero.
    std::vector<std::int32_t> cellcounts = {lastbiascell + 2, lastbiascell + 3 * probedpasses + 5,
                                            lastbiascell - 5};
    cellcounts.resize(testsupport::emulated() ? 1 : cellcounts.size());
    for (const std::int32_t cellcount : cellcounts) {
        SCOPED_TRACE(std::to_string(cellcount) + " cells");
        testsupport::divisionprobe watched{lastbiascell, probedvectors};
        probe = &watched;
        const std::vector<std::int32_t> start = testsupport::randomcells(cellcount, 7);
        std::vector<std::int64_t> plaincells(start.begin(), start.end());
        std::vector<float> cells(start.begin(), start.end());
        std::vector<float> reciprocals;
        for (std::int32_t j = 0; j < cellcount; ++j) {
            reciprocals.push_back(1.0f / static_cast<float>(2 * j + 1));
        }
        double carries[probedpasses];
        generator::rotated::runpasses<probedvector, probedvectors, probeddivision>(cells.data(), reciprocals.data(),
                                                                                   cellcount, carries);

        EXPECT_EQ(watched.biasedpastedge, 0) << "lanes past the last bias cell divided in the bias form";
        EXPECT_GT(watched.correcteddivisions, 0);
        EXPECT_EQ(watched.correctedtoolow, 0) << "chunks with no pass past the last bias cell corrected";

        // The probed division makes sound passes: what plain passes leave.
        const std::vector<std::int64_t> plaincarries = testsupport::plainpasses(plaincells, probedpasses);
        for (int p = 0; p < probedpasses; ++p) {
            ASSERT_EQ(carries[p], static_cast<double>(plaincarries[p])) << "pass " << p;
        }
        for (std::int32_t j = 0; j < cellcount; ++j) {
            ASSERT_EQ(cells[j], static_cast<float>(plaincells[j])) << "cell " << j;
        }
        probe = nullptr;
    }
}
