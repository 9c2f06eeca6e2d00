#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "randomcells.h"
#include "sweep.h"

namespace testsupport {

// Watches which division a float batch makes on which cells, through lanes
// a test builds around the batch template: every division goes through
// biased() or corrected() below, a vector at a time. A chunk of V steps
// must take the corrected form while any pass of it is on a cell past the
// bias form's last one, and the bias form otherwise.
//
// Where a chunk at `bottom` divides, lane l of vector i at step k holds
// cell bottom - k + V l + i, so its cells span bottom - V + 1 to bottom +
// P - 1. Hence:
// - the bias form never meets a cell past its last one (a lane above the
//   top cell, where x is 0, is exact in any form and is not counted);
// - every corrected division holds a lane at or above the lowest cell a
//   vector's top lane can have in a chunk that must correct: with bottom +
//   P - 1 past the last bias cell, bottom + P - 1 - 2 (V - 1).
struct divisionprobe {
    std::int32_t lastbiascell;
    std::int32_t vectors;
    long biasedpastedge = 0;
    long correcteddivisions = 0;
    long correctedtoolow = 0;

    // Cells past the last bias cell have smaller reciprocals than it.
    float lastbiasreciprocal() const { return 1.0f / static_cast<float>(2 * lastbiascell + 1); }

    void biased(const float* x, const float* reciprocal, int width)
    {
        for (int l = 0; l < width; ++l) {
            biasedpastedge += x[l] != 0.0f && reciprocal[l] < lastbiasreciprocal();
        }
    }

    void corrected(const float* divisor, int width)
    {
        const float highest = *std::max_element(divisor, divisor + width);
        const auto highestcell = static_cast<std::int32_t>((highest - 1.0f) / 2.0f);
        ++correcteddivisions;
        correctedtoolow += highestcell < lastbiascell + 1 - 2 * (vectors - 1);
    }
};

// `passes` spigot passes in 32-bit integers over cells[0..], each pass from
// the top cell down to cell 0, whose divisor 1 hands the pass's whole last
// value on as its carry, as a batch leaves cell 0: the carries, one a pass.
inline std::vector<std::int64_t> plainpasses(std::vector<std::int64_t>& cells, int passes)
{
    std::vector<std::int64_t> carries;
    for (int p = 0; p < passes; ++p) {
        std::int64_t q = 0;
        for (auto j = static_cast<std::int64_t>(cells.size()) - 1; j >= 0; --j) {
            const std::int64_t x = 10 * cells[j] + q * (j + 1);
            cells[j] = x % (2 * j + 1);
            q = x / (2 * j + 1);
        }
        carries.push_back(q);
    }
    return carries;
}

// The probe the lanes under test report to, while a check runs.
inline divisionprobe* activeprobe = nullptr;

// Runs run(cells, carries), one batch of `passes` passes over float cells
// in `vectors` vectors, its lanes reporting to activeprobe, and checks
// the division each chunk made: at counts past the last bias cell by one
// cell and by a few chunks, and short of it by a few cells, where the
// first chunks, at the top, reach past it; from cells drawn at random, so
// that no lane divides a zero. Then, so that the probe watched a sound
// batch, the batch must leave the carries and cells plain passes leave.
template <typename batch>
void expectchunksdividebytherule(std::int32_t lastbiascell, int vectors, int passes, batch run)
{
    std::vector<std::int32_t> cellcounts = {lastbiascell + 2, lastbiascell + 3 * passes + 5, lastbiascell - 5};
    cellcounts.resize(emulated() ? 1 : cellcounts.size());
    for (const std::int32_t cellcount : cellcounts) {
        SCOPED_TRACE(std::to_string(cellcount) + " cells");
        divisionprobe watched{lastbiascell, vectors};
        activeprobe = &watched;
        const std::vector<std::int32_t> start = randomcells(cellcount, 7);
        std::vector<float> cells(start.begin(), start.end());
        std::vector<double> carries(static_cast<std::size_t>(passes));
        run(cells, carries.data());
        activeprobe = nullptr;

        EXPECT_EQ(watched.biasedpastedge, 0) << "lanes past the last bias cell divided in the bias form";
        EXPECT_GT(watched.correcteddivisions, 0);
        EXPECT_EQ(watched.correctedtoolow, 0) << "chunks with no pass past the last bias cell corrected";

        std::vector<std::int64_t> plaincells(start.begin(), start.end());
        const std::vector<std::int64_t> plaincarries = plainpasses(plaincells, passes);
        for (int p = 0; p < passes; ++p) {
            ASSERT_EQ(carries[p], static_cast<double>(plaincarries[p])) << "pass " << p;
        }
        for (std::int32_t j = 0; j < cellcount; ++j) {
            ASSERT_EQ(cells[j], static_cast<float>(plaincells[j])) << "cell " << j;
        }
    }
}

}  // namespace testsupport
