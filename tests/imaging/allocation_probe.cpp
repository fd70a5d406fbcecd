// Watches the size of every heap request of the test process, so that the tests can tell a file
// refused from its header apart from one whose claimed size was allocated before it failed.
// Linux: the executable's malloc, calloc and realloc take precedence over glibc's for every
// library in the process (gdk-pixbuf and glib included) and forward to glibc's own entry points.
#include "tests/imaging/test_support.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#if defined(__linux__) && defined(__GLIBC__)

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);

namespace {

// Refusing such requests turns a library fault into a test failure instead of a machine that
// swaps: nothing the tests decode legitimately comes near it.
constexpr size_t kRefusedAbove = size_t(1) << 30;

std::atomic<size_t> largestRequest{0};

bool NoteRequest(size_t size) {
    size_t seen = largestRequest.load(std::memory_order_relaxed);
    while (size > seen && !largestRequest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
    if (size > kRefusedAbove) {
        errno = ENOMEM;
        return false;
    }
    return true;
}

}  // namespace

extern "C" void* malloc(size_t size) { return NoteRequest(size) ? __libc_malloc(size) : nullptr; }

extern "C" void* calloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return __libc_calloc(count, size);  // glibc reports it
    return NoteRequest(count * size) ? __libc_calloc(count, size) : nullptr;
}

extern "C" void* realloc(void* block, size_t size) {
    return NoteRequest(size) ? __libc_realloc(block, size) : nullptr;
}

namespace testing_support {
bool AllocationProbeAvailable() { return true; }
void ResetLargestAllocation() { largestRequest.store(0); }
size_t LargestAllocation() { return largestRequest.load(); }
}  // namespace testing_support

#else

namespace testing_support {
bool AllocationProbeAvailable() { return false; }
void ResetLargestAllocation() {}
size_t LargestAllocation() { return 0; }
}  // namespace testing_support

#endif
