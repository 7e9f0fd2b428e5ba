// records.h: host records and byte strings for codec and rendering tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dr/dr.h"

namespace drtest {

// A host record of fixed size, filled with `fill`, with typed stores at byte offsets.
struct HostRecord {
    std::vector<char> bytes;
    explicit HostRecord(size_t size, char fill = 0) : bytes(size, fill) {}
    template <class T>
    HostRecord &put(size_t off, T value) {
        std::memcpy(bytes.data() + off, &value, sizeof value);
        return *this;
    }
    HostRecord &text(size_t off, const std::string &s) {
        std::memcpy(bytes.data() + off, s.c_str(), s.size() + 1);
        return *this;
    }
    template <class T>
    T get(size_t off) const {
        T v;
        std::memcpy(&v, bytes.data() + off, sizeof v);
        return v;
    }
    DrBuffer buffer() { return DrBuffer{bytes.data(), static_cast<int32_t>(bytes.size())}; }
};

// Bytes written as hexadecimal pairs, blanks and bars ignored: "00 05 | 11".
std::vector<uint8_t> hex(const std::string &text);
std::string to_hex(const uint8_t *p, size_t n);
inline std::string to_hex(const std::vector<uint8_t> &v) { return to_hex(v.data(), v.size()); }

// The result of one encode: status, the network bytes written and both reported lengths.
struct Encoded {
    int rc;
    std::vector<uint8_t> net;
    int32_t net_len;
    int32_t host_len;
};
// Encodes into a buffer of `capacity` bytes surrounded by guard bytes, and fails the
// current test when a guard byte changed.
Encoded encode(const DrMeta *meta, const std::vector<char> &host, int version, int32_t capacity = 4096);

struct Decoded {
    int rc;
    std::vector<char> host;
    int32_t host_len;
    int32_t net_len;
};
// Decodes into a host buffer of `capacity` bytes pre-filled with `fill`, guarded likewise.
Decoded decode(const DrMeta *meta, const std::vector<uint8_t> &net, int version, int32_t capacity,
               char fill = 0);

}  // namespace drtest
