// The arm64 variant, on the NEON every arm64 processor has: sixteen
// vectors of two passes, 32 a batch, to cover a step's
// chain (about 15 cycles) with up to four FMA pipes, within the 32
// registers.
#include <arm_neon.h>

#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(16)));

// y = fma(x, reciprocal, bias), rounded once, lies strictly between q and
// q + 1 (the fused claim, passbatch.h): rounded towards minus infinity, it
// is q.
struct floorinstruction {
    static constexpr bool tabled = true;
    static vector constant(double bias) { return vector{} + bias; }
    static vector quotient(const vector& x, const vector& reciprocal, const vector& bias)
    {
        return vector(vrndmq_f64(vfmaq_f64(float64x2_t(bias), float64x2_t(x), float64x2_t(reciprocal))));
    }
};

}  // namespace

void advanceneon(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass)
{
    rotated::advancebatch<vector, neonpasses / rotated::widthof<vector>, floorinstruction>(cells, run, lowest, pass);
}

void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count, bias);
}

}  // namespace generator::variants
