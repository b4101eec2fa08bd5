// Replacement of the global allocation functions that records the largest
// request while an AllocationWatch is alive, and refuses those above its
// limit. Kept in a file of its own so that the compiler never sees one of
// these operators inlined next to another's malloc or free.
#include "support/AllocationWatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> gWatching{false};
std::atomic<std::size_t> gLargest{0};
std::atomic<std::size_t> gRefuseAbove{std::numeric_limits<std::size_t>::max()};

void* Allocate(std::size_t bytes) {
    if (gWatching.load()) {
        std::size_t seen = gLargest.load();
        while (bytes > seen && !gLargest.compare_exchange_weak(seen, bytes)) {
        }
        if (bytes > gRefuseAbove.load()) return nullptr;
    }
    return std::malloc(bytes != 0 ? bytes : 1);
}

}  // namespace

namespace vt {
namespace test {

AllocationWatch::AllocationWatch(std::size_t refuseAbove) {
    gLargest = 0;
    gRefuseAbove = refuseAbove;
    gWatching = true;
}
AllocationWatch::~AllocationWatch() {
    gWatching = false;
    gRefuseAbove = std::numeric_limits<std::size_t>::max();
}
std::size_t AllocationWatch::Largest() const { return gLargest.load(); }

}  // namespace test
}  // namespace vt

void* operator new(std::size_t bytes) {
    if (void* p = Allocate(bytes)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) { return operator new(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
