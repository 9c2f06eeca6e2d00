// Every batch variant this build has, run directly whether or not the
// dispatch would pick it, against the one-pass spigot (one ldiv per cell).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "eachvariant.h"
#include "onepassspigot.h"
#include "spigot.h"
#include "batchesrun.h"
#include "sweep.h"
#include "crossings.h"
#include "fusededges.h"
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
    // A pass at a time, as doubles run above the floats.
    const generator::batchplan plan = generator::planwith(variant, cellcount, INT32_MAX, 1);
    generator::spigotbatch state(cellcount, plan.crossing);
    state.start();
    for (std::size_t j = 0; j < start.size(); ++j) {
        state.setcell(static_cast<std::int32_t>(j), start[j]);
    }
    testsupport::batchesrun run;
    std::vector<std::int8_t> digits(batchpasses);
    for (std::int32_t b = 0; b < batches; ++b) {
        generator::runbatch(plan, state, digits.data());
        run.digits.insert(run.digits.end(), digits.begin(), digits.end());
    }
    for (std::int32_t j = 0; j < cellcount; ++j) {
        run.cells.push_back(state.cell(j));
    }
    return run;
}

// The float variant a double one runs above in the tests, where the build
// has one this processor supports.
const batchvariant* floatsbeneath()
{
    for (const batchvariant& variant : generator::batchvariants()) {
        if (variant.cellsin == generator::precision::floats && variant.supported()) {
            return &variant;
        }
    }
    return nullptr;
}

// The plans a variant is tried with besides its own: a double one at
// every k from 1 to the most a plan gives it, and with the crossing forced
// where that is asked, a float variant below its own doubles, a double one
// above some float variant.
std::vector<generator::batchplan> forcedplans(const batchvariant& variant, std::int32_t cellcount,
                                              bool withcrossings)
{
    std::vector<generator::batchplan> plans;
    const bool infloats = variant.cellsin == generator::precision::floats;
    for (std::int32_t k = 1; k <= (infloats ? 1 : generator::fused::mostpasses); ++k) {
        plans.push_back(generator::planwith(variant, cellcount, INT32_MAX, k));
    }
    const batchvariant* floats = infloats ? &variant : floatsbeneath();
    if (floats == nullptr || !withcrossings) {
        return plans;
    }
    for (const std::int32_t crossing : testsupport::forcedcrossings(batchpasses, cellcount)) {
        generator::batchplan plan = generator::planwith(*floats, cellcount, crossing);
        plan.doubles = infloats ? plan.doubles : &variant;
        plans.push_back(plan);
    }
    return plans;
}

// The texts of a variant for a count, with its own plan and the forced
// ones, against what they must be.
void expecttextsofeveryplan(const batchvariant& variant, std::int32_t n, const std::string& expected,
                            bool withcrossings)
{
    ASSERT_EQ(batchedtext(variant, n), expected) << variant.name << ", N = " << n;
    for (const generator::batchplan& plan : forcedplans(variant, n * 10 / 3, withcrossings)) {
        ASSERT_EQ(poll(generator::spigot(n, plan), n), expected)
            << (plan.floats != nullptr ? plan.floats->name : "") << " below " << plan.doubles->name << ", N = " << n
            << ", doubles from cell " << plan.crossing << ", passes fused " << plan.fusedpasses;
    }
}

}  // namespace

TEST(batchvariants, EverySupportedVariantMatchesTheOnePassSpigotForEveryCountOfTheSweepAtEveryFusedPassCount)
{
    const auto variants = supportedvariants();
    ASSERT_FALSE(variants.empty());
    for (const std::int32_t n : testsupport::sweepcounts()) {
        const std::string expected = onepasstext(n);
        for (const batchvariant* variant : variants) {
            ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(*variant, n, expected, false));
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
        ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(*GetParam(), n, onepasstext(n), true));
    }
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST(batchvariants, DispatchPicksTheWidestDoublesTheProcessorHasFusingWhatTheirDivisionAllows)
{
    // Told apart by the processor's features, not by the table.
    for (const std::string& widest : {testsupport::widestvectors(), testsupport::emulatedwidestvectors()}) {
        if (widest.empty()) {
            continue;
        }
        for (const auto& [n, k] : widest == "portable" ? testsupport::fusededgeswithtworoundings
                                                       : testsupport::fusededgeswithfma) {
            const generator::batchplan plan = generator::fastestbatchplan(n * 10 / 3);
            EXPECT_EQ(plan.floats, nullptr) << "N = " << n;
            EXPECT_EQ(plan.doubles->name, widest) << "N = " << n;
            EXPECT_EQ(plan.fusedpasses, k) << "N = " << n;
        }
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
    testsupport::expectfloatbatchesleavewhatdoublesleave(by(*GetParam()), by(GetParam()[-1]), GetParam()->mostcells);
}

TEST_P(floatpervariant, BelowItsDoublesLeavesTheCellsAndDigitsOfTheDoublesAlone)
{
    // Past 132,452 digits the doubles run the cells above the floats and
    // hand them their carries: every cell of both, and every digit, must
    // be what the doubles alone leave. From the start and from cells
    // drawn at random; under an emulator the latter at the first count.
    const batchvariant& doubles = GetParam()[-1];
    std::vector<std::int32_t> counts = {132453, 150000, 200000};
    counts.resize(testsupport::emulated() ? 1 : counts.size());
    for (const std::int32_t n : counts) {
        const std::int32_t cellcount = n * 10 / 3;
        ASSERT_EQ(generator::planwith(*GetParam(), cellcount).doubles, &doubles);
        ASSERT_EQ(generator::planwith(*GetParam(), cellcount).fusedpasses, 1);
        std::vector<std::vector<std::int32_t>> starts = {testsupport::randomcells(cellcount, 2)};
        if (!testsupport::emulated()) {
            starts.push_back({});
        }
        for (const auto& start : starts) {
            EXPECT_TRUE(runbatches(*GetParam(), cellcount, 1, start) == runbatches(doubles, cellcount, 1, start))
                << "N = " << n << (start.empty() ? ", from the start" : ", drawn at random");
        }
    }
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatpervariant, generator::precision::floats);
