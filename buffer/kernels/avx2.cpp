/* The AVX2 kernels: four passes per vector, with FMA, in two forms of the
   division. A step's chain (multiply-add, floor, multiply-subtract,
   multiply-add) is about 15 cycles; sixteen vectors in flight cover it on
   two FMA pipes, where eight left it showing. Their x values and the
   constants no longer fit sixteen registers, but the spills are loads and
   stores beside the arithmetic, which ran faster than the latency did.
   Built with -mavx2 -mfma for this file alone, and -frounding-math, as the
   form rounded down changes the rounding mode. */
#include <immintrin.h>

#include "exactdivision.h"
#include "rotatedbatch.h"

namespace {

struct avx2lanes {
    typedef __m256d vector;
    enum { width = 4 };
    static vector load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, vector v) { _mm256_storeu_pd(p, v); }
    static vector widen(const int32_t* p) { return _mm256_cvtepi32_pd(_mm_loadu_si128((const __m128i*)p)); }
    static void narrow(int32_t* p, vector v) { _mm_storeu_si128((__m128i*)p, _mm256_cvttpd_epi32(v)); }
    static vector broadcast(double value) { return _mm256_set1_pd(value); }
    static vector add(vector a, vector b) { return _mm256_add_pd(a, b); }
    static vector mul(vector a, vector b) { return _mm256_mul_pd(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return _mm256_fmadd_pd(a, b, c); }
    static vector fnmadd(vector a, vector b, vector c) { return _mm256_fnmadd_pd(a, b, c); }
    static vector divisionconstant(double bias) { return broadcast(bias); }
    static vector reciprocals(vector divisors) { return _mm256_div_pd(_mm256_set1_pd(1.0), divisors); }
    static vector quotient(vector x, vector reciprocal, vector bias)
    {
        return _mm256_floor_pd(_mm256_fmadd_pd(x, reciprocal, bias));
    }
    static vector min(vector a, vector b) { return _mm256_min_pd(a, b); }
    static vector max(vector a, vector b) { return _mm256_max_pd(a, b); }
    static vector rotateup(vector v, double entering)
    {
        const vector up = _mm256_permute4x64_pd(v, 0x93);  // v3, v0, v1, v2
        return _mm256_blend_pd(up, _mm256_set1_pd(entering), 0x1);
    }
    static double top(vector v)
    {
        const __m128d high = _mm256_extractf128_pd(v, 1);
        return _mm_cvtsd_f64(_mm_unpackhi_pd(high, high));
    }
};

/* The form rounded down (exactdivision.h), where AVX2 has no rounding of
   its own per instruction: the batch runs with MXCSR rounding toward minus
   infinity, so the FMA's x rho + 1.5 2^52 is rounded down, and the
   quotient is that less the constant: a subtraction where the floor was
   (which is two micro-operations on Intel's FMA ports). Every other
   operation of the update is on integers below 2^53, exact in any mode.
   The division rounds 1/d down; for an odd d > 1, 1/d is no double, so
   rounded up it is the next double above, one more in its bits; 1/1 is
   exact. */
struct avx2rounddownlanes : avx2lanes {
    static vector divisionconstant(double) { return broadcast(EXACTDIVISION_ROUNDER); }
    static vector quotient(vector x, vector reciprocal, vector rounder)
    {
        return _mm256_sub_pd(_mm256_fmadd_pd(x, reciprocal, rounder), rounder);
    }
    static vector reciprocals(vector divisors)
    {
        const vector one = _mm256_set1_pd(1.0);
        const __m256i below = _mm256_castpd_si256(_mm256_div_pd(one, divisors));
        const __m256i aboveone = _mm256_srli_epi64(_mm256_castpd_si256(_mm256_cmp_pd(divisors, one, _CMP_GT_OQ)), 63);
        return _mm256_castsi256_pd(_mm256_add_epi64(below, aboveone));
    }
};

/* MXCSR rounding down, then back as it was. What runs in that mode is
   out of line, so that none of its arithmetic can move across the
   change, and none of the caller's into it. Plain calls, not a guard
   object: a destructor would make this file need the C++ runtime's
   exception support, and the buffer programs link the C library alone. */
static unsigned roundingdown(void)
{
    const unsigned saved = _mm_getcsr();
    _mm_setcsr((saved & ~_MM_ROUND_MASK) | _MM_ROUND_DOWN);
    return saved;
}

static void restorerounding(unsigned saved) { _mm_setcsr(saved); }

[[gnu::noinline]] void advanceroundingdown(struct spigotbatch* batch, struct batchrun* run, int32_t lowest)
{
    advancerotatedbatch<avx2rounddownlanes, avx2vectors>(batch, run, lowest);
}

[[gnu::noinline]] void divideroundingdown(const double* x, const double* reciprocals, double* quotients,
                                          int32_t count)
{
    dividelanes<avx2rounddownlanes>(x, reciprocals, quotients, count, 0.0);
}

}  // namespace

void advanceavx2rounddown(struct spigotbatch* batch, struct batchrun* run, int32_t lowest)
{
    const unsigned saved = roundingdown();
    advanceroundingdown(batch, run, lowest);
    restorerounding(saved);
}

void divideavx2rounddown(const double* x, const double* reciprocals, double* quotients, int32_t count, double)
{
    const unsigned saved = roundingdown();
    divideroundingdown(x, reciprocals, quotients, count);
    restorerounding(saved);
}

void advanceavx2(struct spigotbatch* batch, struct batchrun* run, int32_t lowest)
{
    advancerotatedbatch<avx2lanes, avx2vectors>(batch, run, lowest);
}

void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    dividelanes<avx2lanes>(x, reciprocals, quotients, count, bias);
}
