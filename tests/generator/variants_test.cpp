// Every batch variant this build has, run directly whether or not the
// dispatch would pick it, against the one-pass spigot (one ldiv per cell).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "eachvariant.h"
#include "onepassspigot.h"
#include "spigot.h"
#include "sweep.h"
#include "fusededges.h"
#include "widestvectors.h"
#include "blockedorder.h"

#include <map>
#include <memory>

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

// The texts of a variant for a count, with its own plan and at every k
// from 1 to the most a plan gives it, against what they must be.
void expecttextsofeveryplan(const batchvariant& variant, std::int32_t n, const std::string& expected)
{
    ASSERT_EQ(batchedtext(variant, n), expected) << variant.name << ", N = " << n;
    for (std::int32_t k = 1; k <= generator::fused::mostpasses; ++k) {
        const generator::batchplan plan = generator::planwith(variant, n * 10 / 3, k);
        ASSERT_EQ(poll(generator::spigot(n, plan), n), expected)
            << variant.name << ", N = " << n << ", passes fused " << plan.fusedpasses;
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
            ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(*variant, n, expected));
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
            counts.push_back(batches * GetParam()->passes + offset);
        }
    }
    for (const std::int32_t n : counts) {
        ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(*GetParam(), n, onepasstext(n)));
    }
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST(batchvariants, EverySupportedVariantGivesTheSameTextWhateverBlocksAndGroupsItsBatchesRunIn)
{
    // Batches that wait on the one before them at every block, and groups
    // run past the text's end, against the one-pass spigot.
    std::map<std::int32_t, std::string> expected;
    const std::int32_t most = testsupport::emulated() ? 1500 : 4000;
    for (const batchvariant* variant : supportedvariants()) {
        for (const auto& [blockcells, group] : testsupport::blocksandgroups()) {
            for (const std::int32_t k : {1, generator::fused::mostpasses}) {
                for (const std::int32_t n :
                     testsupport::blockedcounts(variant->passes, k, group, blockcells, most)) {
                    generator::batchplan plan = generator::planwith(*variant, n * 10 / 3, k);
                    plan.blockcells = blockcells;
                    plan.groupbatches = group;
                    if (expected.count(n) == 0) {
                        expected[n] = onepasstext(n);
                    }
                    ASSERT_EQ(poll(generator::spigot(n, plan), n), expected[n])
                        << variant->name << ", N = " << n << ", k = " << plan.fusedpasses << ", blocks of "
                        << blockcells << ", groups of " << group;
                }
            }
        }
    }
}

TEST(batchvariants, EverySupportedVariantKeepsTheLargestCellsOfTheLargestCountExact)
{
    // The top of the largest count's cells, each as large as a remainder
    // there gets (2j, below 2^27), through one batch that stops well above
    // cell 0, against the same passes in 64-bit integers.
    if (testsupport::emulated()) {
        GTEST_SKIP() << "too much memory for the emulator; the variants convert cells in every other test";
    }
    const std::int32_t cellcount = testsupport::largestcellcount;
    const std::int32_t top = cellcount - 1;
    const std::int32_t span = 3000;
    for (const batchvariant* variant : supportedvariants()) {
        generator::spigotbatch batch(cellcount, variant->tabled);
        batch.start();
        std::vector<std::int64_t> cells(span);
        for (std::int32_t i = 0; i < span; ++i) {
            const std::int32_t j = top - span + 1 + i;
            batch.cells()[j] = 2 * j - i % 3;
            cells[i] = batch.cells()[j];
        }
        const generator::batchplan plan = generator::planwith(*variant, cellcount);
        const std::int64_t power = generator::fused::power(plan.fusedpasses);
        auto run = std::make_unique<generator::batchrun>();
        variant->advance(batch, *run, top - span + 1,
                         {static_cast<double>(power), generator::fused::bias(variant->division, plan.fusedpasses)});
        const std::vector<std::int64_t> after = testsupport::toppasses(cells, top, variant->passes, power);
        // Cells from bottom + passes up are finished.
        const std::int32_t finished = top - (run->bottom + variant->passes) + 1;
        ASSERT_GT(finished, span / 2) << variant->name;
        for (std::int32_t i = span - finished; i < span; ++i) {
            ASSERT_EQ(batch.cells()[top - span + 1 + i], after[i]) << variant->name << ", cell " << top - span + 1 + i;
        }
    }
}

TEST(batchvariants, DispatchPicksTheWidestDoublesTheProcessorHasInItsFamilysFormFusingWhatTheirDivisionAllows)
{
    // The instruction set told apart by the processor's features and, under
    // an emulator, the variant by what the script knows of the model; not by
    // the table.
    const generator::batchplan chosen = generator::fastestbatchplan(0);
    using generator::fused::form;
    static_assert(static_cast<int>(form::fused) == 0 && static_cast<int>(form::tworoundings) == 1 &&
                      static_cast<int>(form::rounddown) == 2,
                  "numbered as fusededgesof numbers the forms");
    for (const std::string& widest : {testsupport::widestvectors(), testsupport::emulatedwidestvectors()}) {
        if (!widest.empty()) {
            EXPECT_EQ(chosen.variant->instructionset, widest);
        }
    }
    if (const std::string expected = testsupport::emulatedkernel(); !expected.empty()) {
        EXPECT_EQ(chosen.variant->name, expected);
    }
    for (const auto& [n, k] : testsupport::fusededgesof(static_cast<int>(chosen.variant->division))) {
        const generator::batchplan plan = generator::fastestbatchplan(n * 10 / 3);
        EXPECT_EQ(plan.variant, chosen.variant) << "N = " << n;
        EXPECT_EQ(plan.fusedpasses, k) << "N = " << n;
    }
}

TEST(batchvariants, BlocksFillHalfTheSecondLevelCacheAndNoMoreThanTheDefault)
{
    // The cache's size in bytes, then the block's in cells.
    for (const auto& [cache, cells] : std::vector<std::pair<long, std::int32_t>>{
             {0, generator::defaultblockcells}, {256 << 10, 32 << 10}, {1 << 20, 128 << 10}, {2 << 20, 128 << 10}, {8 << 10, 4096}}) {
        EXPECT_EQ(generator::blockcellsfor(cache), cells) << cache;
    }
    EXPECT_EQ(generator::planwith(generator::batchvariants()[0], 1000000).blockcells,
              generator::blockcellsfor(generator::secondlevelcachebytes()));
    // Cells that fit in the smallest block run one batch a group whatever the cache.
    EXPECT_EQ(generator::planwith(generator::batchvariants()[0], generator::fewestblockcells)
                  .batchesingroup(generator::fewestblockcells),
              1);
}
