/* The AVX2 kernels: four passes per vector in doubles, eight in floats,
   with FMA. A step's chain
   (multiply-add, floor, multiply-subtract, multiply-add) is about 15
   cycles; sixteen vectors in flight cover it on two FMA pipes, where eight
   left it showing. Their x values and the constants no longer fit sixteen
   registers, but the spills are loads and stores beside the arithmetic,
   which ran faster than the latency did. Built with -mavx2 -mfma for this
   file alone. */
#include <immintrin.h>

#include "exactdivision.h"
#include "floatdivision.h"
#include "rotatedbatch.h"

namespace {

struct avx2lanes {
    typedef __m256d vector;
    typedef double scalar;
    enum { width = 4 };
    static vector load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, vector v) { _mm256_storeu_pd(p, v); }
    static vector broadcast(double value) { return _mm256_set1_pd(value); }
    static vector add(vector a, vector b) { return _mm256_add_pd(a, b); }
    static vector mul(vector a, vector b) { return _mm256_mul_pd(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return _mm256_fmadd_pd(a, b, c); }
    static vector fnmadd(vector a, vector b, vector c) { return _mm256_fnmadd_pd(a, b, c); }
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
    static void storetop(double* p, vector v) { _mm_storeh_pd(p, _mm256_extractf128_pd(v, 1)); }
};

/* Eight passes per vector in floats, for runs whose values all fit one. */
struct avx2floatlanes {
    typedef __m256 vector;
    typedef float scalar;
    enum { width = 8 };
    static vector load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, vector v) { _mm256_storeu_ps(p, v); }
    static vector broadcast(float value) { return _mm256_set1_ps(value); }
    static vector add(vector a, vector b) { return _mm256_add_ps(a, b); }
    static vector mul(vector a, vector b) { return _mm256_mul_ps(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return _mm256_fmadd_ps(a, b, c); }
    static vector fnmadd(vector a, vector b, vector c) { return _mm256_fnmadd_ps(a, b, c); }
    static vector quotient(vector x, vector reciprocal, vector bias)
    {
        return _mm256_floor_ps(_mm256_fmadd_ps(x, reciprocal, bias));
    }
    /* q0 is q or q - 1 (floatdivision.h); t = r0 - d is exact, and its
       sign tells which: a blend by sign needs no compare. */
    static void correcteddivide(vector x, vector reciprocal, vector divisor, vector& q, vector& r)
    {
        const vector q0 = _mm256_round_ps(_mm256_fmadd_ps(x, reciprocal, _mm256_set1_ps(FLOATDIVISION_CORRECTIONBIAS)),
                                          _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const vector r0 = _mm256_fnmadd_ps(q0, divisor, x);
        const vector t = _mm256_sub_ps(r0, divisor);
        q = _mm256_blendv_ps(_mm256_add_ps(q0, _mm256_set1_ps(1.0f)), q0, t);
        r = _mm256_blendv_ps(t, r0, t);
    }
    static vector min(vector a, vector b) { return _mm256_min_ps(a, b); }
    static vector max(vector a, vector b) { return _mm256_max_ps(a, b); }
    static vector rotateup(vector v, float entering)
    {
        const vector up = _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6));
        return _mm256_blend_ps(up, _mm256_set1_ps(entering), 0x1);
    }
    static void storetop(float* p, vector v)
    {
        _mm_store_ss(p, _mm_permute_ps(_mm256_extractf128_ps(v, 1), 0xff));
    }
};

}  // namespace

void runbatchavx2(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers)
{
    runrotatedbatch<avx2lanes, avx2vectors>(batch, carriesin, carriesout, powers);
}

void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    dividelanes<avx2lanes>(x, reciprocals, quotients, count, bias);
}

void runbatchavx2float(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers)
{
    runrotatedbatch<avx2floatlanes, avx2vectors>(batch, carriesin, carriesout, powers);
}

void divideavx2float(const struct floatdivisions* divisions, int corrected)
{
    dividefloatlanes<avx2floatlanes>(divisions, corrected);
}
