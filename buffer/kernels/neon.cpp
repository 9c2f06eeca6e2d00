/* The arm64 kernel: two passes per 128-bit NEON vector, which every arm64
   processor has, so it needs no check at run time. Sixteen vectors in
   flight cover a step's latency (about 15 cycles) on processors with up to
   four FMA pipes, and their x values with the constants fit the 32
   registers. */
#include <arm_neon.h>

#include "exactdivision.h"
#include "rotatedbatch.h"

namespace {

struct neonlanes {
    typedef float64x2_t vector;
    enum { width = 2 };
    static vector load(const double* p) { return vld1q_f64(p); }
    static void store(double* p, vector v) { vst1q_f64(p, v); }
    static vector widen(const int32_t* p) { return vcvtq_f64_s64(vmovl_s32(vld1_s32(p))); }
    static void narrow(int32_t* p, vector v) { vst1_s32(p, vmovn_s64(vcvtq_s64_f64(v))); }
    static vector broadcast(double value) { return vdupq_n_f64(value); }
    static vector add(vector a, vector b) { return vaddq_f64(a, b); }
    static vector mul(vector a, vector b) { return vmulq_f64(a, b); }
    static vector fmadd(vector a, vector b, vector c) { return vfmaq_f64(c, a, b); }
    static vector fnmadd(vector a, vector b, vector c) { return vfmsq_f64(c, a, b); }
    static vector divisionconstant(double bias) { return broadcast(bias); }
    static vector reciprocals(vector divisors) { return vdivq_f64(vdupq_n_f64(1.0), divisors); }
    /* A scalar division in each step: batched, the entering reciprocals
       cost the 32 registers more spills than the divisions they save. */
    static double reciprocal(double divisor) { return 1.0 / divisor; }
    static vector quotient(vector x, vector reciprocal, vector bias)
    {
        return vrndmq_f64(vfmaq_f64(bias, x, reciprocal));
    }
    static vector min(vector a, vector b) { return vminq_f64(a, b); }
    static vector max(vector a, vector b) { return vmaxq_f64(a, b); }
    /* {*entering, v[0]}: lane 1 of the broadcast, then lane 0 of v. */
    static vector rotateup(vector v, double entering) { return vextq_f64(vdupq_n_f64(entering), v, 1); }
    static double top(vector v) { return vgetq_lane_f64(v, 1); }
};

}  // namespace

void advanceneon(struct spigotbatch* batch, struct batchrun* run, int32_t lowest)
{
    advancerotatedbatch<neonlanes, neonvectors>(batch, run, lowest);
}

void divideneon(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    dividelanes<neonlanes>(x, reciprocals, quotients, count, bias);
}
