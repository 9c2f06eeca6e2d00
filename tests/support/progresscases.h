#pragma once

#include <cstdint>

namespace testsupport {

// What both kinds of program draw for `done` of `total` after `elapsed`
// seconds (for a text of `total` digits): the same words, the same
// rounding, seconds, then minutes, then hours and minutes, never an
// exponent.
struct progresscase {
    std::int32_t done;
    std::int32_t total;
    double elapsed;
    const char* line;
};

inline constexpr progresscase progresscases[] = {
    {42000, 100000, 2.1, "42% of 100000 digits, about 3 s left"},
    {1, 2, 119.0, "50% of 2 digits, about 119 s left"},
    {1, 2, 120.0, "50% of 2 digits, about 2 min left"},
    {1, 2, 149.0, "50% of 2 digits, about 2 min left"},
    {1, 2, 150.0, "50% of 2 digits, about 3 min left"},  // half a minute rounds up
    {1, 2, 7169.0, "50% of 2 digits, about 119 min left"},
    {1, 2, 7170.0, "50% of 2 digits, about 2 h 0 min left"},
    {1, 2, 149820.0, "50% of 2 digits, about 41 h 37 min left"},  // a two-day run
    {10, 1000000, 1.0, "0% of 1000000 digits, about 27 h 47 min left"},
    {1, 1000001, 60.0, "0% of 1000001 digits, about 16666 h 40 min left"},  // a million minutes
    {1, 16953819, 1e9, "0% of 16953819 digits, about 1000000 h 0 min left"},  // capped
    {7, 7, 3.0, "100% of 7 digits, about 0 s left"},
};

}  // namespace testsupport
