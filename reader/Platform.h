// The few operating-system services the reader needs: a read-only file that
// nobody else may hold open while we have it, reads at explicit offsets, the
// file's length, a 64-bit seek, and a lock its owner may enter again. One
// implementation per platform sits beside this header (PlatformPosix.cpp,
// PlatformWin32.cpp), chosen by the build; nothing else in the library touches
// the operating system's file or lock API.
//
// Reads name their offset, so no read depends on where an earlier one left a
// file pointer, and any number of threads may read one handle at once. A
// Windows implementation reads with ReadFile and an OVERLAPPED structure that
// carries the offset; there the file pointer moves as a side effect, so no
// caller may rely on where a positional read leaves it.
#ifndef VELTRANE_PLATFORM_H
#define VELTRANE_PLATFORM_H

#include <cstddef>

namespace vt {
struct LockStorage;  // Veltrane.h

namespace platform {

// Opens an existing file for reading, exclusively: while the handle is open a
// second open of the same file, from this process or another, fails. Hints
// sequential access. Returns null on failure.
void* OpenFileExclusive(const char* path);

// Reads up to `size` bytes starting at byte `offset` of the file. Returns
// false when the read call itself fails, for a negative offset and for a range
// ending beyond the largest 64-bit offset. An offset past what the file system
// can hold fails or delivers nothing; it never reads from elsewhere.
// `*delivered` receives the bytes read: fewer than asked when the file ends
// first. Safe to call from any number of threads on one handle.
bool ReadFileAt(void* file, long long offset, void* destination, std::size_t size, std::size_t* delivered);

// The file's length in bytes, or -1 when it cannot be learnt.
long long FileLength(void* file);

// Moves the file pointer (0: from the start, 1: from the current position,
// 2: from the end). Returns the new position, or -1 when the move failed.
// No read of this layer uses the file pointer.
long long SeekFile(void* file, long long distance, unsigned long moveMethod);

void CloseFile(void* file);

// The reader object's lock, built in storage the object holds: a critical
// section on Windows, a recursive mutex elsewhere. The thread that holds it
// may enter it again and must leave it as often. Created once when the
// object is constructed, deleted once when it is destroyed (while nobody
// holds it).
void CreateLock(LockStorage& lock);
void EnterLock(LockStorage& lock);
void LeaveLock(LockStorage& lock);
void DeleteLock(LockStorage& lock);

}  // namespace platform
}  // namespace vt

#endif  // VELTRANE_PLATFORM_H
