// Platform shims: whole-millisecond sleeps, a stable page size and protection changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include <sys/mman.h>

#include "dr/dr.h"

namespace {

double ms_taken_by_usleep(int usec) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dr_usleep(usec), 0);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Each duration is measured a few times: scheduling delays on a busy machine only lengthen
// a measurement, so the shortest one shows what the call itself does.
double shortest_usleep_ms(int usec, int runs) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) best = std::min(best, ms_taken_by_usleep(usec));
    return best;
}

TEST(Platform, UsleepSleepsWholeMilliseconds) {
    for (int i = 0; i < 3; ++i) {
        const double slept = ms_taken_by_usleep(2500);
        EXPECT_GE(slept, 2.0);
        EXPECT_LT(slept, 500.0);
    }
    // Under a millisecond, and negative durations other than -1, sleep 0 milliseconds.
    for (int usec : {999, 0, -5000}) EXPECT_LT(shortest_usleep_ms(usec, 20), 0.9) << usec;
}

TEST(Platform, PageSizeIsStableAndAPowerOfTwo) {
    const int page = dr_getpagesize();
    ASSERT_GT(page, 0);
    EXPECT_EQ(page & (page - 1), 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(dr_getpagesize(), page);
}

TEST(Platform, ProtectionOnOwnedAndUnmappedPages) {
    const size_t page = static_cast<size_t>(dr_getpagesize());
    void *mem = ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    static_cast<volatile char *>(mem)[0] = 7;
    EXPECT_EQ(dr_mprotect(mem, page, PROT_READ), 0);
    EXPECT_EQ(static_cast<volatile char *>(mem)[0], 7);
    EXPECT_EQ(dr_mprotect(mem, page, PROT_READ | PROT_WRITE), 0);
    static_cast<volatile char *>(mem)[0] = 8;
    ASSERT_EQ(::munmap(mem, page), 0);
    EXPECT_EQ(dr_mprotect(mem, page, PROT_READ), -1);  // no longer owned
}

}  // namespace
