#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

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

}  // namespace testsupport
