// Win32 implementation of the platform layer.
//
// The file is opened with share mode 0: while this handle is open, Windows
// refuses every other open of the file, from this process or another, with a
// sharing violation. Reads carry their offset in an OVERLAPPED structure on a
// handle opened for synchronous I/O, so no read depends on where another left
// the file pointer (each read still moves it as a side effect, which nothing
// here relies on).
#include "Platform.h"

#include <climits>
#include <cstdint>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "Veltrane.h"

namespace vt {
namespace platform {

static_assert(sizeof(LockStorage::bytes) >= sizeof(CRITICAL_SECTION) &&
                  alignof(LockStorage) >= alignof(CRITICAL_SECTION),
              "the reader's lock storage holds a critical section");

namespace {
HANDLE ToHandle(void* file) { return static_cast<HANDLE>(file); }

// One ReadFile call moves at most a DWORD's worth of bytes.
constexpr std::size_t kLargestRead = 0x40000000;
}  // namespace

void* OpenFileExclusive(const char* path) {
    if (path == nullptr) return nullptr;
    HANDLE file = ::CreateFileA(path, GENERIC_READ, 0 /* no sharing */, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

bool ReadFileAt(void* file, long long offset, void* destination, std::size_t size, std::size_t* delivered) {
    *delivered = 0;
    if (file == nullptr || offset < 0) return false;
    if (size > static_cast<unsigned long long>(LLONG_MAX - offset)) return false;  // ends past any file
    unsigned char* out = static_cast<unsigned char*>(destination);
    while (*delivered < size) {
        const unsigned long long at = static_cast<unsigned long long>(offset) + *delivered;
        OVERLAPPED position = {};
        position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        const std::size_t left = size - *delivered;
        const DWORD ask = static_cast<DWORD>(left < kLargestRead ? left : kLargestRead);
        DWORD got = 0;
        if (!::ReadFile(ToHandle(file), out + *delivered, ask, &got, &position)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;  // offset at or past the end
            return false;
        }
        if (got == 0) break;  // end of the file: a short read
        *delivered += got;
    }
    return true;
}

long long FileLength(void* file) {
    LARGE_INTEGER length;
    if (file == nullptr || !::GetFileSizeEx(ToHandle(file), &length)) return -1;
    return static_cast<long long>(length.QuadPart);
}

long long SeekFile(void* file, long long distance, unsigned long moveMethod) {
    if (file == nullptr || moveMethod > 2) return -1;
    // FILE_BEGIN, FILE_CURRENT and FILE_END are 0, 1 and 2.
    LARGE_INTEGER move, position;
    move.QuadPart = distance;
    if (!::SetFilePointerEx(ToHandle(file), move, &position, static_cast<DWORD>(moveMethod))) return -1;
    return static_cast<long long>(position.QuadPart);
}

void CloseFile(void* file) {
    if (file != nullptr) ::CloseHandle(ToHandle(file));
}

namespace {
CRITICAL_SECTION* SectionIn(LockStorage& lock) { return reinterpret_cast<CRITICAL_SECTION*>(lock.bytes); }
}  // namespace

void CreateLock(LockStorage& lock) { ::InitializeCriticalSection(SectionIn(lock)); }
void EnterLock(LockStorage& lock) { ::EnterCriticalSection(SectionIn(lock)); }
void LeaveLock(LockStorage& lock) { ::LeaveCriticalSection(SectionIn(lock)); }
void DeleteLock(LockStorage& lock) { ::DeleteCriticalSection(SectionIn(lock)); }

}  // namespace platform
}  // namespace vt
