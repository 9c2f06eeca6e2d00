#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "randomcells.h"
#include "sweep.h"

namespace testsupport {

// The raw digits of whole batches over some cells, and the cells they
// leave: what the float lanes must leave as the doubles do.
struct batchesrun {
    std::vector<int> digits;
    std::vector<double> cells;
    bool operator==(const batchesrun&) const = default;
};

// A subsystem's batches of one kind over cellcount cells, from the start
// or (start not empty) from the given cells.
using batchesrunner = std::function<batchesrun(std::int32_t cellcount, const std::vector<std::int32_t>& start)>;

// The whole texts up to the largest count that fits would take seconds;
// the first batches of such a run meet every cell, and must leave every
// cell and digit as the doubles do: at the most cells a float serves
// (132,452 digits), one fewer, and at a count where the corrected division
// serves the top cells only; from the start and from cells drawn at
// random, which meet more of the dividends a division may get wrong. (A
// quotient one off with its remainder one divisor off stands for the same
// number, and the next pass puts both right: only the division tests see
// the forms' faults, and only where the last pass meets them do the
// cells.) Under an emulator, only the cells drawn at random at the most
// cells.
inline void expectfloatbatchesleavewhatdoublesleave(const batchesrunner& infloats, const batchesrunner& indoubles,
                                                     std::int32_t mostcells)
{
    std::vector<std::int32_t> cellcounts = {132452 * 10 / 3, 132452 * 10 / 3 - 1, 300001};
    cellcounts.resize(emulated() ? 1 : cellcounts.size());
    for (const std::int32_t cellcount : cellcounts) {
        ASSERT_LE(cellcount, mostcells);
        std::vector<std::vector<std::int32_t>> starts = {randomcells(cellcount, 1)};
        if (!emulated()) {
            starts.push_back({});
        }
        for (const auto& start : starts) {
            EXPECT_TRUE(infloats(cellcount, start) == indoubles(cellcount, start))
                << cellcount << " cells" << (start.empty() ? ", from the start" : ", drawn at random");
        }
    }
}

}  // namespace testsupport
