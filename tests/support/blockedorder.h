#pragma once

// What the blocked order of batches is tried with: blocks and groups small
// enough that small counts cross many blocks and several groups, and the
// counts around their edges.

#include <cstdint>
#include <utility>
#include <vector>

namespace testsupport {

// Blocks of cells and batches a group: a block below a chunk, one a few
// chunks long, and blocks many batches long.
inline std::vector<std::pair<std::int32_t, std::int32_t>> blocksandgroups()
{
    return {{1, 2}, {37, 3}, {300, 8}, {1000, 5}};
}

// Counts for a batch of `passes` passes fusing k, with groups of `group`:
// one group less a pass, whole, and a pass more, and two groups and a
// pass; and the counts whose cells are a block, less one and one more
// (10 N / 3 cells, 3 blocks for every 10 digits).
inline std::vector<std::int32_t> blockedcounts(std::int32_t passes, std::int32_t k, std::int32_t group,
                                               std::int32_t blockcells, std::int32_t most)
{
    std::vector<std::int32_t> counts = {0, 1, 2};
    for (const std::int32_t n : {group * passes * k - 1, group * passes * k, group * passes * k + 1,
                                 2 * group * passes * k + k, blockcells * 3 / 10, blockcells * 3 / 10 + 1,
                                 2 * blockcells * 3 / 10 + 1}) {
        if (n > 2 && n <= most) {
            counts.push_back(n);
        }
    }
    return counts;
}

// Cells top - count + 1 to top of a spigot after `passes` passes by
// `power` from the top down with no carry entering, given them before:
// what a batch leaves on the cells it has finished, at any count.
inline std::vector<std::int64_t> toppasses(std::vector<std::int64_t> cells, std::int64_t top, std::int32_t passes,
                                           std::int64_t power)
{
    for (std::int32_t p = 0; p < passes; ++p) {
        std::int64_t carry = 0;
        for (std::size_t i = cells.size(); i-- > 0;) {
            const std::int64_t j = top - static_cast<std::int64_t>(cells.size() - 1 - i);
            const std::int64_t x = power * cells[i] + carry * (j + 1);
            carry = x / (2 * j + 1);
            cells[i] = x % (2 * j + 1);
        }
    }
    return cells;
}

// The cells of the largest count the programs take.
inline constexpr std::int32_t largestcellcount = 16953818 * 10 / 3;

}  // namespace testsupport
