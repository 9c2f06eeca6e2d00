// Every kernel this build has, run directly whether or not the dispatch
// would pick it, against the plain loop.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "computepi.h"
#include "kernels/kernels.h"
#include "widestvectors.h"
#include "eachvariant.h"
#include "plainloop.h"
#include "sweep.h"
#include "fusededges.h"
#include "blockedorder.h"

#include <algorithm>
#include <map>
#include <memory>

namespace {

std::string computetextwith(const batchplan& plan, int n)
{
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2, '#');
    EXPECT_EQ(computepiwith(&plan, n, buffer.data(), nullptr), computepi_ok);
    return buffer.data();
}

std::string computetextwith(const batchvariant* kernel, int n)
{
    return computetextwith(planwith(kernel, n * 10 / 3), n);
}

// The plans a kernel is tried with besides its own: every k from 1 to the
// most a plan gives it.
std::vector<batchplan> forcedplans(const batchvariant* kernel, std::int32_t cellcount)
{
    std::vector<batchplan> plans;
    for (std::int32_t k = 1; k <= FUSED_MOSTPASSES; ++k) {
        plans.push_back(planwithfusedpasses(kernel, cellcount, k));
    }
    return plans;
}

// The texts of a kernel for a count, with its own plan and the forced
// ones, against what they must be.
void expecttextsofeveryplan(const batchvariant* kernel, int n, const std::string& expected)
{
    ASSERT_EQ(computetextwith(kernel, n), expected) << kernel->name << ", N = " << n;
    for (const batchplan& plan : forcedplans(kernel, n * 10 / 3)) {
        ASSERT_EQ(computetextwith(plan, n), expected)
            << kernel->name << ", N = " << n << ", passes fused " << plan.fusedpasses;
    }
}

std::vector<const batchvariant*> supportedkernels()
{
    std::vector<const batchvariant*> kernels;
    for (int32_t i = 0; i < batchvariantcount; ++i) {
        if (batchvariants[i]->supported()) {
            kernels.push_back(batchvariants[i]);
        }
    }
    return kernels;
}

class textpervariant : public eachvariant {};
}  // namespace

TEST(kernels, EverySupportedKernelMatchesThePlainLoopForEveryCountOfTheSweepAtEveryFusedPassCount)
{
    const auto kernels = supportedkernels();
    ASSERT_FALSE(kernels.empty());
    for (const int32_t n : testsupport::sweepcounts()) {
        const std::string expected = plainloop::text(n, n);
        for (const batchvariant* kernel : kernels) {
            ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(kernel, n, expected));
        }
    }
}

TEST(kernels, DispatchPicksTheWidestDoublesTheProcessorHasInItsFamilysFormFusingWhatTheirDivisionAllows)
{
    // The instruction set told apart by the processor's features and, under
    // an emulator, the kernel by what the script knows of the model; not by
    // the table.
    const batchplan chosen = fastestbatchplan(0);
    static_assert(division_fused == 0 && division_tworoundings == 1 && division_rounddown == 2,
                  "numbered as fusededgesof numbers the forms");
    for (const std::string& widest : {testsupport::widestvectors(), testsupport::emulatedwidestvectors()}) {
        if (!widest.empty()) {
            EXPECT_EQ(chosen.kernel->instructionset, widest);
        }
    }
    if (const std::string expected = testsupport::emulatedkernel(); !expected.empty()) {
        EXPECT_EQ(chosen.kernel->name, expected);
    }
    for (const auto& [n, k] : testsupport::fusededgesof(chosen.kernel->form)) {
        const batchplan plan = fastestbatchplan(n * 10 / 3);
        EXPECT_EQ(plan.kernel, chosen.kernel) << "N = " << n;
        EXPECT_EQ(plan.fusedpasses, k) << "N = " << n;
    }
}

TEST_P(textpervariant, MatchesThePlainLoopAroundMultiplesOfItsBatch)
{
    // A batch runs passes * k spigot passes, k = 1 or the most at these
    // counts. Under an emulator the plain loop's texts past a few thousand
    // digits cost minutes each.
    std::vector<int32_t> batchcounts = {1, 2, 3, 16, 40};
    batchcounts.resize(testsupport::emulated() ? 4 : batchcounts.size());
    for (const int32_t k : {1, FUSED_MOSTPASSES}) {
        for (const int32_t batches : batchcounts) {
            for (const int32_t offset : {-1, 0, 1}) {
                const int32_t n = batches * GetParam()->passes * k + offset;
                if (k > 1 && n > 5000) {
                    continue;
                }
                ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(GetParam(), n, plainloop::text(n, n)));
            }
        }
    }
}

TEST_P(textpervariant, MatchesThePlainLoopForLargerCounts)
{
    for (const int32_t n : testsupport::emulated() ? std::vector<int32_t>{3001} : std::vector<int32_t>{3001, 5000}) {
        ASSERT_EQ(computetextwith(GetParam(), n), plainloop::text(n, n)) << "N = " << n;
    }
}

TEST_P(textpervariant, TellsItsObserverWhenThePassesStartAndThePassesDoneAfterEachBatch)
{
    const int32_t passes = GetParam()->passes * planwith(GetParam(), 0).fusedpasses;
    const int32_t n = 3 * passes + 5;
    ASSERT_EQ(planwith(GetParam(), n * 10 / 3).fusedpasses, planwith(GetParam(), 0).fusedpasses);
    std::vector<int32_t> told;
    const passobserver observer = {
        [](void* context, int32_t done) { static_cast<std::vector<int32_t>*>(context)->push_back(done); },
        &told};
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2);
    const batchplan plan = planwith(GetParam(), n * 10 / 3);
    ASSERT_EQ(computepiwith(&plan, n, buffer.data(), &observer), computepi_ok);
    EXPECT_EQ(told, (std::vector<int32_t>{0, passes, 2 * passes, 3 * passes, n}));

    told.clear();
    const batchplan none = planwith(GetParam(), 0);
    ASSERT_EQ(computepiwith(&none, 0, buffer.data(), &observer), computepi_ok);
    EXPECT_EQ(told, std::vector<int32_t>{0});
}

