#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// Where the batch-edge tests put the crossing between the floats below
// and the doubles above, besides where a run puts it: the lowest cell, a
// batch's length from cell 0 and one past it, and the middle, each only
// where both regions keep cells.
inline std::vector<std::int32_t> forcedcrossings(std::int32_t batchpasses, std::int32_t cellcount)
{
    std::vector<std::int32_t> crossings;
    for (const std::int32_t crossing : {1, batchpasses, batchpasses + 1, cellcount / 2}) {
        if (crossing > 0 && crossing < cellcount) {
            crossings.push_back(crossing);
        }
    }
    return crossings;
}

}  // namespace testsupport
