#include "allocationmeter.h"

#include <malloc.h>  // malloc_usable_size

#include <atomic>
#include <cstdlib>
#include <new>

namespace allocationmeter {

long failing = -1;
long counted = 0;

namespace {

std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};

void* allocate(std::size_t size, std::size_t alignment = 0)
{
    if (failing >= 0 && counted++ == failing) {
        throw std::bad_alloc();
    }
    void* block = nullptr;
    if (alignment == 0) {
        block = std::malloc(size == 0 ? 1 : size);
    } else if (posix_memalign(&block, alignment, size == 0 ? 1 : size) != 0) {
        block = nullptr;
    }
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    const std::size_t now = live += malloc_usable_size(block);
    for (std::size_t most = peak; now > most && !peak.compare_exchange_weak(most, now);) {
    }
    return block;
}

void release(void* block) noexcept
{
    if (block != nullptr) {
        live -= malloc_usable_size(block);
        std::free(block);
    }
}

}  // namespace

std::size_t livebytes() { return live; }
std::size_t peakbytes() { return peak; }
void resetpeak() { peak = live.load(); }

}  // namespace allocationmeter

void* operator new(std::size_t size) { return allocationmeter::allocate(size); }
void* operator new[](std::size_t size) { return allocationmeter::allocate(size); }
void operator delete(void* block) noexcept { allocationmeter::release(block); }
void operator delete[](void* block) noexcept { allocationmeter::release(block); }
void operator delete(void* block, std::size_t) noexcept { allocationmeter::release(block); }
void operator delete[](void* block, std::size_t) noexcept { allocationmeter::release(block); }
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return allocationmeter::allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* block, std::align_val_t) noexcept { allocationmeter::release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { allocationmeter::release(block); }
