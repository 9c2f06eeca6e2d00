#pragma once

// The chains the bound meter runs, written once over a vector type and a
// rounding; each instruction set's file (built with its own flags) makes
// its meters from them. Internal linkage, so each file keeps its own copy.

#include <cstdint>
#include <utility>
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
    // A meter of a kernel's shape (shapes below): the update with what a
    // kernel does around it. Never the bound; it shows what binds.
    bool shape = false;
};

namespace {

// The chains step like a spigot's cell: divisor 2m - 1, so x stays an
// integer below 10 d + 20 m and the arithmetic never meets a special value.
constexpr double chainmultiplier = 1001.0;
constexpr double chaindivisor = 2 * chainmultiplier - 1;

// The quotient by a rounding of y = x * r + bias, or by a form that takes
// x, r and its constant itself.
template <typename vector, typename rounding>
[[gnu::always_inline]] inline vector quotientof(const rounding& round, const vector& x, const vector& reciprocal,
                                                const vector& bias)
{
    if constexpr (requires { round(x, reciprocal, bias); }) {
        return round(x, reciprocal, bias);
    } else {
        return round(x * reciprocal + bias);
    }
}

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
            const vector q = quotientof(round, x[i], reciprocal, vector{} + bias);
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

// Shapes: the same update with what a kernel does around it, which the
// bound leaves out; a kernel near its shape's rate is bound by that.
//
// The ring of the kernels in rotated lanes: each vector's reciprocal and
// divisor read from its ring slot and its multiplier from the next one's,
// in memory (L1), and one slot a step renewed: its vectors read, changed
// and written back, as the cells' numbers move on. No cell enters or
// leaves, no batch fills or drains, nothing is released.
//
// Without divisors, the ring holds two numbers a slot: the reciprocal and
// the multiplier m the quotient carries down with, the divisor 2m + 1 left
// implicit: the remainder is (x - q) - 2 q m, with q m the product the
// carry needs anyway. One load fewer an update, one subtraction more.
//
// The ring's costs one at a time, to find what binds it (ringcosts):
// loads (the slot's numbers read from L1, else kept in registers), the
// renewed slot (one slot's vectors read, changed and written back a step),
// the rotation (the cells leaving the last vector rotated up a lane into
// the first, the entering cell in lane 0, and the renewed slot's
// reciprocal likewise: two shuffles a step) and the chunk's divisions
// (the reciprocals of the cells entering a chunk of V steps, V / W vector
// divisions at its start, read by the renewals).
struct ringcosts {
    bool loads = true;
    bool renewed = true;
    bool rotated = false;
    bool divided = false;
    bool divisors = true;
    // Slots kept in registers rather than in L1, the first ones.
    int registerslots = 0;
};

// Lanes of v moved up one, lane 0 from `entering`: the kernels' rotation.
template <typename vector, std::size_t... l>
[[gnu::always_inline]] inline vector rotatedup(const vector& v, double entering, std::index_sequence<l...>)
{
    constexpr int width = int(sizeof(vector) / sizeof(double));
    const vector in = entering - vector{};
    return __builtin_shufflevector(v, in, (l == 0 ? width : int(l) - 1)...);
}

template <typename vector, int chains, typename rounding, ringcosts costs = ringcosts{}>
[[gnu::always_inline]] inline double runringchains(std::int64_t iterations, rounding round, double bias)
{
    constexpr bool divisors = costs.divisors;
    constexpr int width = int(sizeof(vector) / sizeof(double));
    const auto lanes = std::make_index_sequence<width>();
    struct alignas(64) ringslot {
        vector reciprocal, divisor, multiplier;
    };
    ringslot ring[chains];
    vector x[chains];
    for (int i = 0; i < chains; ++i) {
        x[i] = vector{} + (20.0 + i);
        // With the divisor implicit, the multiplier is the one 2m + 1 makes it.
        ring[i] = {vector{} + 1.0 / chaindivisor, vector{} + chaindivisor,
                   vector{} + (divisors ? chainmultiplier : (chaindivisor - 1) / 2)};
    }
    ringslot* slots = ring;
    const ringslot inregisters = ring[0];
    alignas(64) double entering[chains];
    for (double& reciprocal : entering) {
        reciprocal = 1.0 / chaindivisor;
    }
    double* enteringreciprocals = entering;
    const vector enteringdivisors = vector{} + chaindivisor;
    const vector one = vector{} + 1.0;
    const vector unchanged{};  // x + 0 is x, but no compiler may drop it
    for (std::int64_t n = 0; n < iterations; ++n) {
        // The ring stays in memory, as in the kernels.
        __asm__("" : "+r"(slots), "+r"(enteringreciprocals));
        if constexpr (costs.divided) {
            if (n % chains == 0) {
                for (int v = 0; v < chains; v += width) {
                    const vector some = one / enteringdivisors;
                    __builtin_memcpy(enteringreciprocals + v, &some, sizeof some);
                }
            }
        }
#pragma GCC unroll 32
        for (int i = 0; i < chains; ++i) {
            const bool loaded = costs.loads && i >= costs.registerslots;
            const ringslot& own = loaded ? slots[i] : inregisters;
            const vector q = quotientof(round, x[i], own.reciprocal, vector{} + bias);
            const vector& multiplier =
                loaded ? slots[(i + chains - 1) % chains].multiplier : own.multiplier;
            if constexpr (divisors) {
                x[i] = (x[i] - q * own.divisor) * 10.0 + q * multiplier;
            } else {
                const vector carried = q * multiplier;
                x[i] = ((x[i] - q) - 2.0 * carried) * 10.0 + carried;
            }
        }
        ringslot& renewed = slots[n % chains];
        if constexpr (costs.rotated) {
            // Every chain's lanes hold like values, so rotating keeps them.
            x[0] = rotatedup(x[chains - 1], x[0][0], lanes);
            renewed.reciprocal = rotatedup(renewed.reciprocal, enteringreciprocals[n % chains], lanes);
        } else if constexpr (costs.renewed) {
            renewed.reciprocal = renewed.reciprocal + unchanged;
        }
        if constexpr (costs.renewed) {
            if constexpr (divisors) {
                renewed.divisor = renewed.divisor + unchanged;
            }
            renewed.multiplier = renewed.multiplier + unchanged;
        }
    }
    vector sum{};
    for (int i = 0; i < chains; ++i) {
        sum += x[i];
    }
    return sum[0];
}

// The ring's costs apart: two numbers a slot; its loads alone (no slot
// renewed); its renewal alone (the numbers in registers); with the
// rotation; with the chunk's divisions; and the whole kernel's step, the
// ring with the rotation and the divisions.
inline constexpr ringcosts ringoftwo{.divisors = false};
inline constexpr ringcosts ringloads{.renewed = false};
inline constexpr ringcosts ringrenewal{.loads = false};
inline constexpr ringcosts ringrotated{.rotated = true};
inline constexpr ringcosts ringdivided{.divided = true};
inline constexpr ringcosts kernelstep{.rotated = true, .divided = true};
// And the ring with its first four slots in registers: a quarter of its
// loads fewer.
inline constexpr ringcosts ringpartlyinregisters{.registerslots = 4};

// The portable kernels' lanes: each works out its multiplier (a base the
// step sets, plus its lane) and its divisor 2m - 1, and reads its cell and
// reciprocal from arrays and writes its cell back, its carry kept beside.
template <typename vector, int chains, typename rounding>
[[gnu::always_inline]] inline double runlanechains(std::int64_t iterations, rounding round, double bias)
{
    constexpr int lanes = sizeof(vector) / sizeof(double);
    vector cells[chains], reciprocals[chains], lane[chains], carry[chains];
    for (int i = 0; i < chains; ++i) {
        for (int l = 0; l < lanes; ++l) {
            lane[i][l] = lanes * i + l;
            reciprocals[i][l] = 1.0 / (2.0 * (chainmultiplier + lanes * i + l) - 1.0);
        }
        cells[i] = vector{} + 1.0;
        carry[i] = vector{} + 2.0;
    }
    vector* cellarray = cells;
    double base = chainmultiplier;
    for (std::int64_t n = 0; n < iterations; ++n) {
        // A new step: the base and the cells, as far as the compiler knows.
        __asm__("" : "+r"(cellarray), "+r"(base));
#pragma GCC unroll 32
        for (int i = 0; i < chains; ++i) {
            const vector multiplier = base + lane[i];
            const vector divisor = multiplier + multiplier - 1.0;
            const vector x = 10.0 * cellarray[i] + carry[i] * multiplier;
            const vector q = quotientof(round, x, reciprocals[i], vector{} + bias);
            cellarray[i] = x - q * divisor;
            carry[i] = q;
        }
    }
    vector sum{};
    for (int i = 0; i < chains; ++i) {
        sum += carry[i];
    }
    return sum[0];
}

}  // namespace

}  // namespace boundmeter

// One meter function, named for its form and its count of chains (such
// as avx2floor8): form, vector type, rounding, bias, chains; and one of a
// shape, named for it too, with the chains that run it (runringchains,
// runlanechains).
#define BOUNDMETER_CHAINS(form, vector, rounding, bias, chains)                      \
    double form##chains(std::int64_t iterations)                                    \
    {                                                                               \
        return boundmeter::runchains<vector, chains>(iterations, rounding{}, bias); \
    }
#define BOUNDMETER_SHAPE(shape, runner, form, vector, rounding, bias, chains)            \
    double form##shape##chains(std::int64_t iterations)                                \
    {                                                                                  \
        return boundmeter::runner<vector, chains>(iterations, rounding{}, bias);       \
    }
// A ring meter with some of its costs (ringcosts, named as the meter).
#define BOUNDMETER_RING(shape, form, vector, rounding, bias, chains)                                       \
    double form##shape##chains(std::int64_t iterations)                                                   \
    {                                                                                                     \
        return boundmeter::runringchains<vector, chains, rounding, boundmeter::shape>(iterations, rounding{}, \
                                                                                      bias);              \
    }
