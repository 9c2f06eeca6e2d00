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
#include <utility>
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

// The quotients that decide a divisor. The error of y grows with q (q t,
// and each rounding's share), while the gap between doubles is fixed
// within a power of two and halves below it; a rounding to nearest breaks
// ties to even. So the worst are the largest quotients and each power of
// two with its neighbours, of both parities.
inline std::vector<std::int64_t> decidingquotients(std::int64_t largest)
{
    std::vector<std::int64_t> quotients = {0};
    for (std::int64_t q = std::max<std::int64_t>(largest - 3, 1); q <= largest; ++q) {
        quotients.push_back(q);
    }
    for (std::int64_t power = 1; power < largest - 4; power *= 2) {
        for (std::int64_t q = std::max<std::int64_t>(power - 2, 1); q <= std::min(power + 1, largest - 4); ++q) {
            quotients.push_back(q);
        }
    }
    return quotients;
}

// The divisors that decide a claim up to the largest: the smallest and the
// largest, and in each range from a power of two to the next the 8 whose
// reciprocal rounds farthest down and the 8 farthest up (y falls furthest
// short of q, or comes nearest q + 1), picked from the 4096 at its top,
// where the relative error t of the reciprocal can near its bound.
inline std::vector<std::int64_t> decidingdivisors(std::int64_t largest, bool roundedup)
{
    std::vector<std::int64_t> divisors;
    for (std::int64_t d = 1; d <= std::min<std::int64_t>(64, largest); ++d) {
        divisors.push_back(d);
    }
    for (std::int64_t d = std::max<std::int64_t>(largest - 63, 65); d <= largest; ++d) {
        divisors.push_back(d);
    }
    for (std::int64_t power = 64; power <= largest; power *= 2) {
        const std::int64_t top = std::min(2 * power - 1, largest);
        std::vector<std::pair<double, std::int64_t>> byerror;
        for (std::int64_t d = std::max(power, top - 4095); d <= top; ++d) {
            byerror.emplace_back(std::fma(reciprocalof(d, roundedup), static_cast<double>(d), -1.0), d);
        }
        std::sort(byerror.begin(), byerror.end());
        for (std::size_t i = 0; i < std::min<std::size_t>(8, byerror.size()); ++i) {
            divisors.push_back(byerror[i].second);
            divisors.push_back(byerror[byerror.size() - 1 - i].second);
        }
    }
    return divisors;
}

// The first of x = q d - 1, q d and q d + d - 1, for the deciding quotients
// of each divisor, that `divide` gets wrong, as "x / d gave ..."; empty
// when it gets all right.
inline std::string firstinexactdivision(const doubledivide& divide, const fusedclaim& claim,
                                        const std::vector<std::int64_t>& divisors)
{
    std::int64_t power = 1;
    for (std::int32_t i = 0; i < claim.k; ++i) {
        power *= 10;
    }
    const std::vector<std::int64_t> quotients = decidingquotients(2 * (power - 1));
    std::vector<double> xs, reciprocals, divisorsof;
    const auto flush = [&]() -> std::string {
        while (xs.size() % 8 != 0) {  // whole vectors
            xs.push_back(0.0), reciprocals.push_back(1.0), divisorsof.push_back(1.0);
        }
        std::vector<double> got(xs.size());
        divide(xs.data(), reciprocals.data(), got.data(), static_cast<std::int32_t>(xs.size()), claim.bias);
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const auto x = static_cast<std::int64_t>(xs[i]);
            const auto d = static_cast<std::int64_t>(divisorsof[i]);
            if (got[i] != static_cast<double>(x / d)) {
                return std::to_string(x) + " / " + std::to_string(d) + " gave " + std::to_string(got[i]) +
                       ", not " + std::to_string(x / d) + " (k = " + std::to_string(claim.k) + ")";
            }
        }
        xs.clear(), reciprocals.clear(), divisorsof.clear();
        return "";
    };
    for (std::size_t i = 0; i < divisors.size(); ++i) {
        const std::int64_t d = divisors[i];
        const double reciprocal = reciprocalof(d, claim.roundedup);
        for (const std::int64_t q : quotients) {
            for (const std::int64_t x : {q * d - 1, q * d, q * d + d - 1}) {
                if (x >= 0) {
                    xs.push_back(static_cast<double>(x));
                    reciprocals.push_back(reciprocal);
                    divisorsof.push_back(static_cast<double>(d));
                }
            }
        }
        if (xs.size() >= 1 << 16 || i + 1 == divisors.size()) {
            if (std::string wrong = flush(); !wrong.empty()) {
                return wrong;
            }
        }
    }
    return "";
}

// A division's claim for every k, at the deciding dividends of its
// deciding divisors.
inline void expectclaimsexact(const doubledivide& divide, const std::function<fusedclaim(std::int32_t k)>& claimfor,
                              std::int32_t mostpasses)
{
    for (std::int32_t k = 1; k <= mostpasses; ++k) {
        const fusedclaim claim = claimfor(k);
        EXPECT_EQ(firstinexactdivision(divide, claim, decidingdivisors(claim.largestdivisor, claim.roundedup)), "");
    }
}

}  // namespace testsupport
