/* The arm64 kernels: two passes per 128-bit NEON vector in doubles, four
   in floats, which every arm64
   processor has, so it needs no check at run time. Sixteen vectors in
   flight cover a step's latency (about 15 cycles) on processors with up to
   four FMA pipes, and their x values with the constants fit the 32
   registers. */
#include <arm_neon.h>

#include "exactdivision.h"
#include "floatdivision.h"
#include "rotatedbatch.h"

namespace {

struct neonlanes {
    typedef float64x2_t vector;
    typedef double scalar;
    enum { width = 2 };
    static vector load(const double* p) { return vld1q_f64(p); }
    static void store(double* p, vector v) { vst1q_f64(p, v); }
    static vector broadcast(double value) { return vdupq_n_f64(value); }
    static vector add(vector a, vector b) { return vaddq_f64(a, b); }
    static vector mul(vector a, vector b) { return vmulq_f64(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return vfmaq_f64(c, a, b); }
    static vector fnmadd(vector a, vector b, vector c) { return vfmsq_f64(c, a, b); }
    static vector quotient(vector x, vector reciprocal, vector bias)
    {
        return vrndmq_f64(vfmaq_f64(bias, x, reciprocal));
    }
    static vector min(vector a, vector b) { return vminq_f64(a, b); }
    static vector max(vector a, vector b) { return vmaxq_f64(a, b); }
    /* {*entering, v[0]}: lane 1 of the broadcast, then lane 0 of v. */
    static vector rotateup(vector v, double entering) { return vextq_f64(vdupq_n_f64(entering), v, 1); }
    static void storetop(double* p, vector v) { vst1q_lane_f64(p, v, 1); }
};

/* Four passes per vector in floats, for runs whose values all fit one. */
struct neonfloatlanes {
    typedef float32x4_t vector;
    typedef float scalar;
    enum { width = 4 };
    static vector load(const float* p) { return vld1q_f32(p); }
    static void store(float* p, vector v) { vst1q_f32(p, v); }
    static vector broadcast(float value) { return vdupq_n_f32(value); }
    static vector add(vector a, vector b) { return vaddq_f32(a, b); }
    static vector mul(vector a, vector b) { return vmulq_f32(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return vfmaq_f32(c, a, b); }
    static vector fnmadd(vector a, vector b, vector c) { return vfmsq_f32(c, a, b); }
    static vector quotient(vector x, vector reciprocal, vector bias)
    {
        return vrndmq_f32(vfmaq_f32(bias, x, reciprocal));
    }
    /* q0 is q or q - 1 (floatdivision.h): a compare and two selects. */
    static void correcteddivide(vector x, vector reciprocal, vector divisor, vector& q, vector& r)
    {
        const vector q0 = vrndq_f32(vfmaq_f32(vdupq_n_f32(FLOATDIVISION_CORRECTIONBIAS), x, reciprocal));
        const vector r0 = vfmsq_f32(x, q0, divisor);
        const uint32x4_t shortbyone = vcgeq_f32(r0, divisor);
        q = vbslq_f32(shortbyone, vaddq_f32(q0, vdupq_n_f32(1.0f)), q0);
        r = vbslq_f32(shortbyone, vsubq_f32(r0, divisor), r0);
    }
    static vector min(vector a, vector b) { return vminq_f32(a, b); }
    static vector max(vector a, vector b) { return vmaxq_f32(a, b); }
    /* {*entering, v[0], v[1], v[2]}. */
    static vector rotateup(vector v, float entering) { return vextq_f32(vdupq_n_f32(entering), v, 3); }
    static void storetop(float* p, vector v) { vst1q_lane_f32(p, v, 3); }
};

}  // namespace

void runbatchneon(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers)
{
    runrotatedbatch<neonlanes, neonvectors>(batch, carriesin, carriesout, powers);
}

void divideneon(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    dividelanes<neonlanes>(x, reciprocals, quotients, count, bias);
}

void runbatchneonfloat(struct spigotbatch* batch, const double* carriesin, double* carriesout,
                  const struct fusedpowers* powers)
{
    runrotatedbatch<neonfloatlanes, neonvectors>(batch, carriesin, carriesout, powers);
}

void divideneonfloat(const struct floatdivisions* divisions, int corrected)
{
    dividefloatlanes<neonfloatlanes>(divisions, corrected);
}
