// render_support.h: runs a renderer to a stream or into a guarded buffer and collects the result.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dr/dr.h"

namespace drtest {

struct Printed {
    int rc;
    std::string text;
    int32_t host_len;
};

inline Printed print(int (*fn)(const DrMeta *, FILE *, DrBuffer *, int), const DrMeta *meta,
                     const std::vector<char> &host, int version) {
    std::vector<char> in(host);
    DrBuffer h{in.data(), static_cast<int32_t>(in.size())};
    FILE *fp = tmpfile();
    Printed p;
    p.rc = fn(meta, fp, &h, version);
    p.host_len = h.len;
    const long n = ftell(fp);
    p.text.resize(static_cast<size_t>(n));
    rewind(fp);
    EXPECT_EQ(fread(p.text.data(), 1, p.text.size(), fp), p.text.size());
    fclose(fp);
    return p;
}

struct Sprinted {
    int rc;
    std::string text;  // up to the first NUL
    std::string raw;   // the whole buffer
    int32_t out_len;
    int32_t host_len;
};

inline Sprinted sprint(int (*fn)(const DrMeta *, DrBuffer *, DrBuffer *, int), const DrMeta *meta,
                       const std::vector<char> &host, int version, int32_t capacity, char fill = '\x11') {
    std::vector<char> in(host);
    std::vector<char> buf(static_cast<size_t>(capacity) + 32, '\x5A');
    std::fill(buf.begin() + 16, buf.begin() + 16 + capacity, fill);
    DrBuffer out{buf.data() + 16, capacity};
    DrBuffer h{in.data(), static_cast<int32_t>(in.size())};
    Sprinted s;
    s.rc = fn(meta, &out, &h, version);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(buf[i], '\x5A') << "written before the output buffer";
        EXPECT_EQ(buf[buf.size() - 1 - i], '\x5A') << "written after the output buffer";
    }
    s.raw.assign(buf.data() + 16, static_cast<size_t>(capacity));
    s.text = std::string(s.raw.c_str());
    s.out_len = out.len;
    s.host_len = h.len;
    return s;
}

}  // namespace drtest
