// Every batch variant this build has, run directly whether or not the
// dispatch would pick it, against the one-pass spigot (one ldiv per cell).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eachvariant.h"
#include "onepassspigot.h"
#include "spigot.h"
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
    std::vector<std::int32_t> counts = {1500, 3001};
    for (const std::int32_t batches : {16, 40}) {
        for (const std::int32_t offset : {-1, 0, 1}) {
            counts.push_back(batches * batchpasses + offset);
        }
    }
    for (const std::int32_t n : counts) {
        ASSERT_EQ(batchedtext(*GetParam(), n), onepasstext(n)) << "N = " << n;
    }
}

INSTANTIATE_FOR_EACH_VARIANT(textpervariant);

TEST(batchvariants, DispatchPicksTheWidestTheProcessorHas)
{
    // Told apart by the processor's features, not by the table.
    EXPECT_EQ(generator::fastestbatchvariant().name, testsupport::widestvectors());
    if (!testsupport::emulatedwidestvectors().empty()) {
        EXPECT_EQ(generator::fastestbatchvariant().name, testsupport::emulatedwidestvectors());
    }
}
