// recvData runs once per wand record for the life of the device: it must not
// touch the heap. This program counts every allocation made while armed.
#include "WandHost.h"
#include "storage/ByteOrder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

namespace {

std::atomic<bool> armed{false};
std::atomic<long> allocations{0};

void* countedAllocation(std::size_t size) {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size != 0 ? size : 1);
}

}  // namespace

// GCC takes free() in a replaced operator delete for a mismatch; it is the pair of countedAllocation.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    void* p = countedAllocation(size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

// The C library's allocator too, where no sanitizer owns it already.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && defined(__GLIBC__)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);

void* malloc(std::size_t size) {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    if (armed.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}
}
#endif

namespace {

// Counts the allocations of the calls made by `calls`.
template <class Calls>
long allocationsDuring(Calls calls) {
    allocations = 0;
    armed = true;
    calls();
    armed = false;
    return allocations.load();
}

void* volatile sink = nullptr;

TEST(WandAllocation, TheCountingHookSeesAllocations) {
    // Kept in a volatile so the compiler cannot leave the allocation out.
    const long seen = allocationsDuring([] { sink = ::operator new(16); });
    ::operator delete(sink);
    EXPECT_GE(seen, 1);
}

TEST(WandAllocation, ReceivingDecodingAndPublishingAllocateNothing) {
    WandHost host;
    host.storages.traCount = 1;
    host.withPortAnd({"valrate 0.05", "emulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0"});
    ASSERT_EQ(host.start(), 1) << host.output();
    // Warm up once: the first call may let the C library set up its clock.
    host.send(keyRecord({0x01, 0x10}));
    ASSERT_EQ(host.recv(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    // Key records (changing and unchanged), a trimmed and a long one, a
    // text record and a silent line, published into both storages.
    std::vector<std::uint8_t> bytes;
    auto add = [&bytes](const std::vector<std::uint8_t>& record) { bytes.insert(bytes.end(), record.begin(), record.end()); };
    add(keyRecord({0x06, 0x00}));
    add(keyRecord({0x06, 0x00}));
    add(keyRecord({0x09, 0x00, 0x13, 0x00}));
    add(keyRecord({0x01, 0x10, 0x55, 0x66}, 0x81));
    add(keyRecord(std::vector<std::uint8_t>(1500, 0x03)));
    add(keyRecord({'O', 'K'}, 0x82));
    host.send(bytes);
    int results = 0;
    const long seen = allocationsDuring([&] {
        for (int call = 0; call < 7; ++call) results += host.recv();
    });
    EXPECT_EQ(results, 7);
    EXPECT_EQ(seen, 0);
    // The calls did their work: the long record's buttons and the moved tracker.
    EXPECT_TRUE(host.button(1, 3));
    EXPECT_GT(netToHostSigned(host.traEntry(2).x), 0);
}

}  // namespace
