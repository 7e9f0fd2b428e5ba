// codecs.h: one record through one codec, as the side-by-side suite times it.
//
// A codec holds the record in its own in-memory form (a host struct, a protobuf message,
// an XDR struct) and a network buffer. `encode` writes the record to the buffer; `decode`
// reads the buffer's last encoding back into a reused form of its own. The timing loop is
// instantiated with the codec's concrete functions, so no indirect call is timed.
#pragma once

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/records.h"

namespace bench {

enum class Op { kEncode, kDecode, kText, kXml };
inline constexpr int kRecords = 4;
inline constexpr const char *kRecordNames[kRecords] = {"small", "medium", "bulk32", "bulk16"};
enum class Rec { kSmall, kMedium, kBulk32, kBulk16 };

// Buffer placement: host forms at the start of a page, network buffers 256 bytes into one.
inline constexpr size_t kHostOffset = 0;
inline constexpr size_t kNetOffset = 256;
inline constexpr size_t kNetCapacity = 1 << 20;

class Codec {
public:
    virtual ~Codec() = default;
    virtual bool supports(Op op) const = 0;
    // Runs `op` once: bytes written, consumed or rendered, or -1 on failure.
    virtual long once(Op op) = 0;
    virtual void time(benchmark::State &state, Op op) = 0;
    // The bytes of the last encode.
    virtual std::string_view wire() const = 0;
    // Whether the last decode reproduced the record that was encoded.
    virtual bool decoded_equal() const = 0;
};

// Adapts a concrete codec (encode(), decode(), optional text() and xml(), wire(),
// decoded_equal()) to the interface with its own timing loops.
template <class Impl>
class CodecOf final : public Codec {
public:
    template <class... Args>
    explicit CodecOf(Args &&...args) : impl_(std::forward<Args>(args)...) {}

    bool supports(Op op) const override {
        if constexpr (requires(Impl &i) { i.text(); }) return true;
        return op == Op::kEncode || op == Op::kDecode;
    }
    long once(Op op) override {
        switch (op) {
        case Op::kEncode: return impl_.encode();
        case Op::kDecode: return impl_.decode();
        default:
            if constexpr (requires(Impl &i) { i.text(); }) return op == Op::kText ? impl_.text() : impl_.xml();
            return -1;
        }
    }
    void time(benchmark::State &state, Op op) override {
        switch (op) {
        case Op::kEncode: return loop(state, [&] { return impl_.encode(); });
        case Op::kDecode: return loop(state, [&] { return impl_.decode(); });
        default:
            if constexpr (requires(Impl &i) { i.text(); }) {
                if (op == Op::kText) return loop(state, [&] { return impl_.text(); });
                return loop(state, [&] { return impl_.xml(); });
            }
        }
    }
    std::string_view wire() const override { return impl_.wire(); }
    bool decoded_equal() const override { return impl_.decoded_equal(); }

private:
    template <class F>
    static void loop(benchmark::State &state, F &&f) {
        bool failed = false;
        for (auto _ : state) {
            const long result = f();
            failed |= result < 0;
            benchmark::DoNotOptimize(result);
            benchmark::ClobberMemory();
        }
        if (failed) state.SkipWithError("operation failed");
    }

    Impl impl_;
};

// The peers that were built; each returns null for a record it does not have.
std::unique_ptr<Codec> make_protobuf(Rec rec);
std::unique_ptr<Codec> make_xdr(Rec rec);

}  // namespace bench
