// POSIX implementation of the platform layer.
#include "Platform.h"

#include <mutex>
#include <new>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Veltrane.h"

static_assert(sizeof(off_t) == 8, "file offsets must be 64 bits wide");

namespace vt {
namespace platform {

namespace {
// The handle is the descriptor plus one, so that descriptor 0 is not null.
int ToFd(void* file) { return static_cast<int>(reinterpret_cast<std::intptr_t>(file)) - 1; }
void* FromFd(int fd) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1); }
}  // namespace

void* OpenFileExclusive(const char* path) {
    if (path == nullptr) return nullptr;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // An exclusive advisory lock stands in for a share mode of zero: any other
    // opener that goes through this layer (in this process or another) fails.
    // flock locks belong to the open file description, so a second open() in
    // the same process conflicts as well.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
#if defined(POSIX_FADV_SEQUENTIAL)
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return FromFd(fd);
}

bool ReadFileAt(void* file, long long offset, void* destination, std::size_t size, std::size_t* delivered) {
    *delivered = 0;
    if (file == nullptr || offset < 0) return false;
    if (size > static_cast<unsigned long long>(LLONG_MAX - offset)) return false;  // ends past any file
    int fd = ToFd(file);
    unsigned char* out = static_cast<unsigned char*>(destination);
    while (*delivered < size) {
        // pread leaves the file pointer alone, so concurrent reads of one
        // descriptor do not disturb each other.
        ssize_t n = ::pread(fd, out + *delivered, size - *delivered,
                            static_cast<off_t>(offset + static_cast<long long>(*delivered)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;  // end of the file (or past what it could hold): a short read
        *delivered += static_cast<std::size_t>(n);
    }
    return true;
}

long long FileLength(void* file) {
    struct stat status;
    if (file == nullptr || ::fstat(ToFd(file), &status) != 0) return -1;
    return static_cast<long long>(status.st_size);
}

long long SeekFile(void* file, long long distance, unsigned long moveMethod) {
    if (file == nullptr) return -1;
    int whence;
    switch (moveMethod) {
        case 0: whence = SEEK_SET; break;
        case 1: whence = SEEK_CUR; break;
        case 2: whence = SEEK_END; break;
        default: return -1;
    }
    off_t pos = ::lseek(ToFd(file), static_cast<off_t>(distance), whence);
    return pos < 0 ? -1 : static_cast<long long>(pos);
}

void CloseFile(void* file) {
    if (file != nullptr) ::close(ToFd(file));  // closing drops the lock
}

namespace {
std::recursive_mutex& MutexIn(LockStorage& lock) {
    return *std::launder(reinterpret_cast<std::recursive_mutex*>(lock.bytes));
}
}  // namespace

static_assert(sizeof(LockStorage::bytes) >= sizeof(std::recursive_mutex) &&
                  alignof(LockStorage) >= alignof(std::recursive_mutex),
              "the reader's lock storage holds a recursive mutex");

void CreateLock(LockStorage& lock) { new (lock.bytes) std::recursive_mutex; }
void EnterLock(LockStorage& lock) { MutexIn(lock).lock(); }
void LeaveLock(LockStorage& lock) { MutexIn(lock).unlock(); }
void DeleteLock(LockStorage& lock) {
    using Mutex = std::recursive_mutex;
    MutexIn(lock).~Mutex();
}

}  // namespace platform
}  // namespace vt
