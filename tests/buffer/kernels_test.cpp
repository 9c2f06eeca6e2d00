// Every kernel this build has, run directly whether or not the dispatch
// would pick it, against the plain loop.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "computepi.h"
#include "spigotbatch.h"
#include "widestvectors.h"
#include "eachvariant.h"
#include "plainloop.h"
#include "batchesrun.h"
#include "sweep.h"

namespace {

std::string computetextwith(const batchvariant* kernel, int n)
{
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2, '#');
    EXPECT_EQ(computepiwith(kernel, n, buffer.data(), nullptr), computepi_ok);
    return buffer.data();
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

// The raw digits of `passes` passes over cellcount cells, by whole
// batches, and the cells they leave: from the start, or from the given
// cells (each a remainder its divisor allows).
testsupport::batchesrun runbatches(const batchvariant* kernel, std::int32_t cellcount, std::int32_t passes,
                      const std::vector<std::int32_t>& start = {})
{
    spigotbatch batch;
    if (!openbatch(&batch, cellcount, kernel->precision)) {
        ADD_FAILURE() << "out of memory";
        return {};
    }
    for (std::size_t j = 0; j < start.size() && j < static_cast<std::size_t>(cellcount); ++j) {
        if (kernel->precision == floatcells) {
            batch.floatcells[j] = static_cast<float>(start[j]);
        } else {
            batch.cells[j] = start[j];
        }
    }
    testsupport::batchesrun run;
    std::vector<double> carries(BATCH_PADDING);
    std::vector<std::uint8_t> digits(BATCH_PADDING);
    for (std::int32_t done = 0; done < passes; done += kernel->passes) {
        kernel->runbatch(&batch, carries.data());
        finishbatch(&batch, carries.data(), kernel->passes, digits.data());
        run.digits.insert(run.digits.end(), digits.begin(), digits.begin() + kernel->passes);
    }
    for (std::int32_t j = 0; j < cellcount; ++j) {
        run.cells.push_back(kernel->precision == floatcells ? batch.floatcells[j] : batch.cells[j]);
    }
    closebatch(&batch);
    return run;
}

}  // namespace

TEST(kernels, EverySupportedKernelMatchesThePlainLoopForEveryCountOfTheSweep)
{
    const auto kernels = supportedkernels();
    ASSERT_FALSE(kernels.empty());
    for (int32_t n = 0; n <= testsupport::sweeplimit(); ++n) {
        const std::string expected = plainloop::text(n, n);
        for (const batchvariant* kernel : kernels) {
            ASSERT_EQ(computetextwith(kernel, n), expected) << kernel->name << ", N = " << n;
        }
    }
}

TEST(kernels, DispatchPicksTheWidestTheProcessorHasInFloatsWhereTheCellsFit)
{
    // Told apart by the processor's features, not by the table.
    for (const std::string& widest : {testsupport::widestvectors(), testsupport::emulatedwidestvectors()}) {
        if (widest.empty()) {
            continue;
        }
        const std::string infloats = widest == "portable" ? widest : widest + "float";
        EXPECT_EQ(fastestbatchvariant(0)->name, infloats);
        // 132,452 digits take the most cells a float serves; 132,453 more.
        EXPECT_EQ(fastestbatchvariant(132452 * 10 / 3)->name, infloats);
        EXPECT_EQ(fastestbatchvariant(132453 * 10 / 3)->name, widest);
    }
}

TEST_P(textpervariant, MatchesThePlainLoopAroundMultiplesOfItsBatch)
{
    const int32_t passes = GetParam()->passes;
    // Under an emulator the plain loop's texts past a few thousand digits
    // cost minutes each.
    std::vector<int32_t> batchcounts = {1, 2, 3, 16, 40};
    batchcounts.resize(testsupport::emulated() ? 4 : batchcounts.size());
    for (const int32_t batches : batchcounts) {
        for (const int32_t offset : {-1, 0, 1}) {
            const int32_t n = batches * passes + offset;
            ASSERT_EQ(computetextwith(GetParam(), n), plainloop::text(n, n))
                << "N = " << n;
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
    const int32_t passes = GetParam()->passes;
    const int32_t n = 3 * passes + 5;
    std::vector<int32_t> told;
    const passobserver observer = {
        [](void* context, int32_t done) { static_cast<std::vector<int32_t>*>(context)->push_back(done); },
        &told};
    std::vector<char> buffer(static_cast<std::size_t>(n) + 2);
    ASSERT_EQ(computepiwith(GetParam(), n, buffer.data(), &observer), computepi_ok);
    EXPECT_EQ(told, (std::vector<int32_t>{passes, 2 * passes, 3 * passes, n}));

    told.clear();
    ASSERT_EQ(computepiwith(GetParam(), 0, buffer.data(), &observer), computepi_ok);
    EXPECT_TRUE(told.empty());
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST_P(floatpervariant, LeavesTheCellsAndDigitsOfTheDoubleKernelAtTheLargestCountsThatFit)
{
    const batchvariant* doubles = fastestbatchvariant(INT32_MAX);
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
