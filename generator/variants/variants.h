#pragma once

#include <cstdint>

// The generator's vector variants, each in a file of its own built for its
// instruction set (the x86 ones are chosen at run time, passbatch.cpp; NEON
// is on every arm64 processor). Each runs a whole batch of its passes
// (sixteen vectors' lanes) over the cells in rotated lanes (rotatedpasses.h), the carry pass
// p hands out of cell 0 going to carries[p], and has its division on its
// own, for tests: quotients[i] = floor(x[i] / d) given reciprocals[i] =
// 1 / d.
#include "passbatch.h"

namespace generator::variants {

// count cells from cell 0, and their reciprocals (null for a variant that
// works them out), each padded by batchpadding on both sides
// (passbatch.h).
struct cells {
    double* values;
    const double* reciprocals;
    std::int32_t count;
};

using batch = void (*)(const cells& cells, double* carries, const fusedpass& pass);

// The passes each variant's batch runs: sixteen vectors of its lanes.
inline constexpr std::int32_t avx2passes = 16 * 4;
inline constexpr std::int32_t avx512passes = 16 * 8;
inline constexpr std::int32_t neonpasses = 16 * 2;

void runavx2(const cells& cells, double* carries, const fusedpass& pass);
void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

void runavx2rounddown(const cells& cells, double* carries, const fusedpass& pass);
void divideavx2rounddown(const double* x, const double* reciprocals, double* quotients, std::int32_t count,
                         double bias);

void runavx512(const cells& cells, double* carries, const fusedpass& pass);
void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

void runneon(const cells& cells, double* carries, const fusedpass& pass);
void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

}  // namespace generator::variants
