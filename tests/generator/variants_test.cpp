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
#include "randomcells.h"
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
struct batchesrun {
    std::vector<std::int8_t> digits;
    std::vector<double> cells;
    bool operator==(const batchesrun&) const = default;
};

batchesrun runbatches(const batchvariant& variant, std::int32_t cellcount, std::int32_t batches,
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
    batchesrun run;
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

// The whole texts up to the largest count that fits would take seconds a
// variant; its first batches meet every cell, and must leave every cell
// and digit as the doubles do: at the most cells a float serves (132,452
// digits), and where the corrected division serves the top cells only;
// from the start and from cells drawn at random, which meet more of the
// dividends a division may get wrong. (A quotient one off with its
// remainder one divisor off stands for the same number, and the next pass
// puts both right: only the division tests see the forms' faults.)
TEST_P(floatpervariant, LeavesTheCellsAndDigitsOfTheDoubleVariantAtTheLargestCountsThatFit)
{
    const batchvariant& doubles = generator::fastestbatchvariant(INT32_MAX);
    const std::int32_t batches = testsupport::emulated() ? 1 : 2;
    // Under an emulator, only the cells drawn at random at the most cells.
    std::vector<std::int32_t> cellcounts = {132452 * 10 / 3, 132452 * 10 / 3 - 1, 300001};
    cellcounts.resize(testsupport::emulated() ? 1 : cellcounts.size());
    for (const std::int32_t cellcount : cellcounts) {
        ASSERT_LE(cellcount, GetParam()->mostcells);
        std::vector<std::vector<std::int32_t>> starts = {testsupport::randomcells(cellcount, 1)};
        if (!testsupport::emulated()) {
            starts.push_back({});
        }
        for (const auto& start : starts) {
            EXPECT_TRUE(runbatches(*GetParam(), cellcount, batches, start) ==
                        runbatches(doubles, cellcount, batches, start))
                << cellcount << " cells" << (start.empty() ? ", from the start" : ", drawn at random");
        }
    }
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatpervariant, generator::precision::floats);
