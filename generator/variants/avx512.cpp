// The AVX-512 variant: sixteen vectors of eight passes, twice over for a
// batch.
// A step's chain is about 15 cycles: twelve independent vectors cover only
// 92% of what two FMA pipes allow (the bound meter shows it), sixteen all
// of it. Built with -mavx512f for this file alone.
#include <immintrin.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(64)));

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

}  // namespace

void runavx512(const cells& cells, double* carries, const fusedpass& pass)
{
    rotated::runbatch<vector, 16, floorinstruction>(cells, carries, pass);
}

void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count, bias);
}

}  // namespace generator::variants
