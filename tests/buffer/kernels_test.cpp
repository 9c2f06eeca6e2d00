// Every kernel this build has, run directly whether or not the dispatch
// would pick it, against the plain loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "computepi.h"
#include "kernels/kernels.h"
#include "spigotbatch.h"
#include "widestvectors.h"
#include "eachvariant.h"
#include "plainloop.h"
#include "batchesrun.h"
#include "sweep.h"
#include "crossings.h"
#include "fusededges.h"

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

// The kernel a double kernel runs above in the tests, where the build has
// one this processor supports: the first float kernel whose batch is a
// whole number of its own.
const batchvariant* floatsbeneath(const batchvariant* doubles)
{
    for (int32_t i = 0; i < batchvariantcount; ++i) {
        const batchvariant* kernel = batchvariants[i];
        if (kernel->infloats && kernel->supported() && kernel->passes % doubles->passes == 0) {
            return kernel;
        }
    }
    return nullptr;
}

// The passes a kernel fuses in the tests: every count from 1 to the most
// a plan gives it (1 in floats).
std::vector<std::int32_t> fusedpasscounts(const batchvariant* kernel)
{
    std::vector<std::int32_t> counts;
    for (std::int32_t k = 1; k <= (kernel->infloats ? 1 : FUSED_MOSTPASSES); ++k) {
        counts.push_back(k);
    }
    return counts;
}

// The plans a kernel is tried with besides its own: a double kernel at
// every k, and with the crossing forced where that is asked, a float
// kernel below its own doubles, a double kernel above some float kernel.
std::vector<batchplan> forcedplans(const batchvariant* kernel, std::int32_t cellcount, bool withcrossings)
{
    std::vector<batchplan> plans;
    for (const std::int32_t k : fusedpasscounts(kernel)) {
        plans.push_back(planwithfusedpasses(kernel, cellcount, k));
    }
    const batchvariant* floats = kernel->infloats ? kernel : floatsbeneath(kernel);
    if (floats == nullptr || !withcrossings) {
        return plans;
    }
    for (const std::int32_t crossing : testsupport::forcedcrossings(floats->passes, cellcount)) {
        batchplan plan = planwithcrossing(floats, cellcount, crossing);
        plan.doubles = kernel->infloats ? plan.doubles : kernel;
        plans.push_back(plan);
    }
    return plans;
}

// The texts of a kernel for a count, with its own plan and the forced
// ones, against what they must be.
void expecttextsofeveryplan(const batchvariant* kernel, int n, const std::string& expected, bool withcrossings)
{
    const std::int32_t cellcount = n * 10 / 3;
    ASSERT_EQ(computetextwith(kernel, n), expected) << kernel->name << ", N = " << n;
    for (const batchplan& plan : forcedplans(kernel, cellcount, withcrossings)) {
        ASSERT_EQ(computetextwith(plan, n), expected)
            << (plan.floats != nullptr ? plan.floats->name : "") << " below " << plan.doubles->name << ", N = " << n
            << ", doubles from cell " << plan.crossing << ", passes fused " << plan.fusedpasses;
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
class floatpervariant : public eachvariant {};

// The raw digits of `passes` passes over cellcount cells, a pass at a
// time, by whole batches, and the cells they leave: from the start, or
// from the given cells (each a remainder its divisor allows).
testsupport::batchesrun runbatches(const batchvariant* kernel, std::int32_t cellcount, std::int32_t passes,
                      const std::vector<std::int32_t>& start = {})
{
    const batchplan plan = planwithfusedpasses(kernel, cellcount, 1);
    spigotbatch batch;
    if (!openbatch(&batch, cellcount, plan.crossing, plan.doubles != nullptr && plan.doubles->tabled)) {
        ADD_FAILURE() << "out of memory";
        return {};
    }
    for (std::size_t j = 0; j < start.size() && j < static_cast<std::size_t>(cellcount); ++j) {
        setcellvalue(&batch, static_cast<std::int32_t>(j), start[j]);
    }
    testsupport::batchesrun run;
    std::vector<double> carries(BATCH_PADDING);
    const std::vector<double> powers(BATCH_PADDING, 10.0);
    std::vector<std::int64_t> digits(BATCH_PADDING);
    const fusedpowers byten = {powers.data(), fusedbias(division_fused, 1)};
    for (std::int32_t done = 0; done < passes; done += plan.passes) {
        runplannedbatch(&plan, &batch, carries.data(), &byten);
        finishbatch(&batch, carries.data(), powers.data(), plan.passes, digits.data());
        run.digits.insert(run.digits.end(), digits.begin(), digits.begin() + plan.passes);
    }
    for (std::int32_t j = 0; j < cellcount; ++j) {
        run.cells.push_back(cellvalue(&batch, j));
    }
    closebatch(&batch);
    return run;
}

}  // namespace

TEST(kernels, EverySupportedKernelMatchesThePlainLoopForEveryCountOfTheSweepAtEveryFusedPassCount)
{
    const auto kernels = supportedkernels();
    ASSERT_FALSE(kernels.empty());
    for (const int32_t n : testsupport::sweepcounts()) {
        const std::string expected = plainloop::text(n, n);
        for (const batchvariant* kernel : kernels) {
            ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(kernel, n, expected, false));
        }
    }
}

