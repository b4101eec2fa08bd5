// The largest single allocation the program makes while a watch is alive.
// AllocationWatch.cpp replaces the global operator new of the test program
// that links it, so the library's allocations are seen as well.
#ifndef VELTRANE_TESTS_READER_ALLOCATIONWATCH_H
#define VELTRANE_TESTS_READER_ALLOCATIONWATCH_H

#include <cstddef>

namespace vt {
namespace test {

class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;
    // Bytes of the largest allocation asked for (from any thread) so far.
    std::size_t Largest() const;
};

}  // namespace test
}  // namespace vt

#endif  // VELTRANE_TESTS_READER_ALLOCATIONWATCH_H
