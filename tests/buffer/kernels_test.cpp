// Every kernel this build has, run directly whether or not the dispatch
// would pick it, against the plain loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "computepi.h"
#include "widestvectors.h"
#include "eachvariant.h"
#include "plainloop.h"
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

TEST(kernels, DispatchPicksTheWidestTheProcessorHas)
{
    // Told apart by the processor's features, not by the table.
    EXPECT_EQ(fastestbatchvariant()->name, testsupport::widestvectors());
    if (!testsupport::emulatedwidestvectors().empty()) {
        EXPECT_EQ(fastestbatchvariant()->name, testsupport::emulatedwidestvectors());
    }
}

TEST_P(textpervariant, MatchesThePlainLoopAroundMultiplesOfItsBatch)
{
    const int32_t passes = GetParam()->passes;
    for (const int32_t batches : {1, 2, 3, 16, 40}) {
        for (const int32_t offset : {-1, 0, 1}) {
            const int32_t n = batches * passes + offset;
            ASSERT_EQ(computetextwith(GetParam(), n), plainloop::text(n, n))
                << "N = " << n;
        }
    }
}

TEST_P(textpervariant, MatchesThePlainLoopForLargerCounts)
{
    for (const int32_t n : {3001, 5000}) {
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
