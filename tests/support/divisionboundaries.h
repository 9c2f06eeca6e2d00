#pragma once

// The dividends that decide whether a division by a reciprocal is exact,
// and checkers that put them to a subsystem's division many at a time.
// Each subsystem's tests hand in their own division; what is checked, and
// how a wrong quotient is reported, is said once, here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// In doubles: every value of a pass is below 2^31, every quotient at most
// 4095, every divisor at most 2^27 (a cell's divisor is at most 2 * 56512726
// - 1, at the largest count, 16953818).
inline constexpr std::int64_t largestdividend = 2147483647;
inline constexpr std::int64_t largestquotient = (std::int64_t{1} << 12) - 1;
inline constexpr std::int64_t largestdivisor = std::int64_t{1} << 27;
inline constexpr std::int64_t largestcelldivisor = 2 * 56512726 - 1;

// Each divisor the checks across the whole range take: every one up to
// 4096, a sample across the range, each power of two and its neighbours,
// and those around the largest cell's divisor and the largest of all.
template <typename visit>
void eachcheckeddivisor(visit each)
{
    for (std::int64_t d = 1; d <= 4096; ++d) {
        each(d);
    }
    for (std::int64_t d = 4097; d <= largestdivisor; d += 7919) {
        each(d);
    }
    for (std::int64_t power = 4096; power <= largestdivisor; power *= 2) {
        for (std::int64_t d = power - 3; d <= std::min(power + 3, largestdivisor); ++d) {
            each(d);
        }
    }
    for (std::int64_t d = largestcelldivisor - 2000; d <= largestcelldivisor + 2; ++d) {
        each(d);
    }
    for (std::int64_t d = largestdivisor - 2000; d <= largestdivisor; ++d) {
        each(d);
    }
}

// A division in doubles over arrays: quotients[i] = floor(x[i] / d) given
// reciprocals[i] = 1 / d rounded; count a multiple of 8.
using doubledivide = std::function<void(const double* x, const double* reciprocals, double* quotients,
                                        std::int32_t count)>;

// Collects k d - 1, k d and k d + 1 around quotients k of divisors d and
// checks them in a few large calls of `divide`. The first wrong quotient
// fails the test and stops all further checking.
class doubledivisionchecker {
public:
    doubledivisionchecker(std::string name, doubledivide divide) : name(std::move(name)), divide(std::move(divide))
    {
    }
    ~doubledivisionchecker() { check(); }
    doubledivisionchecker(const doubledivisionchecker&) = delete;
    doubledivisionchecker& operator=(const doubledivisionchecker&) = delete;

    // The boundaries around k d for k from fromk to tok, within what a
    // pass's values and quotients can be.
    void addboundaries(std::int64_t d, std::int64_t fromk, std::int64_t tok)
    {
        const std::int64_t lastk = std::min({tok, largestquotient + 1, largestdividend / d});
        for (std::int64_t k = std::max<std::int64_t>(fromk, 0); k <= lastk && !failed; ++k) {
            for (const std::int64_t x : {k * d - 1, k * d, k * d + 1}) {
                if (x >= 0 && x <= largestdividend && x / d <= largestquotient) {
                    pending.push_back({x, d});
                }
            }
        }
        if (pending.size() > 1 << 16) {
            check();
        }
    }

    // A pass's quotients (at most 108, so 0 to 120) and the largest d allows.
    void addpassboundaries(std::int64_t d)
    {
        addboundaries(d, 0, 120);
        const std::int64_t top = std::min(largestquotient, largestdividend / d);
        addboundaries(d, top - 1, top + 1);
    }

    void check()
    {
        std::vector<division> batch;
        batch.swap(pending);
        if (failed || batch.empty()) {
            return;
        }
        while (batch.size() % 8 != 0) {  // whole vectors
            batch.push_back({0, 1});
        }
        std::vector<double> xs, reciprocals, quotients(batch.size());
        for (const division& each : batch) {
            xs.push_back(static_cast<double>(each.x));
            reciprocals.push_back(1.0 / static_cast<double>(each.d));
        }
        divide(xs.data(), reciprocals.data(), quotients.data(), static_cast<std::int32_t>(batch.size()));
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const auto expected = static_cast<double>(batch[i].x / batch[i].d);
            if (quotients[i] != expected) {
                failed = true;
                ADD_FAILURE() << name << ": " << batch[i].x << " / " << batch[i].d << " gave " << quotients[i]
                              << ", not " << expected;
                return;
            }
        }
    }

private:
    struct division {
        std::int64_t x, d;
    };
    std::string name;
    doubledivide divide;
    std::vector<division> pending;
    bool failed = false;
};

// In floats, for the cells whose values all fit one: each(x, d, k) for both
// ends of the run of dividends with quotient k, for every k a pass can form
// at cell j (values up to 38 j + 18). Both float forms are monotone in x,
// so these decide every dividend.
template <typename visit>
void eachfloatboundary(std::int32_t j, visit each)
{
    const std::int32_t d = 2 * j + 1;
    const std::int32_t largest = 38 * j + 18;
    for (std::int32_t k = 0; k <= largest / d; ++k) {
        each(k * d, d, k);
        each(std::min(k * d + d - 1, largest), d, k);
    }
}

// A division in floats over arrays, quotients and remainders, in the bias
// form or (corrected) the corrected one; count a multiple of 16.
using floatdivide = std::function<void(const float* x, const float* reciprocals, const float* divisors,
                                       float* quotients, float* remainders, std::int32_t count, bool corrected)>;

// The first cell from first to last where `divide` gives a wrong quotient
// or remainder for a dividend a pass can form there, or -1.
inline std::int32_t firstinexactfloatcell(const floatdivide& divide, bool corrected, std::int32_t first,
                                          std::int32_t last)
{
    std::vector<float> x, reciprocals, divisors, quotients, remainders;
    std::vector<std::int32_t> cells, expected;
    const auto flush = [&]() -> std::int32_t {
        while (x.size() % 16 != 0) {  // 0 / 1, to a whole number of vectors
            x.push_back(0.0f), reciprocals.push_back(1.0f), divisors.push_back(1.0f);
            cells.push_back(-1), expected.push_back(0);
        }
        quotients.assign(x.size(), -1.0f);
        remainders.assign(x.size(), -1.0f);
        divide(x.data(), reciprocals.data(), divisors.data(), quotients.data(), remainders.data(),
               static_cast<std::int32_t>(x.size()), corrected);
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
        eachfloatboundary(j, [&](std::int32_t value, std::int32_t d, std::int32_t k) {
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

// What a float division must show over the cells a float serves: the bias
// form exact through its last cell and wrong at the next (so the range
// measured is the one used), the corrected form exact through the last.
inline void expectfloatformsexact(const floatdivide& divide, std::int32_t lastbiascell, std::int32_t lastfloatcell)
{
    EXPECT_EQ(firstinexactfloatcell(divide, false, 0, lastbiascell), -1);
    EXPECT_EQ(firstinexactfloatcell(divide, false, lastbiascell + 1, lastbiascell + 1), lastbiascell + 1)
        << "the bias form is not the one whose range was measured";
    EXPECT_EQ(firstinexactfloatcell(divide, true, 0, lastfloatcell), -1);
    // The cells that fit end where a cell's largest value reaches 2^24.
    EXPECT_LT(38 * lastfloatcell + 18, 1 << 24);
    EXPECT_GE(38 * (lastfloatcell + 1) + 18, 1 << 24);
}

}  // namespace testsupport
