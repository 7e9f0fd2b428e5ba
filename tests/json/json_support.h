// json_support.h: guarded calls of the JSON writer and reader for tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dr/dr_json.h"

namespace drtest {

// The record as JSON (indent as for dr_sprint_data_json); fails the test when refused.
inline std::string to_json(const DrMeta *meta, const std::vector<char> &host, int version, int indent = 0) {
    std::vector<char> in(host);
    std::vector<char> out(1 << 18);
    DrBuffer o{out.data(), static_cast<int32_t>(out.size())};
    DrBuffer h{in.data(), static_cast<int32_t>(in.size())};
    EXPECT_EQ(dr_sprint_data_json(meta, &o, &h, version, indent), 0);
    EXPECT_EQ(in, host) << "the writer changed the host record";
    return std::string(out.data(), static_cast<size_t>(o.len));
}

struct Read {
    int rc;
    std::vector<char> host;  // the host buffer after the call
    int32_t host_len, json_len;
    DrJsonError err;
};

// Reads JSON into a host buffer of exactly `capacity` bytes on the heap, so that the
// sanitizer build sees any access past it.
inline Read from_json(const DrMeta *meta, const std::string &json, int version, int32_t capacity) {
    std::vector<char> text(json.begin(), json.end());  // exactly its bytes: no terminator to lean on
    std::vector<char> host(static_cast<size_t>(capacity), '\x5A');
    DrBuffer h{host.data(), capacity};
    DrBuffer j{text.data(), static_cast<int32_t>(text.size())};
    Read r{};
    r.rc = dr_json_to_host(meta, &h, &j, version, &r.err);
    EXPECT_EQ(std::string(text.begin(), text.end()), json) << "the reader changed the JSON text";
    r.host = std::move(host);
    r.host_len = h.len;
    r.json_len = j.len;
    return r;
}

}  // namespace drtest
