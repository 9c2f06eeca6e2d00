#pragma once

// Runs a test once per batch variant this build has, named after the
// variant, and skips the variants this processor cannot run.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "passbatch.h"

namespace generator {
inline void PrintTo(const batchvariant* variant, std::ostream* os) { *os << variant->name; }
}  // namespace generator

class eachvariant : public ::testing::TestWithParam<const generator::batchvariant*> {
protected:
    void SetUp() override
    {
        if (!GetParam()->supported()) {
            GTEST_SKIP() << GetParam()->name << " is not supported by this processor";
        }
    }
};

inline std::vector<const generator::batchvariant*> allvariants()
{
    std::vector<const generator::batchvariant*> all;
    for (const generator::batchvariant& variant : generator::batchvariants()) {
        all.push_back(&variant);
    }
    return all;
}

inline std::string variantname(const ::testing::TestParamInfo<const generator::batchvariant*>& info)
{
    return info.param->name;
}

#define INSTANTIATE_FOR_EACH_VARIANT(suite) \
    INSTANTIATE_TEST_SUITE_P(all, suite, ::testing::ValuesIn(allvariants()), variantname)
