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
    const generator::batchplan plan = generator::planwith(variant, cellcount);
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

// The plans a variant is tried with besides its own, with the doubles
// running every cell from the crossing up: a float variant below its own
// doubles, a double one above some float variant.
std::vector<generator::batchplan> forcedplans(const batchvariant& variant, std::int32_t cellcount, bool insweep)
{
    std::vector<generator::batchplan> plans;
    const bool infloats = variant.cellsin == generator::precision::floats;
    const batchvariant* floats = infloats ? &variant : floatsbeneath();
    if (floats == nullptr) {
        return plans;
    }
    for (const std::int32_t crossing : testsupport::forcedcrossings(batchpasses, cellcount, insweep)) {
        generator::batchplan plan = generator::planwith(*floats, cellcount, crossing);
        plan.doubles = infloats ? plan.doubles : &variant;
        plans.push_back(plan);
    }
    return plans;
}

// The texts of a variant for a count, with its own plan and the forced
// ones, against what they must be.
void expecttextsofeverycrossing(const batchvariant& variant, std::int32_t n, const std::string& expected,
                                bool insweep)
{
    ASSERT_EQ(batchedtext(variant, n), expected) << variant.name << ", N = " << n;
    for (const generator::batchplan& plan : forcedplans(variant, n * 10 / 3, insweep)) {
        ASSERT_EQ(poll(generator::spigot(n, plan), n), expected)
            << plan.floats->name << " below " << plan.doubles->name << ", N = " << n << ", doubles from cell "
            << plan.crossing;
    }
}

}  // namespace

TEST(batchvariants, EverySupportedVariantMatchesTheOnePassSpigotForEveryCountOfTheSweep)
{
    const auto variants = supportedvariants();
    ASSERT_FALSE(variants.empty());
    for (std::int32_t n = 0; n <= testsupport::sweeplimit(); ++n) {
        const std::string expected = onepasstext(n);
        for (const batchvariant* variant : variants) {
            ASSERT_NO_FATAL_FAILURE(expecttextsofeverycrossing(*variant, n, expected, true));
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
        ASSERT_NO_FATAL_FAILURE(expecttextsofeverycrossing(*GetParam(), n, onepasstext(n), false));
    }
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST(batchvariants, DispatchPicksTheWidestTheProcessorHasInFloatsForTheCellsThatFit)
{
    // Told apart by the processor's features, not by the table.
    for (const std::string& widest : {testsupport::widestvectors(), testsupport::emulatedwidestvectors()}) {
        if (widest.empty()) {
            continue;
        }
        if (widest == "portable") {
            const generator::batchplan plan = generator::fastestbatchplan(1000000);
            EXPECT_EQ(plan.floats, nullptr);
            EXPECT_EQ(plan.doubles->name, widest);
            continue;
        }
        // 132,452 digits take the most cells a float serves; from 132,453
        // the cells above them are doubles.
        for (const std::int32_t n : {0, 1000, 132452, 132453, 200000, 16953818}) {
            const std::int32_t cellcount = n * 10 / 3;
            const generator::batchplan plan = generator::fastestbatchplan(cellcount);
            ASSERT_NE(plan.floats, nullptr);
            EXPECT_EQ(plan.floats->name, widest + "float") << "N = " << n;
            EXPECT_EQ(plan.crossing, std::min(cellcount, 441506)) << "N = " << n;
            if (n > 132452) {
                ASSERT_NE(plan.doubles, nullptr);
                EXPECT_EQ(plan.doubles->name, widest) << "N = " << n;
            } else {
                EXPECT_EQ(plan.doubles, nullptr) << "N = " << n;
            }
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
