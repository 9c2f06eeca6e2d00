// The arm64 variants, on the NEON every arm64 processor has: sixteen
// vectors of two passes in doubles, eight times over for a batch, or of
// four in floats, four times over, to cover a step's
// chain (about 15 cycles) with up to four FMA pipes, within the 32
// registers.
#include <arm_neon.h>

#include "floatdivide.h"
#include "rotatedpasses.h"
#include "variants.h"

namespace generator::variants {

namespace {

typedef double vector __attribute__((vector_size(16)));
typedef float floatvector __attribute__((vector_size(16)));

// y = fma(x, reciprocal, bias), rounded once, lies strictly between q and
// q + 1 (the fused claim, passbatch.h): rounded towards minus infinity, it
// is q.
struct floorinstruction {
    static vector quotient(const vector& x, const vector& reciprocal, const vector& bias)
    {
        return vector(vrndmq_f64(vfmaq_f64(float64x2_t(bias), float64x2_t(x), float64x2_t(reciprocal))));
    }
};

// In floats the forms need the fused multiply-add (floatdivide.h); the
// corrected one selects by a compare.
struct floatfloorinstruction {
    static floatvector quotient(const floatvector& x, const floatvector& reciprocal, const floatvector& bias)
    {
        return floatvector(vrndmq_f32(vfmaq_f32(float32x4_t(bias), float32x4_t(x), float32x4_t(reciprocal))));
    }
    static void correcteddivide(const floatvector& x, const floatvector& reciprocal, const floatvector& divisor,
                                floatvector& q, floatvector& r)
    {
        const float32x4_t q0 =
            vrndq_f32(vfmaq_f32(vdupq_n_f32(floatdivide::correctionbias), float32x4_t(x), float32x4_t(reciprocal)));
        const float32x4_t r0 = vfmsq_f32(float32x4_t(x), q0, float32x4_t(divisor));
        const uint32x4_t shortbyone = vcgeq_f32(r0, float32x4_t(divisor));
        q = floatvector(vbslq_f32(shortbyone, vaddq_f32(q0, vdupq_n_f32(1.0f)), q0));
        r = floatvector(vbslq_f32(shortbyone, vsubq_f32(r0, float32x4_t(divisor)), r0));
    }
};

}  // namespace

void runneon(const cellregion<double>& region, const double* carriesin, double* carries, const fusedpass& pass)
{
    rotated::runbatch<vector, 16, floorinstruction>(region, carriesin, carries, pass);
}

void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count, bias);
}

void runneonfloat(const cellregion<float>& region, const double* carriesin, double* carries, const fusedpass& pass)
{
    rotated::runbatch<floatvector, 16, floatfloorinstruction>(region, carriesin, carries, pass);
}

void divideneonfloat(const floatdivisions& divisions, bool corrected)
{
    rotated::dividefloatlanes<floatvector, floatfloorinstruction>(divisions, corrected);
}

}  // namespace generator::variants
