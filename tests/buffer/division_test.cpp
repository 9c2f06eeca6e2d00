// The kernels' exact division by a reciprocal, at the edges of its claim:
// x = k*d - 1, k*d, k*d + 1 over the whole range of divisors the data model
// has and of quotients a pass produces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "eachvariant.h"
#include "exactdivision.h"
#include "floatdivision.h"

namespace {

constexpr std::int64_t maxx = 2147483647;  // x < 2^31
constexpr std::int64_t maxdivisor = EXACTDIVISION_MAXDIVISOR;
constexpr std::int64_t maxquotient = EXACTDIVISION_MAXQUOTIENT;
// The largest divisor a pass uses, at 16953818 digits.
constexpr std::int64_t largestcelldivisor = 2 * 56512726 - 1;

// Collects divisions and checks them in one call of the kernel's divide.
// The first wrong quotient fails the test and stops all further checking.
class divisionchecker {
public:
    explicit divisionchecker(const batchvariant* kernel) : kernel(kernel) {}

    // The boundaries around every multiple k*d for the given quotients.
    void addboundaries(std::int64_t d, std::int64_t fromk, std::int64_t tok)
    {
        if (failed) {
            return;
        }
        const std::int64_t lastk = std::min({tok, maxquotient + 1, maxx / d});
        for (std::int64_t k = fromk; k <= lastk; ++k) {
            for (const std::int64_t x : {k * d - 1, k * d, k * d + 1}) {
                if (x >= 0 && x <= maxx && x / d <= maxquotient) {
                    pending.push_back({x, d});
                }
            }
        }
        if (pending.size() > 1 << 16) {
            check();
        }
    }

    void check()
    {
        std::vector<division> batch;
        batch.swap(pending);
        if (failed || batch.empty()) {
            return;
        }
        while (batch.size() % 8 != 0) {  // divide takes whole vectors
            batch.push_back({0, 1});
        }
        std::vector<double> xs, reciprocals, quotients(batch.size());
        for (const division& each : batch) {
            xs.push_back(static_cast<double>(each.x));
            reciprocals.push_back(1.0 / static_cast<double>(each.d));
        }
        kernel->divide(xs.data(), reciprocals.data(), quotients.data(),
                       static_cast<int32_t>(batch.size()));
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const double expected = static_cast<double>(batch[i].x / batch[i].d);
            if (quotients[i] != expected) {
                failed = true;
                ADD_FAILURE() << kernel->name << ": " << batch[i].x << " / " << batch[i].d
                              << " gave " << quotients[i] << ", not " << expected;
                return;
            }
        }
    }

private:
    struct division {
        std::int64_t x, d;
    };
    const batchvariant* kernel;
    std::vector<division> pending;
    bool failed = false;
};

class exactdivision : public eachvariant {};

}  // namespace

TEST_P(exactdivision, SmallDivisorsOverEveryQuotient)
{
    divisionchecker checker(GetParam());
    for (std::int64_t d = 1; d <= 4096; ++d) {
        checker.addboundaries(d, 0, maxquotient + 1);
    }
    checker.check();
}

TEST_P(exactdivision, DivisorsAcrossTheWholeRangeOverPassQuotients)
{
    // A pass's quotients are at most 108; also take each divisor's largest.
    divisionchecker checker(GetParam());
    auto both = [&](std::int64_t d) {
        checker.addboundaries(d, 0, 120);
        const std::int64_t top = std::min(maxquotient, maxx / d);
        checker.addboundaries(d, top - 1, top + 1);
    };
    for (std::int64_t d = 1; d <= 4096; ++d) {
        both(d);
    }
    for (std::int64_t d = 4097; d <= maxdivisor; d += 7919) {
        both(d);
    }
    for (std::int64_t power = 4096; power <= maxdivisor; power *= 2) {
        for (std::int64_t d = power - 3; d <= power + 3 && d <= maxdivisor; ++d) {
            both(d);
        }
    }
    for (std::int64_t d = largestcelldivisor - 2000; d <= largestcelldivisor + 2; ++d) {
        both(d);
    }
    for (std::int64_t d = maxdivisor - 2000; d <= maxdivisor; ++d) {
        both(d);
    }
    checker.check();
}

INSTANTIATE_FOR_EACH_VARIANT(exactdivision);

// The float forms, for the cells whose values fit a float: checked at both
// ends of every quotient's run of dividends (which decides every dividend,
// as the forms are monotone), over every cell each form serves, and seen
// to fail at the first cell past the bias form's range.
namespace {

// The first cell from 0 to lastcell where quotient(x, reciprocal, divisor)
// differs from floor(x / d) for a dividend a pass can form, or -1.
template <typename form>
std::int32_t firstinexactcell(std::int32_t lastcell, form quotient)
{
    for (std::int32_t j = 0; j <= lastcell; ++j) {
        const std::int32_t d = 2 * j + 1;
        const std::int32_t largest = 38 * j + 18;
        const float divisor = static_cast<float>(d);
        const float reciprocal = 1.0f / divisor;
        for (std::int32_t k = 0; k <= largest / d; ++k) {
            for (const std::int32_t x : {k * d, std::min(k * d + d - 1, largest)}) {
                if (quotient(static_cast<float>(x), reciprocal, divisor) != static_cast<float>(k)) {
                    return j;
                }
            }
        }
    }
    return -1;
}

}  // namespace

TEST(floatdivision, EachFormIsExactAtEveryBoundaryOfEveryCellItServes)
{
    const auto biased = [](float x, float reciprocal, float) { return floatquotientbiased(x, reciprocal); };
    EXPECT_EQ(firstinexactcell(FLOATDIVISION_LASTBIASCELL, biased), -1);
    EXPECT_EQ(firstinexactcell(FLOATDIVISION_LASTBIASCELL + 1, biased), FLOATDIVISION_LASTBIASCELL + 1)
        << "the bias form's range ends later than its bound says";
    EXPECT_EQ(firstinexactcell(FLOATDIVISION_LASTCELL, floatquotientcorrected), -1);
    // The cells that fit end where a cell's largest value reaches 2^24.
    EXPECT_LT(38 * FLOATDIVISION_LASTCELL + 18, 1 << 24);
    EXPECT_GE(38 * (FLOATDIVISION_LASTCELL + 1) + 18, 1 << 24);
}
