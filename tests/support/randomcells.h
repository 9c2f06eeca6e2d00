#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace testsupport {

// cellcount cells drawn at random, each a remainder its divisor allows
// (cell j's divisor is 2j + 1): they meet more of the dividends a division
// may get wrong than the cells a run starts from.
inline std::vector<std::int32_t> randomcells(std::int32_t cellcount, std::uint32_t seed)
{
    std::mt19937 draw(seed);
    std::vector<std::int32_t> cells;
    for (std::int32_t j = 0; j < cellcount; ++j) {
        cells.push_back(std::uniform_int_distribution<std::int32_t>(0, 2 * j)(draw));
    }
    return cells;
}

}  // namespace testsupport
