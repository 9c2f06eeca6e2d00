#pragma once

// The dividends that decide whether a division by a reciprocal is exact,
// and checkers that put them to a subsystem's division many at a time.
// Each subsystem's tests hand in their own division; what is checked, and
// how a wrong quotient is reported, is said once, here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
// quotient up to 2 (10^k - 1) exact for every divisor up to the largest,
// given 1 / d rounded to nearest, or rounded up.
struct fusedclaim {
    std::int32_t k;
    double bias;
    std::int64_t largestdivisor;
    bool roundedup = false;
};

inline double reciprocalof(std::int64_t d, bool roundedup)
{
    const double nearest = 1.0 / static_cast<double>(d);
    const bool below = std::fma(nearest, static_cast<double>(d), -1.0) < 0.0;
    return roundedup && below ? std::nextafter(nearest, 2.0) : nearest;
}

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
                    reciprocals.push_back(reciprocalof(d, claim.roundedup));
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

}  // namespace testsupport
