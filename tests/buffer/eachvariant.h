#pragma once

// Runs a test once per kernel this build has, named after the kernel, and
// skips the kernels this processor cannot run.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

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
