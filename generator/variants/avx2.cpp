// The AVX2 variant, with FMA: sixteen vectors of four passes, 64 a batch.
// A step's chain (multiply-add, floor,
// multiply-subtract, multiply-add) is about 15 cycles, which eight vectors leave uncovered on
// a processor with two FMA pipes; the x values then spill from the sixteen
// registers, but the spills run beside the arithmetic. Built with -mavx2
// -mfma for this file alone.
#include <immintrin.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(32)));

// y = fma(x, reciprocal, bias), rounded once, lies strictly between q and
// q + 1 (the fused claim, passbatch.h): its floor is q.
struct floorinstruction {
    static constexpr bool tabled = true;
    static vector constant(double bias) { return vector{} + bias; }
    static vector quotient(const vector& x, const vector& reciprocal, const vector& bias)
    {
        return vector(_mm256_floor_pd(_mm256_fmadd_pd(__m256d(x), __m256d(reciprocal), __m256d(bias))));
    }
};

}  // namespace

void runavx2(const cells& cells, double* carries, const fusedpass& pass)
{
    rotated::runbatch<vector, avx2passes / rotated::widthof<vector>, floorinstruction>(cells, carries, pass);
}

void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count, bias);
}

}  // namespace generator::variants
