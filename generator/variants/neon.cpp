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

// y = x * reciprocal + 2^-30 lies strictly between q and q + 1
// (rotatedpasses.h): rounded towards minus infinity, it is q.
struct floorinstruction {
    static vector quotient(const vector& x, const vector& reciprocal)
    {
        return vector(vrndmq_f64(float64x2_t(x * reciprocal + 0x1p-30)));
    }
};

// In floats the forms need the fused multiply-add (floatdivide.h); the
// corrected one selects by a compare.
struct floatfloorinstruction {
    static floatvector quotient(const floatvector& x, const floatvector& reciprocal)
    {
        return floatvector(
            vrndmq_f32(vfmaq_f32(vdupq_n_f32(floatdivide::bias), float32x4_t(x), float32x4_t(reciprocal))));
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

void runneon(const cellregion<double>& region, const double* carriesin, double* carries)
{
    rotated::runbatch<vector, 16, floorinstruction>(region, carriesin, carries);
}

void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count)
{
    rotated::dividelanes<vector, floorinstruction>(x, reciprocals, quotients, count);
}


void runneonfloat(const cellregion<float>& region, const double* carriesin, double* carries)
{
    rotated::runbatch<floatvector, 16, floatfloorinstruction>(region, carriesin, carries);
}

void divideneonfloat(const floatdivisions& divisions, bool corrected)
{
    rotated::dividefloatlanes<floatvector, floatfloorinstruction>(divisions, corrected);
}

}  // namespace generator::variants
