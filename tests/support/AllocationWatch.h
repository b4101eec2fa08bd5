// The largest single allocation the program makes while a watch is alive,
// and, on request, allocations above a size that fail as if memory had run
// out. AllocationWatch.cpp replaces the global operator new of the test
// program that links it, so the library's allocations are seen as well.
#ifndef VELTRANE_TESTS_SUPPORT_ALLOCATIONWATCH_H
#define VELTRANE_TESTS_SUPPORT_ALLOCATIONWATCH_H

#include <cstddef>
#include <limits>

namespace vt {
namespace test {

class AllocationWatch {
public:
    // While the watch is alive, requests of more than `refuseAbove` bytes
    // fail: the nothrow forms return null, the others throw std::bad_alloc.
    explicit AllocationWatch(std::size_t refuseAbove = std::numeric_limits<std::size_t>::max());
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;
    // Bytes of the largest allocation asked for (from any thread) so far.
    std::size_t Largest() const;
};

}  // namespace test
}  // namespace vt

#endif  // VELTRANE_TESTS_SUPPORT_ALLOCATIONWATCH_H
