// The kernels' exact division by a reciprocal, at the edges of its claim:
// x = k*d - 1, k*d, k*d + 1 over the whole range of divisors the data model
// has and of quotients a pass produces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "eachvariant.h"
#include "exactdivision.h"

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