TEST(kernels, EverySupportedKernelGivesTheSameTextWhateverBlocksAndGroupsItsBatchesRunIn)
{
    // Batches that wait on the one before them at every block, and the
    // last group short, against the plain loop.
    std::map<int32_t, std::string> expected;
    const int32_t most = testsupport::emulated() ? 1500 : 4000;
    for (const batchvariant* kernel : supportedkernels()) {
        for (const auto& [blockcells, group] : testsupport::blocksandgroups()) {
            for (const int32_t k : {1, FUSED_MOSTPASSES}) {
                for (const int32_t n : testsupport::blockedcounts(kernel->passes, k, group, blockcells, most)) {
                    batchplan plan = planwithfusedpasses(kernel, n * 10 / 3, k);
                    plan.blockcells = blockcells;
                    plan.groupbatches = group;
                    if (expected.count(n) == 0) {
                        expected[n] = plainloop::text(n, n);
                    }
                    ASSERT_EQ(computetextwith(plan, n), expected[n]) << kernel->name << ", N = " << n << ", k = "
                                                                     << plan.fusedpasses << ", blocks of "
                                                                     << blockcells << ", groups of " << group;
                }
            }
        }
    }
}

TEST(kernels, TellsItsObserverTheWorkOfAGroupBlockByBlockRisingToTheCount)
{
    // The batches of a group end together, so the work shows as the
    // blocks go by: more often than batches end, never falling.
    batchplan plan = planwithfusedpasses(fastestbatchplan(0).kernel, 0, 1);
    plan.blockcells = 100;
    plan.groupbatches = 4;
    const int32_t n = 2 * plan.groupbatches * plan.kernel->passes + 5;
    std::vector<int32_t> told;
    const passobserver observer = {
        [](void* context, int32_t done) { static_cast<std::vector<int32_t>*>(context)->push_back(done); },
        &told};
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2);
    ASSERT_EQ(computepiwith(&plan, n, buffer.data(), &observer), computepi_ok);
    ASSERT_GT(told.size(), 3u * plan.groupbatches);
    EXPECT_EQ(told.front(), 0);
    EXPECT_EQ(told.back(), n);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()) &&
                std::adjacent_find(told.begin(), told.end()) == told.end());
    // After the first group, exactly its batches' passes.
    EXPECT_NE(std::find(told.begin(), told.end(), plan.groupbatches * plan.kernel->passes), told.end());
}

TEST(kernels, EverySupportedKernelKeepsTheLargestCellsOfTheLargestCountExact)
{
    // The top of the largest count's cells, each as large as a remainder
    // there gets (2j, below 2^27), through one batch that stops well above
    // cell 0, against the same passes in 64-bit integers.
    if (testsupport::emulated()) {
        GTEST_SKIP() << "too much memory for the emulator; the kernels convert cells in every other test";
    }
    const int32_t cellcount = testsupport::largestcellcount;
    const int32_t top = cellcount - 1;
    const int32_t span = 3000;
    for (const batchvariant* kernel : supportedkernels()) {
        struct spigotbatch batch;
        ASSERT_TRUE(openbatch(&batch, cellcount, kernel->tabled));
        std::vector<int64_t> cells(span);
        for (int32_t i = 0; i < span; ++i) {
            const int32_t j = top - span + 1 + i;
            batch.cells[j] = 2 * j - i % 3;
            cells[i] = batch.cells[j];
        }
        const batchplan plan = planwith(kernel, cellcount);
        const std::vector<double> powers(kernel->passes, static_cast<double>(tenpower(plan.fusedpasses)));
        auto run = std::make_unique<batchrun>();
        startbatchrun(run.get(), powers.data(), kernel->passes, fusedbias(kernel->form, plan.fusedpasses));
        kernel->advance(&batch, run.get(), top - span + 1);
        const std::vector<int64_t> after =
            testsupport::toppasses(cells, top, kernel->passes, tenpower(plan.fusedpasses));
        // Cells from bottom + passes up are finished.
        const int32_t finished = top - (run->bottom + kernel->passes) + 1;
        ASSERT_GT(finished, span / 2) << kernel->name;
        for (int32_t i = span - finished; i < span; ++i) {
            ASSERT_EQ(batch.cells[top - span + 1 + i], after[i]) << kernel->name << ", cell " << top - span + 1 + i;
        }
        closebatch(&batch);
    }
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST(kernels, BlocksFillHalfTheSecondLevelCacheAndNoMoreThanTheDefault)
{
    // The cache's size in bytes, then the block's in cells.
    for (const auto& [cache, cells] : std::vector<std::pair<long, std::int32_t>>{
             {0, defaultblockcells}, {256 << 10, 32 << 10}, {1 << 20, 128 << 10}, {2 << 20, 128 << 10}, {8 << 10, 4096}}) {
        EXPECT_EQ(blockcellsfor(cache), cells) << cache;
    }
    EXPECT_EQ(planwith(batchvariants[0], 1000000).blockcells, blockcellsfor(secondlevelcachebytes()));
    // Cells that fit in the smallest block run one batch a group whatever the cache.
    const batchplan small = planwith(batchvariants[0], fewestblockcells);
    EXPECT_EQ(groupedbatches(&small, fewestblockcells), 1);
}
