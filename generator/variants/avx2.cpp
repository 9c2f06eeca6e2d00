// The AVX2 variants, with FMA: sixteen vectors of four passes in doubles,
// four times over for a batch, or of eight in floats, twice over. A step's chain (multiply-add, floor, multiply-subtract,
// multiply-add) is about 15 cycles, which eight vectors leave uncovered on
// a processor with two FMA pipes; the x values then spill from the sixteen
// registers, but the spills run beside the arithmetic. Built with -mavx2
// -mfma for this file alone.
#include <immintrin.h>

#include "floatdivide.h"
#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(32)));
typedef float floatvector __attribute__((vector_size(32)));

// y = fma(x, reciprocal, bias), rounded once, lies strictly between q and
// q + 1 (the fused claim, passbatch.h): its floor is q.
struct floorinstruction {
    static vector quotient(const vector& x, const vector& reciprocal, const vector& bias)
    {
        return vector(_mm256_floor_pd(_mm256_fmadd_pd(__m256d(x), __m256d(reciprocal), __m256d(bias))));
    }
};

// In floats the forms need the fused multiply-add (floatdivide.h). The
// corrected one tells q0 = q - 1 by the sign of r0 - d, exact: a blend by
// sign needs no compare.
struct floatfloorinstruction {
    static floatvector quotient(const floatvector& x, const floatvector& reciprocal, const floatvector& bias)
    {
        return floatvector(_mm256_floor_ps(_mm256_fmadd_ps(__m256(x), __m256(reciprocal), __m256(bias))));
    }
    static void correcteddivide(const floatvector& x, const floatvector& reciprocal, const floatvector& divisor,
                                floatvector& q, floatvector& r)
    {
        const __m256 y = _mm256_fmadd_ps(__m256(x), __m256(reciprocal), _mm256_set1_ps(floatdivide::correctionbias));
        const __m256 q0 = _mm256_round_ps(y, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m256 r0 = _mm256_fnmadd_ps(q0, __m256(divisor), __m256(x));
        const __m256 past = _mm256_sub_ps(r0, __m256(divisor));
        q = floatvector(_mm256_blendv_ps(_mm256_add_ps(q0, _mm256_set1_ps(1.0f)), q0, past));
        r = floatvector(_mm256_blendv_ps(past, r0, past));
    }
};

}  // namespace

void runavx2(const cellregion<double>& region, const double* carriesin, double* carries, const fusedpass& pass)
{
    rotated::runbatch<vector, 16, floorinstruction>(region, carriesin, carries, pass);
}

void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count, bias);
}

void runavx2float(const cellregion<float>& region, const double* carriesin, double* carries, const fusedpass& pass)
{
    rotated::runbatch<floatvector, 16, floatfloorinstruction>(region, carriesin, carries, pass);
}

void divideavx2float(const floatdivisions& divisions, bool corrected)
{
    rotated::dividefloatlanes<floatvector, floatfloorinstruction>(divisions, corrected);
}

}  // namespace generator::variants
