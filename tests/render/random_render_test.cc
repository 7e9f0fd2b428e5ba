// Randomized rendering: at every capacity the buffer holds the full rendering cut to the
// capacity minus one, and nothing is written outside the buffer or read outside the host
// (the helpers copy each host record to a buffer of exactly its length, under ASan).
#include <gtest/gtest.h>

#include "tests/render/render_support.h"
#include "tests/support/random_desc.h"

namespace {

using SprintFn = int (*)(const DrMeta *, DrBuffer *, DrBuffer *, int);

void check_every_capacity(SprintFn fn, const DrMeta *top, const std::vector<char> &host, int version) {
    const drtest::Sprinted full = drtest::sprint(fn, top, host, version, 1 << 16);
    const int32_t len = static_cast<int32_t>(full.text.size());
    ASSERT_EQ(full.out_len, len);
    // Every small capacity, then a stride, and always the last few around the full length.
    for (int32_t cap = 1; cap <= len + 2; cap += (cap < 64 || cap >= len - 2) ? 1 : 13) {
        const drtest::Sprinted cut = drtest::sprint(fn, top, host, version, cap);
        ASSERT_EQ(cut.text, full.text.substr(0, static_cast<size_t>(cap - 1))) << "capacity " << cap;
        ASSERT_LE(cut.out_len, cap - 1);
        ASSERT_EQ(cut.host_len, full.host_len);
        if (cap < len + 2) {
            ASSERT_EQ(cut.rc, -1) << "capacity " << cap;
        } else {
            ASSERT_EQ(cut.rc, full.rc);
        }
    }
}

TEST(RandomRender, EveryCapacityHoldsTheRenderingCutShort) {
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        for (int version : {0, 2}) {
            check_every_capacity(dr_sprint_data, top, host, version);
            check_every_capacity(dr_sprint_data_xml, top, host, version);
        }
    }
}

TEST(RandomRender, ShortHostRecordsAreNeverReadPastTheirEnd) {
    for (uint32_t seed = 100; seed <= 140; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const DrMeta *top = img.meta("Top");
        const std::vector<char> host = drtest::random_host(top, seed);
        for (size_t len = 0; len <= host.size(); len += 5) {
            const std::vector<char> shorter(host.begin(), host.begin() + static_cast<long>(len));
            const drtest::Printed text = drtest::print(dr_print_data, top, shorter, 0);
            const drtest::Printed xml = drtest::print(dr_print_data_xml, top, shorter, 0);
            // Both forms walk alike: they stop at the same member or both complete.
            EXPECT_EQ(text.rc, xml.rc);
            if (len == host.size()) {
                EXPECT_EQ(text.rc, 0);
            }
        }
    }
}

}  // namespace
