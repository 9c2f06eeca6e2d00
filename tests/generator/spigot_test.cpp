#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "allocationmeter.h"
#include "pidigits.h"
#include "plainloop.h"
#include "spigot.h"

using generator::pidigits;
using generator::spigot;

namespace {

std::string poll(spigot& digits, int calls)
{
    std::string text;
    for (int i = 0; i < calls; ++i) {
        text += digits.nextdigit();
    }
    return text;
}

std::string tail(const std::string& text, std::size_t length)
{
    return text.substr(text.size() - length);
}

}  // namespace

TEST(spigot, ZeroDigitsHasNoCellsAndAlwaysHandsOutTheInitialPredigit)
{
    spigot digits(0);
    EXPECT_EQ(poll(digits, 5), "00000");
    EXPECT_EQ(pidigits(0), "0");
}

TEST(spigot, ShortTextsStartWithTheHeldZero)
{
    EXPECT_EQ(pidigits(1), "02");  // three cells are too few for the 3
    EXPECT_EQ(pidigits(5), "031415");
    EXPECT_EQ(pidigits(10), "03141592653");
}

TEST(spigot, HeldNineIsHandedOutAfterTheDigitBeforeIt)
{
    // The sixth and thirteenth digits are raw nines: the call that ends each
    // run of nines returns the old predigit, the next call the nine.
    spigot digits(6);
    EXPECT_EQ(poll(digits, 6), "031415");
    EXPECT_EQ(digits.nextdigit(), '9');
    EXPECT_EQ(pidigits(13), "03141592653589");
}

TEST(spigot, LastCharacterReflectsOnlyThePassesTheTextRuns)
{
    EXPECT_EQ(pidigits(32).back(), '4');  // pi has 5 here
    EXPECT_EQ(tail(pidigits(50), 8), "93993751");  // a 51st pass carries into the held 0
}

TEST(spigot, RunOfSixNinesComesOutOneCallAtATime)
{
    const std::string text = pidigits(768);
    ASSERT_EQ(text.size(), 769u);
    EXPECT_EQ(tail(text, 12), "721134999999");
}

TEST(spigot, CarryTurnsHeldNineIntoZero)
{
    // At 361 digits the 362nd pass's raw 10 follows a raw 9: the predigit 5
    // comes out as 6 and the held nine as 0, the last character of the text.
    spigot digits(361);
    const std::string text = poll(digits, 362);
    EXPECT_EQ(tail(text, 6), "590360");
    EXPECT_EQ(text, pidigits(361));
}

TEST(spigot, CopiesAdvanceIndependently)
{
    const std::string expected = pidigits(768);
    spigot original(768);
    spigot fresh = original;
    EXPECT_EQ(poll(fresh, 769), expected);

    // A copy taken while nines are held carries them with it, and polling
    // the copy to the end leaves the original where it was.
    const std::string head = poll(original, 760);
    spigot midway = original;
    EXPECT_EQ(head + poll(midway, 9), expected);
    EXPECT_EQ(head + poll(original, 9), expected);
}

TEST(spigot, ARunHoldsFourBytesACellAndEightMoreWithATable)
{
    // The reciprocals, which copies share, and the cells of the one copy
    // pidigits polls: the object it copied never makes cells of its own.
    const std::int32_t ndigits = 6000;
    const std::size_t cells = ndigits * 10 / 3;
    const std::size_t bytes = (generator::fastestbatchplan(cells).variant->tabled ? 12 : 4) * cells;
    const std::size_t before = allocationmeter::livebytes();
    allocationmeter::resetpeak();
    const std::string text = pidigits(ndigits);
    const std::size_t held = allocationmeter::peakbytes() - before;
    EXPECT_GE(held, bytes + text.size());
    EXPECT_LE(held, bytes + cells / 2 + text.size()) << held / cells << " bytes a cell";
}

TEST(spigot, MatchesThePlainLoopForLargerCounts)
{
    for (const int n : {1500, 2718, 3000}) {
        ASSERT_EQ(pidigits(n), plainloop::lazytext(n)) << "N = " << n;
    }
}

TEST(spigot, TellsTheWorkOfAGroupBlockByBlockNeverAheadOfTheBatchesRun)
{
    // The batches of a group end together, so the work shows as the
    // blocks go by: more often than batches end, never falling, never past
    // the passes the group runs; and no group runs batches the text does
    // not need.
    generator::batchplan plan = generator::planwith(*generator::fastestbatchplan(0).variant, 0, 1);
    plan.blockcells = 100;
    plan.groupbatches = 4;
    // Two whole groups, then one batch more.
    const std::int32_t ndigits = (2 * plan.groupbatches + 1) * plan.variant->passes - 2;
    generator::spigot digits(ndigits, plan);
    std::vector<std::int64_t> told;
    digits.tellwork([&told](std::int64_t done) { told.push_back(done); });
    for (std::int32_t i = 0; i <= ndigits; ++i) {
        digits.nextdigit();
        ASSERT_TRUE(told.empty() || told.back() <= digits.digitsrun()) << told.back() << " told, i = " << i;
    }
    EXPECT_GT(told.size(), 3u * plan.groupbatches);
    EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
    EXPECT_EQ(told.back(), 2 * plan.groupbatches * plan.variant->passes);
    EXPECT_EQ(digits.digitsrun(), ndigits + 2);
}

TEST(spigot, TellsTheWorkDoneWhenThePassesStartAndAfterEachBatchNeverAhead)
{
    // Whole batches of the plan's passes and no more than the text needs:
    // 0, then a batch's digits' worth more each time, to the batch that
    // covers the N + 1 characters (a count where no nines end the text).
    const std::int32_t ndigits = 3000;
    const generator::batchplan plan = generator::fastestbatchplan(ndigits * 10 / 3);
    const std::int64_t batch = std::int64_t{plan.variant->passes} * plan.fusedpasses;
    std::vector<std::int64_t> told;
    EXPECT_EQ(pidigits(ndigits, [&told](std::int64_t done) { told.push_back(done); }), pidigits(ndigits));
    std::vector<std::int64_t> expected;
    for (std::int64_t done = 0; done < ndigits + 1 + batch; done += batch) {
        expected.push_back(done);
    }
    EXPECT_EQ(told, expected);
}
