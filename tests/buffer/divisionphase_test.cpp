// Which division each chunk of a float batch makes: the batch template run
// over lanes that watch every division (divisionprobe.h). The bias form is
// wrong for a few dividends just past its last cell, too few for any text
// or batch comparison to meet, so the choice itself is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "divisionprobe.h"
#include "floatdivision.h"
#include "kernels/rotatedbatch.h"
#include "spigotbatch.h"

namespace {

typedef float probedvector __attribute__((vector_size(16)));

// Four float lanes in plain C++, each division reported to the probe.
struct probedlanes {
    typedef probedvector vector;
    typedef float scalar;
    enum { width = 4 };
    static vector load(const float* p)
    {
        vector v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(float* p, vector v) { std::memcpy(p, &v, sizeof v); }
    static vector broadcast(float value) { return vector{} + value; }
    static vector add(vector a, vector b) { return a + b; }
    static vector mul(vector a, vector b) { return a * b; }
    static vector min(vector a, vector b)
    {
        for (int l = 0; l < width; ++l) {
            a[l] = std::fmin(a[l], b[l]);
        }
        return a;
    }
    static vector max(vector a, vector b)
    {
        for (int l = 0; l < width; ++l) {
            a[l] = std::fmax(a[l], b[l]);
        }
        return a;
    }
    static vector fmadd(vector a, vector b, vector c)
    {
        vector sum{};
        for (int l = 0; l < width; ++l) {
            sum[l] = std::fma(a[l], b[l], c[l]);
        }
        return sum;
    }
    static vector fnmadd(vector a, vector b, vector c)
    {
        vector sum{};
        for (int l = 0; l < width; ++l) {
            sum[l] = std::fma(-a[l], b[l], c[l]);
        }
        return sum;
    }
    static vector quotient(vector x, vector reciprocal, vector)
    {
        float xs[width], reciprocals[width];
        store(xs, x);
        store(reciprocals, reciprocal);
        testsupport::activeprobe->biased(xs, reciprocals, width);
        for (int l = 0; l < width; ++l) {
            x[l] = floatquotientbiased(x[l], reciprocal[l]);
        }
        return x;
    }
    static void correcteddivide(vector x, vector reciprocal, vector divisor, vector& q, vector& r)
    {
        float divisors[width];
        store(divisors, divisor);
        testsupport::activeprobe->corrected(divisors, width);
        for (int l = 0; l < width; ++l) {
            q[l] = floatquotientcorrected(x[l], reciprocal[l], divisor[l]);
            r[l] = std::fma(-q[l], divisor[l], x[l]);
        }
    }
    static vector rotateup(vector v, float entering) { return vector{entering, v[0], v[1], v[2]}; }
    static void storetop(float* p, vector v) { *p = v[width - 1]; }
};

constexpr int probedvectors = 4;
constexpr int probedpasses = probedvectors * probedlanes::width;

}  // namespace

TEST(floatbatch, CorrectsTheDivisionInEveryChunkWithAPassPastTheBiasFormsLastCell)
{
    testsupport::expectchunksdividebytherule(
        FLOATDIVISION_LASTBIASCELL, probedvectors, probedpasses, [](std::vector<float>& cells, double* carries) {
            spigotbatch batch;
            const auto cellcount = static_cast<std::int32_t>(cells.size());
            ASSERT_TRUE(openbatch(&batch, cellcount, cellcount, 0));
            std::copy(cells.begin(), cells.end(), batch.floatcells);
            const std::vector<double> powers(probedpasses, 10.0);
            const fusedpowers byten = {powers.data(), 0.0};
            runrotatedbatch<probedlanes, probedvectors>(&batch, nullptr, carries, &byten);
            std::copy(batch.floatcells, batch.floatcells + cells.size(), cells.begin());
            closebatch(&batch);
        });
}
