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

INSTANTIATE_FOR_EACH_VARIANT_IN(exactdivision, doublecells);

// The float forms, for the cells whose values fit a float: checked at both
// ends of every quotient's run of dividends (which decides every dividend,
// as the forms are monotone), over every cell each form serves, and seen
// to fail at the first cell past the bias form's range. Each kernel with
// single-precision lanes is checked the same way, with its own vector
// division, quotients and remainders.
namespace {

// each(x, d, k) for both ends of the run of dividends with quotient k, for
// every k a pass can form at cell j (values up to 38 j + 18).
template <typename visit>
void eachboundary(std::int32_t j, visit each)
{
    const std::int32_t d = 2 * j + 1;
    const std::int32_t largest = 38 * j + 18;
    for (std::int32_t k = 0; k <= largest / d; ++k) {
        each(k * d, d, k);
        each(std::min(k * d + d - 1, largest), d, k);
    }
}

// The first cell from first to last where quotient(x, reciprocal, divisor)
// differs from floor(x / d) for a dividend a pass can form, or -1.
template <typename form>
std::int32_t firstinexactcell(std::int32_t first, std::int32_t last, form quotient)
{
    for (std::int32_t j = first; j <= last; ++j) {
        bool exact = true;
        eachboundary(j, [&](std::int32_t x, std::int32_t d, std::int32_t k) {
            const float divisor = static_cast<float>(d);
            exact = exact && quotient(static_cast<float>(x), 1.0f / divisor, divisor) == static_cast<float>(k);
        });
        if (!exact) {
            return j;
        }
    }
    return -1;
}

// The same for a kernel's division, many at a time; its remainders too.
std::int32_t firstinexactcellof(const batchvariant* kernel, bool corrected, std::int32_t first, std::int32_t last)
{
    std::vector<float> x, reciprocals, divisors, quotients, remainders;
    std::vector<std::int32_t> cells, expected;
    const auto flush = [&]() -> std::int32_t {
        while (x.size() % 16 != 0) {  // 0 / 1, to a whole number of vectors
            x.push_back(0.0f);
            reciprocals.push_back(1.0f);
            divisors.push_back(1.0f);
            cells.push_back(-1);
            expected.push_back(0);
        }
        quotients.assign(x.size(), -1.0f);
        remainders.assign(x.size(), -1.0f);
        const floatdivisions divisions = {x.data(),         reciprocals.data(), divisors.data(),
                                          quotients.data(), remainders.data(),  static_cast<std::int32_t>(x.size())};
        kernel->dividefloats(&divisions, corrected ? 1 : 0);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const float remainder = x[i] - static_cast<float>(expected[i]) * divisors[i];
            if (quotients[i] != static_cast<float>(expected[i]) || remainders[i] != remainder) {
                return cells[i];
            }
        }
        x.clear(), reciprocals.clear(), divisors.clear(), cells.clear(), expected.clear();
        return -1;
    };
    for (std::int32_t j = first; j <= last; ++j) {
        eachboundary(j, [&](std::int32_t value, std::int32_t d, std::int32_t k) {
            x.push_back(static_cast<float>(value));
            divisors.push_back(static_cast<float>(d));
            reciprocals.push_back(1.0f / static_cast<float>(d));
            cells.push_back(j);
            expected.push_back(k);
        });
        if (x.size() >= 1 << 16 || j == last) {
            if (const std::int32_t inexact = flush(); inexact >= 0) {
                return inexact;
            }
        }
    }
    return -1;
}

class floatdivisionpervariant : public eachvariant {};

}  // namespace

TEST(floatdivision, EachFormIsExactAtEveryBoundaryOfEveryCellItServes)
{
    const auto biased = [](float x, float reciprocal, float) { return floatquotientbiased(x, reciprocal); };
    EXPECT_EQ(firstinexactcell(0, FLOATDIVISION_LASTBIASCELL, biased), -1);
    EXPECT_EQ(firstinexactcell(FLOATDIVISION_LASTBIASCELL + 1, FLOATDIVISION_LASTBIASCELL + 1, biased),
              FLOATDIVISION_LASTBIASCELL + 1)
        << "the bias form's range ends later than its bound says";
    EXPECT_EQ(firstinexactcell(0, FLOATDIVISION_LASTCELL, floatquotientcorrected), -1);
    // The cells that fit end where a cell's largest value reaches 2^24.
    EXPECT_LT(38 * FLOATDIVISION_LASTCELL + 18, 1 << 24);
    EXPECT_GE(38 * (FLOATDIVISION_LASTCELL + 1) + 18, 1 << 24);
}

TEST_P(floatdivisionpervariant, EachFormIsExactAtEveryBoundaryOfEveryCellItServes)
{
    EXPECT_EQ(firstinexactcellof(GetParam(), false, 0, FLOATDIVISION_LASTBIASCELL), -1);
    EXPECT_EQ(firstinexactcellof(GetParam(), false, FLOATDIVISION_LASTBIASCELL + 1, FLOATDIVISION_LASTBIASCELL + 1),
              FLOATDIVISION_LASTBIASCELL + 1)
        << "the kernel's bias form is not the one whose range was measured";
    EXPECT_EQ(firstinexactcellof(GetParam(), true, 0, FLOATDIVISION_LASTCELL), -1);
}

INSTANTIATE_FOR_EACH_VARIANT_IN(floatdivisionpervariant, floatcells);
