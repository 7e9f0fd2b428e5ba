// The plans against the walk: for random descriptions (clean and damaged), random, noisy and
// damaged records, every version and many capacities, the sample and the benchmark records,
// encoding, sizing and decoding by plan give exactly what the walk alone gives: result,
// lengths, every byte of both buffers and the DrError.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/plan_oracle.h"
#include "tests/support/random_desc.h"

#ifdef DR_HAVE_COMPILE
#include "dr/dr_compile.h"
#endif

namespace {

using drtest::PlanTally;

// The network form by the walk alone, written as far as it goes.
std::vector<char> encoded(const DrMeta *meta, const std::vector<char> &host, int version) {
    std::vector<char> in(host), out(1 << 16);
    DrBuffer n{out.data(), static_cast<int32_t>(out.size())}, h{in.data(), static_cast<int32_t>(in.size())};
    (void)dr_host_to_net(meta, &n, &h, version);
    out.resize(static_cast<size_t>(n.len));
    return out;
}

// Every comparison for one record: each version, network capacities around and below the
// encoding's length, sizing, and decodes of the encoding whole, cut and damaged into host
// buffers of several sizes and fills.
void compare_record(const DrMeta *meta, const std::vector<char> &host, uint32_t seed, PlanTally *t) {
    std::mt19937 rng(seed);
    const auto below = [&](size_t n) { return static_cast<int32_t>(n == 0 ? 0 : rng() % n); };
    for (int version : {0, 1, 2, 3, 4, meta->version - 1}) {
        SCOPED_TRACE("version " + std::to_string(version));
        const std::vector<char> net = encoded(meta, host, version);
        const auto len = static_cast<int32_t>(net.size());
        for (int32_t cap : {0, 1, len - 1, len, len + 9, below(net.size()), below(net.size()), 1 << 16})
            ASSERT_EQ(drtest::compare_encode(meta, host, version, cap, false, t), "") << "capacity " << cap;
        ASSERT_EQ(drtest::compare_encode(meta, host, version, 0, true, t), "");
        std::vector<std::vector<char>> inputs = {net};
        for (int k = 0; k < 3; ++k) inputs.emplace_back(net.begin(), net.begin() + below(net.size()));
        for (int k = 0; k < 3 && !net.empty(); ++k) {
            std::vector<char> bent = net;
            for (int flips = 1 + k; flips > 0; --flips) bent[rng() % bent.size()] = static_cast<char>(rng());
            inputs.push_back(bent);
        }
        const auto size = static_cast<int32_t>(host.size());
        for (const std::vector<char> &in : inputs)
            for (int32_t cap : {size, size + 5, below(host.size())})
                for (bool explain : {true, false})
                    ASSERT_EQ(drtest::compare_decode(meta, in, version, cap, explain ? '\0' : '\x7F', explain, t), "")
                        << "input of " << in.size() << " bytes, host capacity " << cap;
    }
}

// The record's variants: as made, with a few bytes changed, and every byte random.
void compare_variants(const DrMeta *meta, const std::vector<char> &host, uint32_t seed, PlanTally *t) {
    std::mt19937 rng(seed * 7919u);
    std::vector<char> noisy = host, random = host;
    for (size_t k = 0; k < 1 + host.size() / 32 && !host.empty(); ++k) noisy[rng() % host.size()] = static_cast<char>(rng());
    for (char &c : random) c = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
    compare_record(meta, host, seed, t);
    compare_record(meta, noisy, seed + 1, t);
    compare_record(meta, random, seed + 2, t);
}

void report(const char *what, const PlanTally &t) {
    std::printf("[ plan     ] %s: %lld comparisons, %lld taken by plan (%lld bounded), %lld failures\n", what,
                static_cast<long long>(t.calls), static_cast<long long>(t.by_plan), static_cast<long long>(t.bounded),
                static_cast<long long>(t.failures));
}

TEST(PlanDifferential, RandomDescriptionsAndRecords) {
    PlanTally t;
    for (uint32_t seed = 1; seed <= 120; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        drtest::LoadedLib lib = drtest::load_image_bytes(img.bytes(), img.size());
        ASSERT_TRUE(lib);
        const DrMeta *top = nullptr;
        ASSERT_EQ(dr_meta_by_name(lib.get(), "Top", &top), 0);
        compare_variants(top, drtest::random_host(top, seed), seed, &t);
    }
    report("random descriptions", t);
    // A plan takes only records that succeed; it must take nearly all of them, and the
    // failures must be many, or the fallback is not tested.
    EXPECT_GT(t.by_plan * 10, (t.calls - t.failures) * 9);
    EXPECT_GT(t.failures * 4, t.calls);
    // Both ways of running a plan are taken: bounded (roomy buffers) and tested step by step.
    EXPECT_GT(t.bounded * 2, t.by_plan);
    EXPECT_GT((t.by_plan - t.bounded) * 20, t.by_plan);
}

TEST(PlanDifferential, DamagedDescriptions) {
    PlanTally t;
    int loaded = 0;
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        drtest::Image img = drtest::build(drtest::random_lib(seed));
        const std::vector<char> host = drtest::random_host(img.meta("Top"), seed);
        drtest::damage_image(img, seed, 1 + static_cast<int>(seed % 3));
        drtest::LoadedLib lib = drtest::load_image_bytes(img.bytes(), img.size());
        const DrMeta *top = nullptr;
        if (!lib || dr_meta_by_name(lib.get(), "Top", &top) != 0) continue;
        ++loaded;
        std::vector<char> sized = host;
        sized.resize(static_cast<size_t>(std::max(top->datasize, 0)), '\x01');
        compare_record(top, sized, seed, &t);
    }
    report("damaged descriptions", t);
    EXPECT_GT(loaded, 100);
    EXPECT_GT(t.by_plan * 10, (t.calls - t.failures) * 9);
}

TEST(PlanDifferential, TheSampleAndTheBenchmarkRecords) {
    PlanTally t;
    const std::vector<uint8_t> image = drtest::read_file(EXAMPLES_DIR "/proto.tlb");
    drtest::LoadedLib lib = drtest::load_image_bytes(image.data(), image.size());
    ASSERT_TRUE(lib);
    const DrMeta *message = nullptr;
    ASSERT_EQ(dr_meta_by_name(lib.get(), "Message", &message), 0);
    uint32_t seed = 1;
    for (const char *name : {"login", "chat", "roster", "ping"}) {
        const std::vector<uint8_t> bytes = drtest::read_file(std::string(EXAMPLES_DIR "/") + name + ".host");
        compare_variants(message, std::vector<char>(bytes.begin(), bytes.end()), seed += 3, &t);
    }
#ifdef DR_HAVE_COMPILE
    DrLib *compiled = nullptr;
    DrCompileError err;
    ASSERT_EQ(dr_compile_file(&compiled, BENCH_DIR "/records.xml", &err), 0) << err.message;
    drtest::LoadedLib bench =
        drtest::load_image_bytes(reinterpret_cast<const uint8_t *>(compiled), static_cast<size_t>(
                                     reinterpret_cast<const DrLibHeader *>(compiled)->size));
    dr_free_lib(compiled);
    ASSERT_TRUE(bench);
    for (const char *name : {"Small", "Medium", "Bulk16"}) {
        const DrMeta *meta = nullptr;
        ASSERT_EQ(dr_meta_by_name(bench.get(), name, &meta), 0);
        compare_variants(meta, drtest::random_host(meta, seed), seed, &t);
        ++seed;
    }
#endif
    report("sample and benchmark records", t);
    EXPECT_GT(t.by_plan * 4, (t.calls - t.failures) * 3);
}

}  // namespace
