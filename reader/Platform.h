// The few operating-system services the reader needs: a read-only file that
// nobody else may hold open while we have it, positioned reads, 64-bit seeks.
// One implementation per platform sits beside this header (PlatformPosix.cpp
// here); nothing else in the library touches the OS file API.
#ifndef VELTRANE_PLATFORM_H
#define VELTRANE_PLATFORM_H

#include <cstddef>

namespace vt {
namespace platform {

// Opens an existing file for reading, exclusively: while the handle is open a
// second open of the same file, from this process or another, fails. Hints
// sequential access. Returns null on failure.
void* OpenFileExclusive(const char* path);

// Reads up to `size` bytes from the current position. Returns false only when
// the read call itself fails; `*delivered` receives the bytes read (fewer than
// asked at the end of the file).
bool ReadFile(void* file, void* destination, std::size_t size, std::size_t* delivered);

// Moves the file pointer (0: from the start, 1: from the current position,
// 2: from the end). Returns the new position, or -1 when the move failed.
long long SeekFile(void* file, long long distance, unsigned long moveMethod);

void CloseFile(void* file);

}  // namespace platform
}  // namespace vt

#endif  // VELTRANE_PLATFORM_H
