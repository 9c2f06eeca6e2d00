#pragma once

#include <cstdint>
#include <vector>

#include "sweep.h"

namespace testsupport {

// Where the tests put the crossing between the floats below and the
// doubles above, besides where a run puts it: the lowest cell, a batch's
// length from cell 0 and one past it, and the middle, each only where both
// regions keep cells. An emulated build's sweeps try the middle alone, as
// every count costs there; the batch-edge tests try them all.
inline std::vector<std::int32_t> forcedcrossings(std::int32_t batchpasses, std::int32_t cellcount, bool insweep)
{
    std::vector<std::int32_t> crossings;
    const std::vector<std::int32_t> candidates =
        insweep && emulated() ? std::vector<std::int32_t>{cellcount / 2}
                              : std::vector<std::int32_t>{1, batchpasses, batchpasses + 1, cellcount / 2};
    for (const std::int32_t crossing : candidates) {
        if (crossing > 0 && crossing < cellcount) {
            crossings.push_back(crossing);
        }
    }
    return crossings;
}

}  // namespace testsupport
