// The bound for AVX2 with FMA. Built with -mavx2 -mfma for this file alone.
#include <immintrin.h>

#include "boundchains.h"

namespace {

typedef double vector256 __attribute__((vector_size(32)));

struct floor256 {
    vector256 operator()(const vector256& y) const { return vector256(_mm256_floor_pd(__m256d(y))); }
};

// The form rounded down by the rounding mode: the meter runs with MXCSR
// set to round toward minus infinity, and the quotient is 1.5 2^52 + q
// from one FMA, less that constant: a subtraction where the floor was.
struct rounddown256 {
    static constexpr double rounder = 0x1.8p52;
    vector256 operator()(const vector256& x, const vector256& r, const vector256& constant) const
    {
        return vector256(_mm256_sub_pd(_mm256_fmadd_pd(__m256d(x), __m256d(r), __m256d(constant)), __m256d(constant)));
    }
};

// Runs a meter with MXCSR rounding down; out of line, so that nothing of
// it runs in the caller's mode.
template <double (*meter)(std::int64_t)>
double roundingdown(std::int64_t iterations)
{
    const unsigned saved = _mm_getcsr();
    _mm_setcsr((saved & ~_MM_ROUND_MASK) | _MM_ROUND_DOWN);
    const double result = meter(iterations);
    _mm_setcsr(saved);
    return result;
}

[[gnu::noinline]] double avx2rounddown12(std::int64_t iterations);
[[gnu::noinline]] double avx2rounddown16(std::int64_t iterations);
[[gnu::noinline]] double avx2rounddownring16(std::int64_t iterations);
[[gnu::noinline]] double avx2rounddownringloads16(std::int64_t iterations);
[[gnu::noinline]] double avx2rounddownringrenewal16(std::int64_t iterations);
[[gnu::noinline]] double avx2rounddownringrotated16(std::int64_t iterations);
[[gnu::noinline]] double avx2rounddownringdivided16(std::int64_t iterations);
[[gnu::noinline]] double avx2rounddownkernelstep16(std::int64_t iterations);
BOUNDMETER_CHAINS(avx2rounddown, vector256, rounddown256, rounddown256::rounder, 12)
BOUNDMETER_CHAINS(avx2rounddown, vector256, rounddown256, rounddown256::rounder, 16)
BOUNDMETER_SHAPE(ring, runringchains, avx2rounddown, vector256, rounddown256, rounddown256::rounder, 16)
BOUNDMETER_RING(ringloads, avx2rounddown, vector256, rounddown256, rounddown256::rounder, 16)
BOUNDMETER_RING(ringrenewal, avx2rounddown, vector256, rounddown256, rounddown256::rounder, 16)
BOUNDMETER_RING(ringrotated, avx2rounddown, vector256, rounddown256, rounddown256::rounder, 16)
BOUNDMETER_RING(ringdivided, avx2rounddown, vector256, rounddown256, rounddown256::rounder, 16)
BOUNDMETER_RING(kernelstep, avx2rounddown, vector256, rounddown256, rounddown256::rounder, 16)
BOUNDMETER_RING(kernelstep, avx2floor, vector256, floor256, boundmeter::floorbias, 16)

BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 8)
BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 10)
BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 12)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 8)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 10)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 12)
// Sixteen chains and their constants overflow the sixteen registers: the
// compiler spills some x values to the stack.
BOUNDMETER_CHAINS(avx2floor, vector256, floor256, boundmeter::floorbias, 16)
BOUNDMETER_CHAINS(avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 16)
BOUNDMETER_SHAPE(ring, runringchains, avx2floor, vector256, floor256, boundmeter::floorbias, 8)
BOUNDMETER_SHAPE(ring, runringchains, avx2floor, vector256, floor256, boundmeter::floorbias, 12)
BOUNDMETER_SHAPE(ring, runringchains, avx2floor, vector256, floor256, boundmeter::floorbias, 16)
BOUNDMETER_RING(ringoftwo, avx2floor, vector256, floor256, boundmeter::floorbias, 16)
BOUNDMETER_SHAPE(ring, runringchains, avx2adds, vector256, boundmeter::byadds, boundmeter::byadds::bias, 16)

}  // namespace

namespace boundmeter {

std::vector<meter> avx2meters()
{
    return {{"floor", 4, 8, avx2floor8},  {"floor", 4, 10, avx2floor10}, {"floor", 4, 12, avx2floor12},
            {"adds", 4, 8, avx2adds8},    {"adds", 4, 10, avx2adds10},   {"adds", 4, 12, avx2adds12},
            {"floor", 4, 16, avx2floor16},  {"adds", 4, 16, avx2adds16},
            {"ring", 4, 8, avx2floorring8, true},   {"ring", 4, 12, avx2floorring12, true},
            {"ring", 4, 16, avx2floorring16, true}, {"ringadds", 4, 16, avx2addsring16, true},
            {"ringoftwo", 4, 16, avx2floorringoftwo16, true},
            {"rounddown", 4, 12, roundingdown<avx2rounddown12>}, {"rounddown", 4, 16, roundingdown<avx2rounddown16>},
            {"ringrounddown", 4, 16, roundingdown<avx2rounddownring16>, true},
            {"ringloadsrounddown", 4, 16, roundingdown<avx2rounddownringloads16>, true},
            {"ringrenewalrounddown", 4, 16, roundingdown<avx2rounddownringrenewal16>, true},
            {"ringrotatedrounddown", 4, 16, roundingdown<avx2rounddownringrotated16>, true},
            {"ringdividedrounddown", 4, 16, roundingdown<avx2rounddownringdivided16>, true},
            {"kernelsteprounddown", 4, 16, roundingdown<avx2rounddownkernelstep16>, true},
            {"kernelstep", 4, 16, avx2floorkernelstep16, true}};
}

}  // namespace boundmeter
