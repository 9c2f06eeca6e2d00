#include "spigot.h"

#include <algorithm>

namespace generator {

namespace {

// (10 * N) / 3 cells are enough for N digits; the caller keeps N small enough
// that 10 * N fits in 32 bits.
std::int32_t cellcount(std::int32_t ndigits) { return ndigits * 10 / 3; }

}  // namespace

spigot::spigot(std::int32_t ndigits) : spigot(ndigits, fastestbatchplan(cellcount(ndigits))) {}

spigot::spigot(std::int32_t ndigits, const batchvariant& variant)
    : spigot(ndigits, planwith(variant, cellcount(ndigits)))
{
}

spigot::spigot(std::int32_t ndigits, const batchplan& plan)
    : remainders(cellcount(ndigits), plan.variant->tabled), ndigits(ndigits), plan(plan)
{
}

std::int32_t spigot::nextrawdigit()
{
    if (rawtaken == rawmade) {
        remainders.start();
        std::function<void(double)> afterblock;
        if (worktold) {
            afterblock = [this](double passes) {
                worktold(static_cast<std::int64_t>((passesrun + passes) * plan.fusedpasses));
            };
        }
        // No more batches than the N + 1 characters' raw digits need, or
        // one where they are run (held nines, or polling past the end).
        const std::int64_t perbatch = std::int64_t{plan.variant->passes} * plan.fusedpasses;
        const std::int64_t wanted = (ndigits + 1 - digitsrun() + perbatch - 1) / perbatch;
        batchplan group = plan;
        group.groupbatches = static_cast<std::int32_t>(std::clamp<std::int64_t>(wanted, 1, plan.groupbatches));
        const std::int32_t batches = runbatches(group, remainders, rawdigits.data(), afterblock);
        passesrun += batches * plan.variant->passes;
        rawmade = batches * plan.variant->passes * plan.fusedpasses;
        rawtaken = 0;
    }
    return rawdigits[rawtaken++];
}

char spigot::nextdigit()
{
    if (ndigits == 0) {
        return static_cast<char>('0' + predigit);
    }
    if (nines > 0) {
        --nines;
        return carry == 10 ? '0' : '9';
    }
    carry = nextrawdigit();
    while (carry == 9) {
        ++nines;
        carry = nextrawdigit();
    }
    // The predigit is never 9 or 10, so both results are digit characters.
    const std::int32_t released = predigit;
    if (carry == 10) {
        predigit = 0;
        return static_cast<char>('1' + released);
    }
    predigit = carry;
    return static_cast<char>('0' + released);
}

}  // namespace generator
