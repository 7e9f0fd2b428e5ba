// The compatibility check against the codec itself, over random descriptions and one random
// change of each kind: what the check calls compatible exchanges the same bytes and values
// at every version OLD knows; what it calls a break shows a record the two sides treat apart.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "tests/compat/evolution.h"
#include "tests/support/random_desc.h"

namespace {

struct Checked {
    int breaks;
    std::vector<DrCompatFinding> findings;
};

Checked check(const drtest::Image &old_img, const drtest::Image &new_img) {
    Checked c{};
    c.breaks = dr_compat_check(old_img.lib(), new_img.lib(), [](const DrCompatFinding *f, void *ctx) {
        static_cast<Checked *>(ctx)->findings.push_back(*f);
    }, &c);
    return c;
}

std::string listing(const Checked &c) {
    std::string out;
    for (const DrCompatFinding &f : c.findings)
        out += std::string(f.path) + ": " + f.text + (f.is_break ? " (break)\n" : " (note)\n");
    return out;
}

// Every random description is compatible with itself without a single finding, and so is
// the image with every struct read as a union: then members share union ids at different
// host offsets, and each must still be paired with itself, not with the first of its id.
TEST(CompatProperty, EveryDescriptionIsCompatibleWithItself) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        const drtest::Lib lib = drtest::random_lib(seed);
        drtest::Image img = drtest::build(lib);
        for (const bool as_unions : {false, true}) {
            if (as_unions)
                for (const drtest::Meta &m : lib.metas) img.meta(m.name)->is_struct = 0;
            const Checked c = check(img, img);
            ASSERT_EQ(c.breaks, 0) << "seed " << seed << (as_unions ? ", as unions\n" : "\n") << listing(c);
            ASSERT_TRUE(c.findings.empty()) << "seed " << seed << (as_unions ? ", as unions\n" : "\n") << listing(c);
        }
    }
}

// How often the search for a record that tells the two sides apart succeeded, per change.
struct Tally {
    int breaks = 0, found = 0, unreached = 0, untold = 0;
};

TEST(CompatProperty, CompatibleMeansTheSameBytesAndValuesAndEveryBreakHasAWitness) {
    constexpr uint32_t kSeeds = 200;
    constexpr int kRecords = 6;
    std::map<drtest::Change, Tally> tally;
    int safe_records = 0;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        const drtest::Lib old = drtest::random_lib(seed);
        const drtest::Image old_img = drtest::build(old);
        const int32_t newest = drtest::newest_version(old);
        for (const drtest::Change change : drtest::kChanges) {
            const drtest::Evolution ev = drtest::evolve(old, old_img, change, seed * 7 + static_cast<uint32_t>(change));
            if (!ev.applied) continue;
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + drtest::change_name(change) + " in " + ev.meta + "." +
                         ev.member);
            drtest::Image new_img = drtest::build(ev.lib);
            const Checked c = check(old_img, new_img);
            ASSERT_GE(c.breaks, 0);
            const DrMeta *o = const_cast<drtest::Image &>(old_img).meta("Top");
            const DrMeta *n = new_img.meta("Top");
            if (drtest::is_safe(change)) {
                ASSERT_EQ(c.breaks, 0) << listing(c);
            } else {
                ASSERT_GT(c.breaks, 0) << "a change of this kind must break";
                bool named = false;
                for (const DrCompatFinding &f : c.findings)
                    named |= f.is_break && f.kind == drtest::expected_kind(change) &&
                             std::string(f.path).rfind(ev.meta + ".", 0) == 0;
                EXPECT_TRUE(named) << listing(c);
            }
            if (c.breaks == 0) {
                // Every version OLD knows, records made for OLD: NEW sends and reads them alike.
                for (int32_t v = 1; v <= newest; ++v)
                    for (int r = 0; r < kRecords; ++r) {
                        const std::vector<char> host = drtest::random_host(o, seed * 131 + static_cast<uint32_t>(r));
                        const std::string why = drtest::differ_on(o, n, host, v);
                        if (why == "skip") continue;
                        ++safe_records;
                        ASSERT_EQ(why, "") << "version " << v << ", record " << r;
                    }
                continue;
            }
            // The converse: records made for either side, at every version, until one tells them apart.
            Tally &t = tally[change];
            ++t.breaks;
            bool found = false, reached = false;
            for (int r = 0; r < 8 * kRecords && !found; ++r)
                for (int32_t v = 1; v <= newest && !found; ++v) {
                    const bool from_old = r % 2 == 0;
                    const DrMeta *from = from_old ? o : n;
                    const std::vector<char> host = drtest::random_host(from, seed * 977 + static_cast<uint32_t>(r));
                    std::string json;
                    const std::string why = drtest::differ_on(from, from_old ? n : o, host, v, &json);
                    found = why != "" && why != "skip";
                    reached |= ev.member.empty() || json.find("\"" + ev.member + "\"") != std::string::npos;
                }
            if (found)
                ++t.found;
            else if (!reached)
                ++t.unreached;
            else
                ++t.untold;
        }
    }
    EXPECT_GT(safe_records, 1000);
    std::printf("%-26s %7s %7s %9s %7s\n", "change", "breaks", "witness", "unreached", "untold");
    int all = 0, witnessed = 0;
    for (const auto &[change, t] : tally) {
        std::printf("%-26s %7d %7d %9d %7d\n", drtest::change_name(change), t.breaks, t.found, t.unreached, t.untold);
        all += t.breaks;
        witnessed += t.found;
    }
    // A break without a witness is one whose member no random record reached, or one the
    // records did not happen to show; most breaks must show.
    EXPECT_GT(witnessed * 10, all * 8) << witnessed << " of " << all;
}

}  // namespace