TEST(kernels, DispatchPicksTheWidestDoublesTheProcessorHasFusingWhatTheirDivisionAllows)
{
    // Told apart by the processor's features, not by the table.
    for (const std::string& widest : {testsupport::widestvectors(), testsupport::emulatedwidestvectors()}) {
        if (widest.empty()) {
            continue;
        }
        for (const auto& [n, k] : widest == "portable" ? testsupport::fusededgeswithtworoundings
                                                       : testsupport::fusededgeswithfma) {
            const batchplan plan = fastestbatchplan(n * 10 / 3);
            EXPECT_EQ(plan.floats, nullptr) << "N = " << n;
            EXPECT_EQ(plan.doubles->name, widest) << "N = " << n;
            EXPECT_EQ(plan.fusedpasses, k) << "N = " << n;
        }
    }
}

TEST_P(textpervariant, MatchesThePlainLoopAroundMultiplesOfItsBatch)
{
    // A batch runs passes * k spigot passes, k = 1 or the most at these
    // counts. Under an emulator the plain loop's texts past a few thousand
    // digits cost minutes each.
    std::vector<int32_t> batchcounts = {1, 2, 3, 16, 40};
    batchcounts.resize(testsupport::emulated() ? 4 : batchcounts.size());
    for (const int32_t k : {1, GetParam()->infloats ? 1 : FUSED_MOSTPASSES}) {
        for (const int32_t batches : batchcounts) {
            for (const int32_t offset : {-1, 0, 1}) {
                const int32_t n = batches * GetParam()->passes * k + offset;
                if (k > 1 && n > 5000) {
                    continue;
                }
                ASSERT_NO_FATAL_FAILURE(expecttextsofeveryplan(GetParam(), n, plainloop::text(n, n), k == 1));
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

TEST_P(textpervariant, TellsItsObserverThePassesDoneAfterEachBatch)
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
    EXPECT_EQ(told, (std::vector<int32_t>{passes, 2 * passes, 3 * passes, n}));

    told.clear();
    const batchplan none = planwith(GetParam(), 0);
    ASSERT_EQ(computepiwith(&none, 0, buffer.data(), &observer), computepi_ok);
    EXPECT_TRUE(told.empty());
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST_P(floatpervariant, LeavesTheCellsAndDigitsOfTheDoubleKernelAtTheLargestCountsThatFit)
{
    const batchvariant* doubles = GetParam()->doublesabove;
    const std::int32_t passes = (testsupport::emulated() ? 1 : 2) * GetParam()->passes;
    ASSERT_EQ(passes % doubles->passes, 0);
    const auto by = [passes](const batchvariant* kernel) {
        return [kernel, passes](std::int32_t cellcount, const std::vector<std::int32_t>& start) {
            return runbatches(kernel, cellcount, passes, start);
        };
    };
    testsupport::expectfloatbatchesleavewhatdoublesleave(by(GetParam()), by(doubles), GetParam()->mostcells);
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatpervariant, floatcells);

TEST_P(floatpervariant, BelowItsDoublesLeavesTheCellsAndDigitsOfTheDoublesAlone)
{
    // Past 132,452 digits the doubles run the cells above the floats and
    // hand them their carries: every cell of both, and every digit, must
    // be what the doubles alone leave. From the start and from cells
    // drawn at random; under an emulator the latter at the first count.
    const batchvariant* doubles = GetParam()->doublesabove;
    std::vector<std::int32_t> counts = {132453, 150000, 200000};
    // The doubles a pass at a time, as they run above the floats.
    counts.resize(testsupport::emulated() ? 1 : counts.size());
    for (const std::int32_t n : counts) {
        const std::int32_t cellcount = n * 10 / 3;
        ASSERT_EQ(planwith(GetParam(), cellcount).doubles, doubles);
        ASSERT_EQ(planwith(GetParam(), cellcount).fusedpasses, 1);
        std::vector<std::vector<std::int32_t>> starts = {testsupport::randomcells(cellcount, 2)};
        if (!testsupport::emulated()) {
            starts.push_back({});
        }
        for (const auto& start : starts) {
            EXPECT_TRUE(runbatches(GetParam(), cellcount, GetParam()->passes, start) ==
                        runbatches(doubles, cellcount, GetParam()->passes, start))
                << "N = " << n << (start.empty() ? ", from the start" : ", drawn at random");
        }
    }
}
