#pragma once

// The chains the bound meter runs, written once over a vector type and a
// rounding; each instruction set's file (built with its own flags) makes
// its meters from them. Internal linkage, so each file keeps its own copy.

#include <cstdint>
#include <vector>

namespace boundmeter {

// A meter runs `chains` independent vectors of `lanes` doubles through
// `iterations` updates each, and returns a value that depends on every
// update, so that nothing is optimized away.
struct meter {
    const char* form;
    int lanes;
    int chains;
    double (*run)(std::int64_t iterations);
};

namespace {

// The chains step like a spigot's cell: divisor 2m - 1, so x stays an
// integer below 10 d + 20 m and the arithmetic never meets a special value.
constexpr double chainmultiplier = 1001.0;
constexpr double chaindivisor = 2 * chainmultiplier - 1;

// Each step: q = round(x * r + bias), then x = 10 * (x - q * d) + q * m,
// with round(y) = floor(x / d): the kernels' multiply by the reciprocal,
// floor, multiply-subtract, multiply and multiply-add. The compiler fuses
// each multiply with the add after it, as in the kernels. The constants
// stay in registers; nothing goes to memory.
template <typename vector, int chains, typename rounding>
[[gnu::always_inline]] inline double runchains(std::int64_t iterations, rounding round, double bias)
{
    vector x[chains];
    for (int i = 0; i < chains; ++i) {
        x[i] = vector{} + (20.0 + i);
    }
    const vector reciprocal = vector{} + 1.0 / chaindivisor;
    const vector divisor = vector{} + chaindivisor;
    const vector multiplier = vector{} + chainmultiplier;
    for (std::int64_t n = 0; n < iterations; ++n) {
#pragma GCC unroll 32
        for (int i = 0; i < chains; ++i) {
            const vector q = round(x[i] * reciprocal + bias);
            const vector remainder = x[i] - q * divisor;
            x[i] = remainder * 10.0 + q * multiplier;
        }
    }
    vector sum{};
    for (int i = 0; i < chains; ++i) {
        sum += x[i];
    }
    double total = 0.0;
    for (int l = 0; l < int(sizeof(vector) / sizeof(double)); ++l) {
        total += sum[l];
    }
    return total;
}

// Rounding with two adds, as the kernels without a floor instruction do:
// y + 1.5 * 2^52 lands where doubles are the integers. The bias then
// includes -1/2, so that round to nearest is the floor.
struct byadds {
    static constexpr double bias = 0x1p-30 - 0.5;
    template <typename vector>
    [[gnu::always_inline]] vector operator()(const vector& y) const
    {
        return (y + 0x1.8p52) - 0x1.8p52;
    }
};

// For a floor instruction.
constexpr double floorbias = 0x1p-30;

}  // namespace

}  // namespace boundmeter

// One meter function, named for its form and its count of chains (such
// as avx2floor8): form, vector type, rounding, bias, chains.
#define BOUNDMETER_CHAINS(form, vector, rounding, bias, chains)                      \
    double form##chains(std::int64_t iterations)                                    \
    {                                                                               \
        return boundmeter::runchains<vector, chains>(iterations, rounding{}, bias); \
    }
