/* The AVX-512 kernel: eight passes per vector, sixteen vectors in flight
   to cover a step's latency (twelve independent vectors reach only 92% of
   what two FMA pipes allow, as the bound meter shows). Built with
   -mavx512f for this file alone. */
#include <immintrin.h>

#include "exactdivision.h"
#include "rotatedbatch.h"

namespace {

struct avx512lanes {
    typedef __m512d vector;
    enum { width = 8 };
    static vector load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, vector v) { _mm512_storeu_pd(p, v); }
    static vector widen(const int32_t* p) { return _mm512_cvtepi32_pd(_mm256_loadu_si256((const __m256i*)p)); }
    static void narrow(int32_t* p, vector v) { _mm256_storeu_si256((__m256i*)p, _mm512_cvttpd_epi32(v)); }
    static vector broadcast(double value) { return _mm512_set1_pd(value); }
    static vector add(vector a, vector b) { return _mm512_add_pd(a, b); }
    static vector mul(vector a, vector b) { return _mm512_mul_pd(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return _mm512_fmadd_pd(a, b, c); }
    static vector fnmadd(vector a, vector b, vector c) { return _mm512_fnmadd_pd(a, b, c); }
    /* The form rounded down (exactdivision.h): x rho + 1.5 2^52 rounded
       down once is 1.5 2^52 + q, and the reciprocal is 1/d rounded up.
       One rounding instruction fewer than a floor after the FMA. */
    static vector divisionconstant(double) { return _mm512_set1_pd(EXACTDIVISION_ROUNDER); }
    static vector quotient(vector x, vector reciprocal, vector rounder)
    {
        const vector y = _mm512_fmadd_round_pd(x, reciprocal, rounder, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        return _mm512_sub_pd(y, rounder);
    }
    static vector reciprocals(vector divisors)
    {
        return _mm512_div_round_pd(_mm512_set1_pd(1.0), divisors, _MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC);
    }
    static vector min(vector a, vector b) { return _mm512_min_pd(a, b); }
    static vector max(vector a, vector b) { return _mm512_max_pd(a, b); }
    static vector rotateup(vector v, double entering)
    {
        return _mm512_castsi512_pd(_mm512_alignr_epi64(
            _mm512_castpd_si512(v), _mm512_castpd_si512(_mm512_set1_pd(entering)), width - 1));
    }
    static double top(vector v)
    {
        const __m128d high = _mm256_extractf128_pd(_mm512_extractf64x4_pd(v, 1), 1);
        return _mm_cvtsd_f64(_mm_unpackhi_pd(high, high));
    }
};

}  // namespace

void advanceavx512(struct spigotbatch* batch, struct batchrun* run, int32_t lowest)
{
    advancerotatedbatch<avx512lanes, avx512vectors>(batch, run, lowest);
}

void divideavx512(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    dividelanes<avx512lanes>(x, reciprocals, quotients, count, bias);
}
