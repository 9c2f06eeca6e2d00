#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <utility>

#include "passbatch.h"

namespace generator {

// The digit text as a lazy generator: each nextdigit() call hands out one
// character, "0" first, then the digits of pi from the 3 on. A copy carries
// the whole state and advances independently of the original.
//
// Passes run a batch at a time, ahead of demand (passbatch.h), or a group
// of batches a block of cells at a time where the cells are more than a
// block; their raw digits wait here for the calls that release them.
// Passes beyond those the text needs change only cells that nothing reads
// again, and are fewer than a batch's: a group runs no more batches than
// the text still needs.
class spigot {
public:
    explicit spigot(std::int32_t ndigits);
    // The same with a given batch variant, which this processor must
    // support (passbatch.h's planwith), or a given plan for its cells.
    spigot(std::int32_t ndigits, const batchvariant& variant);
    spigot(std::int32_t ndigits, const batchplan& plan);

    char nextdigit();

    // Makes the cells now rather than at the first pass: at large counts
    // that takes a while, which a caller timing the passes leaves out.
    void makecells() { remainders.start(); }

    // The digits' worth of passes run so far (a pass fusing k counts k):
    // the work done, which costs the same for every pass.
    std::int64_t digitsrun() const { return std::int64_t{passesrun} * plan.fusedpasses; }

    // Tells `told` the digits' worth of the work done while a group of
    // batches runs, block by block (its batches end together), never more
    // than digitsrun() after it.
    void tellwork(std::function<void(std::int64_t)> told) { worktold = std::move(told); }

private:
    // The next pass's raw digit, 0 to 10.
    std::int32_t nextrawdigit();

    spigotbatch remainders;
    std::int32_t ndigits;
    std::int32_t nines = 0;
    std::int32_t predigit = 0;
    // The last raw digit taken, which still decides whether the held nines
    // come out as nines or, after a carry (10), as zeros.
    std::int32_t carry = 0;
    batchplan plan;
    // A group's raw digits, fusedpasses to a pass: its batches * the
    // variant's passes * plan.fusedpasses of them.
    std::array<std::int8_t, mostgroupbatches * batchpasses * fused::mostpasses> rawdigits{};
    std::int32_t rawmade = 0;
    std::int32_t rawtaken = 0;  // all taken: the next needs a group
    std::int32_t passesrun = 0;
    std::function<void(std::int64_t)> worktold;
};

}  // namespace generator
