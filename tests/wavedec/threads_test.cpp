// Runs with OPJ_NUM_THREADS=4 in the environment (see CMakeLists.txt): OpenJPEG
// would read it and start worker threads. Wavedec must start none and decode
// the same pixels as without it.
//
// Thread starts are counted by defining pthread_create in this executable:
// every library in the process, OpenJPEG included, binds to this definition,
// which counts and forwards to the real one.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>

#include "WavedecTestUtil.h"

namespace {

std::atomic<int> g_threadStarts{0};

using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
    static const CreateFn real = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    g_threadStarts.fetch_add(1);
    return real(thread, attr, start, arg);
}

namespace {

using namespace wavedec_test;
using vt::j2kenc::Options;

int TaskCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// A tile large enough for OpenJPEG to share its code blocks among workers.
Bytes TestStream(bool lossless) {
    Options o = lossless ? Options::Lossless() : Options::Ratio(10);
    o.codeBlockSize = 32;
    o.tileSize = 128;
    return Encode(Crop(LoadContent("board.jpg"), 100, 100, 256, 256), o);
}

TEST(WavedecThreads, EnvironmentIsSetAndWouldStartThreads) {
    const char* value = std::getenv("OPJ_NUM_THREADS");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "4");
    // The control: the encoder, on the system's OpenJPEG, does start workers
    // under this environment, and the counter sees them.
    g_threadStarts = 0;
    EXPECT_FALSE(TestStream(false).empty());
    EXPECT_GT(g_threadStarts.load(), 0);
}

TEST(WavedecThreads, DecodingStartsNoThread) {
    const Bytes lossy = TestStream(false);
    const Bytes lossless = TestStream(true);
    const int tasks = TaskCount();
    g_threadStarts = 0;
    for (int mode = 0; mode <= 2; ++mode) {
        Bytes out;
        ASSERT_TRUE(DecodeExact(lossy, mode, out));
        ASSERT_TRUE(DecodeExact(lossless, mode, out));
    }
    EXPECT_EQ(g_threadStarts.load(), 0);
    EXPECT_EQ(TaskCount(), tasks);
}

TEST(WavedecThreads, PixelsAreExactUnderTheEnvironment) {
    const Image tile = Crop(LoadContent("board.jpg"), 100, 100, 256, 256);
    const Bytes lossless = TestStream(true);
    for (int mode = 0; mode <= 2; ++mode) {
        Bytes out;
        ASSERT_TRUE(DecodeExact(lossless, mode, out));
        EXPECT_EQ(out, Expected(tile, mode)) << "mode " << mode;
    }
}

}  // namespace
