// Property: the numbers of a rendering are written byte for byte as printf writes them:
// %d and %u over the whole 16- and 32-bit ranges, %x of every byte, and %f of doubles from
// random bit patterns (NaNs, infinities, denormals and the largest magnitudes among them),
// of floats widened to double, and of values that sit on a rounding boundary.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "dr/text/value_text.h"

namespace {

std::string printf_text(const char *fmt, auto v) {
    char buf[400];
    const int n = std::snprintf(buf, sizeof buf, fmt, v);
    return std::string(buf, static_cast<size_t>(n));
}

std::string fixed(double v) { return std::string(dr::ValueText().fixed6(v).view()); }

TEST(ValueText, IntegersMatchPrintf) {
    std::mt19937 rng(4);
    for (int i = 0; i < 100000; ++i) {
        const uint32_t bits = rng();
        const auto s16 = static_cast<int16_t>(bits);
        const auto u16 = static_cast<uint16_t>(bits);
        ASSERT_EQ(dr::ValueText().dec(s16).view(), printf_text("%d", s16));
        ASSERT_EQ(dr::ValueText().dec(u16).view(), printf_text("%u", u16));
        ASSERT_EQ(dr::ValueText().dec(static_cast<int32_t>(bits)).view(), printf_text("%d", static_cast<int32_t>(bits)));
        ASSERT_EQ(dr::ValueText().dec(bits).view(), printf_text("%u", bits));
    }
    for (int64_t v : {int64_t{INT32_MIN}, int64_t{INT32_MAX}, int64_t{UINT32_MAX}, int64_t{0}, int64_t{-1}})
        EXPECT_EQ(dr::ValueText().dec(v).view(), printf_text("%lld", static_cast<long long>(v)));
    for (uint32_t b = 0; b < 256; ++b) ASSERT_EQ(dr::ValueText().hex(b).view(), printf_text("%x", b));
}

TEST(ValueText, FixedSixMatchesPrintf) {
    const double specials[] = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::max(),
                               -std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                               std::numeric_limits<double>::min(), 0.0000005, 0.0000015, 0.0000025, -0.0000005,
                               1e23, 0.125, 2.5, 1e-7, 999999.9999995, static_cast<double>(3.4028235e38f)};
    for (double v : specials) EXPECT_EQ(fixed(v), printf_text("%f", v)) << v;
    std::mt19937_64 rng(14);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        ASSERT_EQ(fixed(d), printf_text("%f", d)) << bits;
        float f;
        const auto low = static_cast<uint32_t>(bits);
        std::memcpy(&f, &low, sizeof f);
        ASSERT_EQ(fixed(f), printf_text("%f", static_cast<double>(f))) << low;
        // Magnitudes where the six decimals matter: k / 2^s sits on or near a rounding edge.
        const double near = std::ldexp(static_cast<double>(static_cast<int64_t>(bits) >> 20), -static_cast<int>(bits % 64));
        ASSERT_EQ(fixed(near), printf_text("%f", near)) << near;
    }
}

}  // namespace
