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

// In doubles, passes fused k at a time: quotients[i] = floor(x[i] / d)
// given reciprocals[i] = 1 / d rounded and the bias for k; count a
// multiple of 8.
using doubledivide = std::function<void(const double* x, const double* reciprocals, double* quotients,
                                        std::int32_t count, double bias)>;

// What a division claims for passes of up to k: with its bias, every
// quotient up to 2 (10^k - 1) exact for every divisor up to the largest.
struct fusedclaim {
    std::int32_t k;
    double bias;
    std::int64_t largestdivisor;
};

// The quotients that decide a divisor: the error grows with the quotient
// while the gap between doubles is fixed within a power of two, so the
// worst are each power of two, the one below it, and the largest.
inline std::vector<std::int64_t> decidingquotients(std::int64_t largest)
{
    std::vector<std::int64_t> quotients = {0, largest};
    for (std::int64_t power = 1; power <= largest; power *= 2) {
        quotients.push_back(power);
        quotients.push_back(power - 1);
    }
    return quotients;
}

// The first of x = q d - 1, q d and q d + d - 1, for the deciding quotients
// of every divisor from `first` to `last`, that `divide` gets wrong, as
// "x / d gave ..."; empty when it gets all right.
inline std::string firstinexactdivision(const doubledivide& divide, const fusedclaim& claim, std::int64_t first,
                                        std::int64_t last)
{
    std::int64_t power = 1;
    for (std::int32_t i = 0; i < claim.k; ++i) {
        power *= 10;
    }
    const std::vector<std::int64_t> quotients = decidingquotients(2 * (power - 1));
    std::vector<double> xs, reciprocals, divisors;
    const auto flush = [&]() -> std::string {
        while (xs.size() % 8 != 0) {  // whole vectors
            xs.push_back(0.0), reciprocals.push_back(1.0), divisors.push_back(1.0);
        }
        std::vector<double> got(xs.size());
        divide(xs.data(), reciprocals.data(), got.data(), static_cast<std::int32_t>(xs.size()), claim.bias);
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const auto x = static_cast<std::int64_t>(xs[i]);
            const auto d = static_cast<std::int64_t>(divisors[i]);
            if (got[i] != static_cast<double>(x / d)) {
                return std::to_string(x) + " / " + std::to_string(d) + " gave " + std::to_string(got[i]) +
                       ", not " + std::to_string(x / d) + " (k = " + std::to_string(claim.k) + ")";
            }
        }
        xs.clear(), reciprocals.clear(), divisors.clear();
        return "";
    };
    for (std::int64_t d = std::max<std::int64_t>(first, 1); d <= last; ++d) {
        for (const std::int64_t q : quotients) {
            for (const std::int64_t x : {q * d - 1, q * d, q * d + d - 1}) {
                if (x >= 0) {
                    xs.push_back(static_cast<double>(x));
                    reciprocals.push_back(1.0 / static_cast<double>(d));
                    divisors.push_back(static_cast<double>(d));
                }
            }
        }
        if (xs.size() >= 1 << 16 || d == last) {
            if (std::string wrong = flush(); !wrong.empty()) {
                return wrong;
            }
        }
    }
    return "";
}

// A division's claim for every k: exact at the deciding dividends of the
// smallest divisors, of the largest it claims and 1024 below it, and of
// the 64 below each power of two up to it, where 1 / d rounds farthest
// (the relative error of the reciprocal nears 2^-53 only there).
inline void expectclaimsexact(const doubledivide& divide, const std::function<fusedclaim(std::int32_t k)>& claimfor,
                              std::int32_t mostpasses)
{
    for (std::int32_t k = 1; k <= mostpasses; ++k) {
        const fusedclaim claim = claimfor(k);
        EXPECT_EQ(firstinexactdivision(divide, claim, 1, 64), "");
        EXPECT_EQ(firstinexactdivision(divide, claim, claim.largestdivisor - 1023, claim.largestdivisor), "");
        for (std::int64_t power = 128; power <= claim.largestdivisor; power *= 2) {
            EXPECT_EQ(firstinexactdivision(divide, claim, power - 64, power - 1), "");
        }
    }
}

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
