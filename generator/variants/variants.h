#pragma once

#include <cstdint>

// The generator's vector variants, each in a file of its own built for its
// instruction set (the x86 ones are chosen at run time, passbatch.cpp; NEON
// is on every arm64 processor). Each runs a whole batch of batchpasses
// passes over a region of cells in rotated lanes (rotatedpasses.h), pass p
// bringing carriesin[p] (null: nothing) into the region's top cell and its
// carry out of the bottom one going to carries[p], and has its division on
// its own, for tests: quotients[i] = floor(x[i] / d) given reciprocals[i]
// = 1 / d. The float ones serve the cells whose every value fits a float
// (floatdivide.h).
#include "passbatch.h"

namespace generator::variants {

// count cells from cell `lowest`, and their reciprocals, indexed from it.
template <typename scalar>
struct cellregion {
    scalar* cells;
    const scalar* reciprocals;
    std::int32_t count;
    std::int32_t lowest;
};

using doublebatch = void (*)(const cellregion<double>& region, const double* carriesin, double* carries,
                             const fusedpass& pass);
using floatbatch = void (*)(const cellregion<float>& region, const double* carriesin, double* carries,
                            const fusedpass& pass);

void runavx2(const cellregion<double>& region, const double* carriesin, double* carries, const fusedpass& pass);
void divideavx2(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

void runavx2float(const cellregion<float>& region, const double* carriesin, double* carries, const fusedpass& pass);
void divideavx2float(const floatdivisions& divisions, bool corrected);

void runavx512(const cellregion<double>& region, const double* carriesin, double* carries, const fusedpass& pass);
void divideavx512(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);

void runavx512float(const cellregion<float>& region, const double* carriesin, double* carries, const fusedpass& pass);
void divideavx512float(const floatdivisions& divisions, bool corrected);

void runneon(const cellregion<double>& region, const double* carriesin, double* carries, const fusedpass& pass);
void divideneon(const double* x, const double* reciprocals, double* quotients, std::int32_t count, double bias);
void runneonfloat(const cellregion<float>& region, const double* carriesin, double* carries, const fusedpass& pass);
void divideneonfloat(const floatdivisions& divisions, bool corrected);

}  // namespace generator::variants
