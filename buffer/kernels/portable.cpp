/* The kernel any compiler builds for any processor: plain loops over the
   lanes, which compilers vectorize with whatever the target has.

   Rather than moving cells between lanes, pass k works directly on the
   cell array: at each step the lanes address the cells one lower than
   before, so the cell a pass leaves is the one the next pass picks up. */
#include "kernels.h"

#include "exactdivision.h"

namespace {

/* One step: pass k works on cell bottom + k, whose multiplier is
   bottom + 1 + k. Below cell 0 (only when bottom <
   0) multiplier and divisor are 1, which passes a carry on unchanged. */
template <bool clamp>
inline void step(struct spigotbatch* batch, int32_t bottom, double* carry, const double* lane,
                 const struct fusedpowers* fused)
{
    const double* __restrict powers = fused->powers;
    const double bias = fused->bias;
    double* __restrict cells = batch->cells + bottom;
    const double* __restrict reciprocals = batch->reciprocals + bottom;
    const double base = bottom + 1;
    for (int32_t k = 0; k < portablepasses; ++k) {
        double multiplier = base + lane[k];
        if (clamp) {
            multiplier = bottom + lane[k] >= 0.0 ? multiplier : 1.0;
        }
        const double divisor = multiplier + multiplier - 1.0;
        const double x = powers[k] * cells[k] + carry[k] * multiplier;
        const double q = exactquotient(x, reciprocals[k], bias);
        cells[k] = x - q * divisor;
        carry[k] = q;
    }
}

}  // namespace

void runbatchportable(struct spigotbatch* batch, double* carriesout, const struct fusedpowers* powers)
{
    double carry[portablepasses];
    double lane[portablepasses];
    for (int32_t k = 0; k < portablepasses; ++k) {
        carry[k] = 0.0;
        lane[k] = k;
    }
    const int32_t top = batch->cellcount - 1;
    int32_t bottom = top;
    for (; bottom >= 0; --bottom) {
        step<false>(batch, bottom, carry, lane, powers);
    }
    for (; bottom > -portablepasses; --bottom) {
        step<true>(batch, bottom, carry, lane, powers);
    }
    for (int32_t k = 0; k < portablepasses; ++k) {
        carriesout[k] = carry[k];
    }
}

void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    for (int32_t i = 0; i < count; ++i) {
        quotients[i] = exactquotient(x[i], reciprocals[i], bias);
    }
}
