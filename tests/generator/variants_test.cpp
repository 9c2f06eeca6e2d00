// Every batch variant this build has, run directly whether or not the
// dispatch would pick it, against the one-pass spigot (one ldiv per cell).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "eachvariant.h"
#include "onepassspigot.h"
#include "spigot.h"
#include "batchesrun.h"
#include "sweep.h"
#include "widestvectors.h"

using generator::batchpasses;
using generator::batchvariant;

namespace {

template <typename generatortype>
std::string poll(generatortype digits, std::int32_t ndigits)
{
    std::string text;
    for (std::int32_t i = 0; i <= ndigits; ++i) {
        text += digits.nextdigit();
    }
    return text;
}

std::string onepasstext(std::int32_t n) { return poll(onepass::spigot(n), n); }

std::string batchedtext(const batchvariant& variant, std::int32_t n)
{
    return poll(generator::spigot(n, variant), n);
}

std::vector<const batchvariant*> supportedvariants()
{
    std::vector<const batchvariant*> supported;
    for (const batchvariant& variant : generator::batchvariants()) {
        if (variant.supported()) {
            supported.push_back(&variant);
        }
    }
    return supported;
}

class textpervariant : public eachvariant {};
class floatpervariant : public eachvariant {};

// The raw digits of whole batches over cellcount cells and the cells they
// leave: from the start, or from the given cells (each a remainder its
// divisor allows).
testsupport::batchesrun runbatches(const batchvariant& variant, std::int32_t cellcount, std::int32_t batches,
                      const std::vector<std::int32_t>& start)
{
    generator::spigotbatch state(cellcount, variant.cellsin);
    state.start();
    const bool infloats = variant.cellsin == generator::precision::floats;
    for (std::size_t j = 0; j < start.size(); ++j) {
        if (infloats) {
            state.floatcells[j] = static_cast<float>(start[j]);
        } else {
            state.cells[j] = start[j];
        }
    }
    testsupport::batchesrun run;
    std::vector<std::int8_t> digits(batchpasses);
    for (std::int32_t b = 0; b < batches; ++b) {
        variant.run(state, digits.data());
        run.digits.insert(run.digits.end(), digits.begin(), digits.end());
    }
    run.cells = infloats ? std::vector<double>(state.floatcells.begin(), state.floatcells.end()) : state.cells;
    return run;
}

}  // namespace

TEST(batchvariants, EverySupportedVariantMatchesTheOnePassSpigotForEveryCountOfTheSweep)
{
    const auto variants = supportedvariants();
    ASSERT_FALSE(variants.empty());
    for (std::int32_t n = 0; n <= testsupport::sweeplimit(); ++n) {
        const std::string expected = onepasstext(n);
        for (const batchvariant* variant : variants) {
            ASSERT_EQ(batchedtext(*variant, n), expected) << variant->name << ", N = " << n;
        }
    }
}

TEST_P(textpervariant, MatchesTheOnePassSpigotAroundBatchesAndForLargerCounts)
{
    // Under an emulator the one-pass texts past a few thousand digits cost
    // minutes each.
    std::vector<std::int32_t> counts = {1500, 3001};
    for (const std::int32_t batches : testsupport::emulated() ? std::vector<std::int32_t>{8}
                                                              : std::vector<std::int32_t>{8, 20}) {
        for (const std::int32_t offset : {-1, 0, 1}) {
            counts.push_back(batches * batchpasses + offset);
        }
    }
    for (const std::int32_t n : counts) {
        ASSERT_EQ(batchedtext(*GetParam(), n), onepasstext(n)) << "N = " << n;
    }
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST(batchvariants, DispatchPicksTheWidestTheProcessorHasInFloatsWhereTheCellsFit)
{
    // Told apart by the processor's features, not by the table.
    for (const std::string& widest : {testsupport::widestvectors(), testsupport::emulatedwidestvectors()}) {
        if (widest.empty()) {
            continue;
        }
        const std::string infloats = widest == "portable" ? widest : widest + "float";
        EXPECT_EQ(generator::fastestbatchvariant(0).name, infloats);
        // 132,452 digits take the most cells a float serves; 132,453 more.
        EXPECT_EQ(generator::fastestbatchvariant(132452 * 10 / 3).name, infloats);
        EXPECT_EQ(generator::fastestbatchvariant(132453 * 10 / 3).name, widest);
    }
}

TEST_P(floatpervariant, LeavesTheCellsAndDigitsOfTheDoubleVariantAtTheLargestCountsThatFit)
{
    const std::int32_t batches = testsupport::emulated() ? 1 : 2;
    const auto by = [batches](const batchvariant& variant) {
        return [&variant, batches](std::int32_t cellcount, const std::vector<std::int32_t>& start) {
            return runbatches(variant, cellcount, batches, start);
        };
    };
    testsupport::expectfloatbatchesleavewhatdoublesleave(by(*GetParam()), by(generator::fastestbatchvariant(INT32_MAX)),
                                                         GetParam()->mostcells);
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatpervariant, generator::precision::floats);
