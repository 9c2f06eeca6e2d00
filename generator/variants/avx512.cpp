// The AVX-512 variants: sixteen vectors of eight passes in doubles, twice
// over for a batch, or of sixteen in floats, a batch at once.
// A step's chain is about 15 cycles: twelve independent vectors cover only
// 92% of what two FMA pipes allow (the bound meter shows it), sixteen all
// of it. Built with -mavx512f for this file alone.
#include <immintrin.h>

#include "floatdivide.h"
#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(64)));
typedef float floatvector __attribute__((vector_size(64)));

// y = fma(x, reciprocal, bias), rounded once, lies strictly between q and
// q + 1 (the fused claim, passbatch.h): rounded towards minus infinity, it
// is q.
struct floorinstruction {
    static vector quotient(const vector& x, const vector& reciprocal, const vector& bias)
    {
        const __m512d y = _mm512_fmadd_pd(__m512d(x), __m512d(reciprocal), __m512d(bias));
        return vector(_mm512_roundscale_pd(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    }
};

// In floats the forms need the fused multiply-add (floatdivide.h); the
// corrected one adds the missing 1 and takes off d under a compare's mask.
struct floatfloorinstruction {
    static floatvector quotient(const floatvector& x, const floatvector& reciprocal, const floatvector& bias)
    {
        const __m512 y = _mm512_fmadd_ps(__m512(x), __m512(reciprocal), __m512(bias));
        return floatvector(_mm512_roundscale_ps(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
    }
    static void correcteddivide(const floatvector& x, const floatvector& reciprocal, const floatvector& divisor,
                                floatvector& q, floatvector& r)
    {
        const __m512 y = _mm512_fmadd_ps(__m512(x), __m512(reciprocal), _mm512_set1_ps(floatdivide::correctionbias));
        const __m512 q0 = _mm512_roundscale_ps(y, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m512 r0 = _mm512_fnmadd_ps(q0, __m512(divisor), __m512(x));
        const __mmask16 shortbyone = _mm512_cmp_ps_mask(r0, __m512(divisor), _CMP_GE_OQ);
        q = floatvector(_mm512_mask_add_ps(q0, shortbyone, q0, _mm512_set1_ps(1.0f)));
        r = floatvector(_mm512_mask_sub_ps(r0, shortbyone, r0, __m512(divisor)));
    }
};

}  // namespace

void runavx512(const cellregion<double>& region, const double* carriesin, double* carries, const fusedpass& pass)
{
    rotated::runbatch<vector, 16, floorinstruction>(region, carriesin, carries, pass);
}

void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count, bias);
}

void runavx512float(const cellregion<float>& region, const double* carriesin, double* carries, const fusedpass& pass)
{
    rotated::runbatch<floatvector, 16, floatfloorinstruction>(region, carriesin, carries, pass);
}

void divideavx512float(const floatdivisions& divisions, bool corrected)
{
    rotated::dividefloatlanes<floatvector, floatfloorinstruction>(divisions, corrected);
}

}  // namespace generator::variants
