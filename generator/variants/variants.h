#pragma once

#include <cstdint>

// The generator's vector variants, each in a file of its own built for its
// instruction set (the x86 ones are chosen at run time, passbatch.cpp; NEON
// is on every arm64 processor). Each advances a batch of its passes
// (sixteen vectors' lanes) down the cells in rotated lanes
// (rotatedpasses.h), as far as it reads no cell below `lowest`, the carry
// pass p hands out of cell 0 going to run.carries[p] at the batch's end,
// and has its division on its
// own, for tests: quotients[i] = floor(x[i] / d) given reciprocals[i] =
// 1 / d.
#include "passbatch.h"

namespace generator::variants {

// count cells from cell 0, and their reciprocals (null for a variant that
// works them out), each padded by batchpadding on both sides
// (passbatch.h).
struct cells {
    std::int32_t* values;
    const double* reciprocals;
    std::int32_t count;
};

using batch = void (*)(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass);

// The passes each variant's batch runs: sixteen vectors of its lanes.
inline constexpr std::int32_t avx2passes = 16 * 4;
inline constexpr std::int32_t avx512passes = 16 * 8;
inline constexpr std::int32_t neonpasses = 16 * 2;

void advanceavx2(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass);
void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

void advanceavx2rounddown(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass);
void divideavx2rounddown(const double* x, const double* reciprocals, double* quotients, std::int32_t count,
                         double bias);

void advanceavx512(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass);
void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

void advanceneon(const cells& cells, batchrun& run, std::int32_t lowest, const fusedpass& pass);
void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

}  // namespace generator::variants
