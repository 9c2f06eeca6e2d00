/* The AVX-512 kernels: eight passes per vector in doubles, sixteen in
   floats, sixteen vectors in flight
   to cover a step's latency (twelve independent vectors reach only 92% of
   what two FMA pipes allow, as the bound meter shows). Built with
   -mavx512f for this file alone. */
#include <immintrin.h>

#include "exactdivision.h"
#include "floatdivision.h"
#include "rotatedbatch.h"

namespace {

struct avx512lanes {
    typedef __m512d vector;
    typedef double scalar;
    enum { width = 8 };
    static vector load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, vector v) { _mm512_storeu_pd(p, v); }
    static vector broadcast(double value) { return _mm512_set1_pd(value); }
    static vector add(vector a, vector b) { return _mm512_add_pd(a, b); }
    static vector mul(vector a, vector b) { return _mm512_mul_pd(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return _mm512_fmadd_pd(a, b, c); }
    static vector fnmadd(vector a, vector b, vector c) { return _mm512_fnmadd_pd(a, b, c); }
    static vector quotient(vector x, vector reciprocal, vector bias)
    {
        const vector y = _mm512_fmadd_pd(x, reciprocal, bias);
        return _mm512_roundscale_pd(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    static vector min(vector a, vector b) { return _mm512_min_pd(a, b); }
    static vector max(vector a, vector b) { return _mm512_max_pd(a, b); }
    static vector rotateup(vector v, double entering)
    {
        return _mm512_castsi512_pd(_mm512_alignr_epi64(
            _mm512_castpd_si512(v), _mm512_castpd_si512(_mm512_set1_pd(entering)), width - 1));
    }
    static void storetop(double* p, vector v)
    {
        _mm_storeh_pd(p, _mm256_extractf128_pd(_mm512_extractf64x4_pd(v, 1), 1));
    }
};

/* Sixteen passes per vector in floats, for runs whose values all fit one. */
struct avx512floatlanes {
    typedef __m512 vector;
    typedef float scalar;
    enum { width = 16 };
    static vector load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, vector v) { _mm512_storeu_ps(p, v); }
    static vector broadcast(float value) { return _mm512_set1_ps(value); }
    static vector add(vector a, vector b) { return _mm512_add_ps(a, b); }
    static vector mul(vector a, vector b) { return _mm512_mul_ps(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return _mm512_fmadd_ps(a, b, c); }
    static vector fnmadd(vector a, vector b, vector c) { return _mm512_fnmadd_ps(a, b, c); }
    static vector quotient(vector x, vector reciprocal, vector bias)
    {
        const vector y = _mm512_fmadd_ps(x, reciprocal, bias);
        return _mm512_roundscale_ps(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    }
    /* q0 is q or q - 1 (floatdivision.h): one compare, two masked adds. */
    static void correcteddivide(vector x, vector reciprocal, vector divisor, vector& q, vector& r)
    {
        const vector y = _mm512_fmadd_ps(x, reciprocal, _mm512_set1_ps(FLOATDIVISION_CORRECTIONBIAS));
        const vector q0 = _mm512_roundscale_ps(y, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const vector r0 = _mm512_fnmadd_ps(q0, divisor, x);
        const __mmask16 shortbyone = _mm512_cmp_ps_mask(r0, divisor, _CMP_GE_OQ);
        q = _mm512_mask_add_ps(q0, shortbyone, q0, _mm512_set1_ps(1.0f));
        r = _mm512_mask_sub_ps(r0, shortbyone, r0, divisor);
    }
    static vector min(vector a, vector b) { return _mm512_min_ps(a, b); }
    static vector max(vector a, vector b) { return _mm512_max_ps(a, b); }
    static vector rotateup(vector v, float entering)
    {
        return _mm512_castsi512_ps(_mm512_alignr_epi32(
            _mm512_castps_si512(v), _mm512_castps_si512(_mm512_set1_ps(entering)), width - 1));
    }
    static void storetop(float* p, vector v)
    {
        _mm_store_ss(p, _mm_permute_ps(_mm512_extractf32x4_ps(v, 3), 0xff));
    }
};

}  // namespace

void runbatchavx512(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers)
{
    runrotatedbatch<avx512lanes, avx512vectors>(batch, carriesin, carriesout, powers);
}

void divideavx512(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    dividelanes<avx512lanes>(x, reciprocals, quotients, count, bias);
}

void runbatchavx512float(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers)
{
    runrotatedbatch<avx512floatlanes, avx512vectors>(batch, carriesin, carriesout, powers);
}

void divideavx512float(const struct floatdivisions* divisions, int corrected)
{
    dividefloatlanes<avx512floatlanes>(divisions, corrected);
}
