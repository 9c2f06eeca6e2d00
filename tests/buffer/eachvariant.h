#pragma once

// Runs a test once per kernel this build has, named after the kernel, and
// skips the kernels this processor cannot run.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "kernels/kernels.h"

inline void PrintTo(const batchvariant* kernel, std::ostream* os) { *os << kernel->name; }

class eachvariant : public ::testing::TestWithParam<const batchvariant*> {
protected:
    void SetUp() override
    {
        if (!GetParam()->supported()) {
            GTEST_SKIP() << GetParam()->name << " is not supported by this processor";
        }
    }
};

inline std::string variantname(const ::testing::TestParamInfo<const batchvariant*>& info)
{
    return info.param->name;
}

#define INSTANTIATE_FOR_EACH_VARIANT(suite)                                                     \
    INSTANTIATE_TEST_SUITE_P(all, suite,                                                       \
                             ::testing::ValuesIn(batchvariants, batchvariants + batchvariantcount), \
                             variantname)

// The kernels of one precision, for tests of what only that precision has.
enum cellprecision { doublecells, floatcells };
inline std::vector<const batchvariant*> variantsin(cellprecision precision)
{
    std::vector<const batchvariant*> chosen;
    for (int32_t i = 0; i < batchvariantcount; ++i) {
        if ((batchvariants[i]->infloats != 0) == (precision == floatcells)) {
            chosen.push_back(batchvariants[i]);
        }
    }
    return chosen;
}

// Some builds have no single-precision kernel (32-bit x86 keeps doubles).
#define INSTANTIATE_FOR_EACH_VARIANT_IN(suite, precision)                                   \
    GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(suite);                                 \
    INSTANTIATE_TEST_SUITE_P(all, suite, ::testing::ValuesIn(variantsin(precision)), variantname)
