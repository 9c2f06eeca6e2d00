#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#if !defined(PI_TEST_SWEEP)
#define PI_TEST_SWEEP 1000
#endif

namespace testsupport {

// The last digit count of the sweeps that compare a fast text with its
// reference for every count from 0. The build chooses it (shorter under an
// emulator); PI_TEST_SWEEP in the environment shortens or lengthens one run.
inline std::int32_t sweeplimit()
{
    const char* fromenvironment = std::getenv("PI_TEST_SWEEP");
    if (fromenvironment != nullptr && *fromenvironment != '\0') {
        return static_cast<std::int32_t>(std::stol(fromenvironment));
    }
    return PI_TEST_SWEEP;
}

// The counts a sweep compares: every one from 0 to sweeplimit(), or, in a
// thin sweep (sanitized and emulated builds, where each run costs many
// times more), every one to 300 and then every 7th.
inline std::vector<std::int32_t> sweepcounts()
{
#if defined(PI_TEST_THIN) && PI_TEST_THIN
    constexpr std::int32_t stride = 7;
#else
    constexpr std::int32_t stride = 1;
#endif
    std::vector<std::int32_t> counts;
    for (std::int32_t n = 0; n <= sweeplimit(); n += n < 300 ? 1 : stride) {
        counts.push_back(n);
    }
    return counts;
}

// Whether the build is for an emulator, where a run of many cells costs
// minutes: tests at large counts then keep their hardest case alone.
inline bool emulated()
{
#if defined(PI_TEST_EMULATED) && PI_TEST_EMULATED
    return true;
#else
    return false;
#endif
}

}  // namespace testsupport
