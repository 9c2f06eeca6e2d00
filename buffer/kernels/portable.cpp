/* The kernel any compiler builds for any processor: plain loops over the
   lanes, which compilers vectorize with whatever the target has.

   Rather than moving cells between lanes, pass k works directly on a
   window of cells widened to doubles: at each step the lanes address the
   cells one lower than before, so the cell a pass leaves is the one the
   next pass picks up. A window is a chunk of steps and the cells they
   touch, widened before and narrowed after: every cell a pass leaves
   behind is a remainder, so the cells still in flight at a chunk's end
   keep in 32 bits as well. */
#include "kernels.h"

#include "exactdivision.h"

namespace {

/* Steps per window: the conversions of the P - 1 cells two windows share
   are an eighth of the window's. */
constexpr int32_t windowsteps = 256;

/* One step: pass k works on cell bottom + k, at cells[k], whose
   multiplier is bottom + 1 + k. Below cell 0 (only when bottom < 0)
   multiplier and divisor are 1, which passes a carry on unchanged. */
template <bool clamp>
inline void step(double* __restrict cells, const double* __restrict reciprocals, int32_t bottom, double* carry,
                 const double* lane, const struct batchrun* run)
{
    const double* __restrict powers = run->powers;
    const double bias = run->bias;
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

void advanceportable(struct spigotbatch* batch, struct batchrun* run, int32_t lowest)
{
    /* The carries in flight. */
    double* carry = run->inflight;
    if (!run->started) {
        run->bottom = batch->cellcount - 1;
        if (run->bottom < lowest) {
            return;
        }
        for (int32_t k = 0; k < portablepasses; ++k) {
            carry[k] = 0.0;
        }
        run->stepsleft = batch->cellcount + portablepasses - 1;
        run->started = 1;
    }
    double lane[portablepasses];
    for (int32_t k = 0; k < portablepasses; ++k) {
        lane[k] = k;
    }
    double window[windowsteps + portablepasses - 1];
    /* The step at bottom reads and writes cells bottom to bottom + P - 1. */
    while (run->stepsleft > 0 && run->bottom >= lowest) {
        const int64_t allowed = (int64_t)run->bottom - lowest + 1;
        int32_t steps = run->stepsleft < windowsteps ? run->stepsleft : windowsteps;
        steps = allowed < steps ? (int32_t)allowed : steps;
        const int32_t low = run->bottom - steps + 1;
        int32_t* const cells = batch->cells + low;
        for (int32_t m = 0; m < steps + portablepasses - 1; ++m) {
            window[m] = cells[m];
        }
        for (int32_t m = steps - 1; m >= 0; --m) {
            const int32_t bottom = low + m;
            if (bottom >= 0) {
                step<false>(window + m, batch->reciprocals + bottom, bottom, carry, lane, run);
            } else {
                step<true>(window + m, batch->reciprocals + bottom, bottom, carry, lane, run);
            }
        }
        for (int32_t m = 0; m < steps + portablepasses - 1; ++m) {
            cells[m] = (int32_t)window[m];
        }
        run->bottom -= steps;
        run->stepsleft -= steps;
    }
    if (run->stepsleft == 0) {
        for (int32_t k = 0; k < portablepasses; ++k) {
            run->carries[k] = carry[k];
        }
        run->done = 1;
    }
}

void divideportable(const double* x, const double* reciprocals, double* quotients, int32_t count, double bias)
{
    for (int32_t i = 0; i < count; ++i) {
        quotients[i] = exactquotient(x[i], reciprocals[i], bias);
    }
}
