/* The AVX2 kernel: four passes per vector, with FMA. A step's chain
   (multiply-add, floor, multiply-subtract, multiply-add) is about 15
   cycles; sixteen vectors in flight cover it on two FMA pipes, where eight
   left it showing. Their x values and the constants no longer fit sixteen
   registers, but the spills are loads and stores beside the arithmetic,
   which ran faster than the latency did. Built with -mavx2 -mfma for this
   file alone. */
#include <immintrin.h>

#include "exactdivision.h"
#include "rotatedbatch.h"

namespace {

struct avx2lanes {
    typedef __m256d vector;
    enum { width = 4 };
    static vector load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, vector v) { _mm256_storeu_pd(p, v); }
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
    static void storetop(double* p, vector v) { _mm_storeh_pd(p, _mm256_extractf128_pd(v, 1)); }
};

}  // namespace

void runbatchavx2(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers)
{
    runrotatedbatch<avx2lanes, avx2vectors>(batch, carriesout, powers);
}

void divideavx2(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    dividelanes<avx2lanes>(x, reciprocals, quotients, count, bias);
}
