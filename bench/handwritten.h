// handwritten.h: the benchmark records encoded and decoded by code written for each record
// type, producing the same network bytes as the library. Each function returns the number
// of network bytes written or consumed, or -1 when the buffer is too short or the input bad.
#pragma once

#include <cstddef>

#include "bench/records.h"

namespace bench::hand {

long encode(const Small &r, char *net, size_t cap);
long decode(Small &r, const char *net, size_t len);
long encode(const Medium &r, char *net, size_t cap);
long decode(Medium &r, const char *net, size_t len);
long encode(const Bulk32 &r, char *net, size_t cap);
long decode(Bulk32 &r, const char *net, size_t len);
long encode(const Bulk16 &r, char *net, size_t cap);
long decode(Bulk16 &r, const char *net, size_t len);

}  // namespace bench::hand
