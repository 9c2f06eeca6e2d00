// The AVX2 variants, with FMA: sixteen vectors of four passes, 64 a batch,
// in two forms of the division. A step's chain (multiply-add, floor,
// multiply-subtract, multiply-add) is about 15 cycles, which eight vectors
// leave uncovered on a processor with two FMA pipes; the x values then
// spill from the sixteen registers, but the spills run beside the
// arithmetic. Built with -mavx2 -mfma for this file alone, and
// -frounding-math, as the form rounded down changes the rounding mode.
#include <immintrin.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(32)));

// y = fma(x, reciprocal, bias), rounded once, lies strictly between q and
// q + 1 (the fused claim, passbatch.h): its floor is q.
struct floorinstruction {
    // The reciprocals worked out, 1/d rounded once, as the cells enter: a
    // table would be 8 more bytes a cell, twice the cells'.
    static constexpr bool tabled = false;
    static vector reciprocals(const vector& divisors) { return (vector{} + 1.0) / divisors; }
    static vector constant(double bias) { return vector{} + bias; }
    static vector quotient(const vector& x, const vector& reciprocal, const vector& bias)
    {
        return vector(_mm256_floor_pd(_mm256_fmadd_pd(__m256d(x), __m256d(reciprocal), __m256d(bias))));
    }
};

// The form rounded down (passbatch.h), where AVX2 has no rounding of its
// own per instruction: the batch runs with MXCSR rounding toward minus
// infinity, so the FMA's x reciprocal + 1.5 2^52 is rounded down, and the
// quotient is that less the constant: a subtraction where the floor was
// (two micro-operations on Intel's FMA ports). Every other operation of
// the update is on integers below 2^53, exact in any mode. The reciprocals
// of the cells entering are vector divisions, which round 1/d down; for
// an odd d > 1, 1/d is no double, so rounded up it is the next double
// above, one more in its bits; 1/1 is exact. No table.
struct roundingdown {
    static constexpr bool tabled = false;
    static vector reciprocals(const vector& divisors)
    {
        const __m256d one = _mm256_set1_pd(1.0);
        const __m256i below = _mm256_castpd_si256(_mm256_div_pd(one, __m256d(divisors)));
        const __m256i aboveone =
            _mm256_srli_epi64(_mm256_castpd_si256(_mm256_cmp_pd(__m256d(divisors), one, _CMP_GT_OQ)), 63);
        return vector(_mm256_castsi256_pd(_mm256_add_epi64(below, aboveone)));
    }
    static vector constant(double) { return vector{} + 0x1.8p52; }
    static vector quotient(const vector& x, const vector& reciprocal, const vector& rounder)
    {
        const __m256d y = _mm256_fmadd_pd(__m256d(x), __m256d(reciprocal), __m256d(rounder));
        return vector(_mm256_sub_pd(y, __m256d(rounder)));
    }
};

// MXCSR rounding down while it lives, then as it was. What runs in that
// mode is out of line, so that none of its arithmetic can move across the
// change, and none of the caller's into it.
class roundingdownmode {
public:
    roundingdownmode() : saved(_mm_getcsr()) { _mm_setcsr((saved & ~_MM_ROUND_MASK) | _MM_ROUND_DOWN); }
    ~roundingdownmode() { _mm_setcsr(saved); }
    roundingdownmode(const roundingdownmode&) = delete;
    roundingdownmode& operator=(const roundingdownmode&) = delete;

private:
    unsigned saved;
};

[[gnu::noinline]] void advanceroundingdown(const cells& cells, batchrun& run, std::int32_t lowest,
                                           const fusedpass& pass)
{
    rotated::advancebatch<vector, avx2passes / rotated::widthof<vector>, roundingdown>(cells, run, lowest, pass);
}

[[gnu::noinline]] void divideroundingdown(const double* x, const double* reciprocals, double* quotients,
                                          std::int32_t count)
{
    rotated::dividelanes<vector, roundingdown>(x, reciprocals, quotients, count, 0.0);
}

}  // namespace

void advanceavx2rounddown(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass)
{
    const roundingdownmode mode;
    advanceroundingdown(cells, run, lowest, pass);
}

void divideavx2rounddown(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double)
{
    const roundingdownmode mode;
    divideroundingdown(x, reciprocals, quotients, count);
}

void advanceavx2(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass)
{
    rotated::advancebatch<vector, avx2passes / rotated::widthof<vector>, floorinstruction>(cells, run, lowest, pass);
}

void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count, bias);
}

}  // namespace generator::variants
