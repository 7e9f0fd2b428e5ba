// compare_bench.cc: the benchmark records through this library, hand-written code,
// Protocol Buffers, XDR and memcpy, side by side in one run. Before timing anything it
// checks that every codec decodes what it encoded and that the hand-written encoder writes
// exactly the library's bytes; `--check` runs the checks alone.
//
// Benchmarks are named record/codec/op; bytes per second count the record's host bytes,
// the counter out_bytes the bytes an operation produces (network form or text).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/codecs.h"
#include "bench/handwritten.h"

namespace bench {
namespace {

const char *const kMetaNames[kRecords] = {"Small", "Medium", "Bulk32", "Bulk16"};

const DrMeta *meta_of(Rec rec) {
    const DrMeta *meta = nullptr;
    if (dr_meta_by_name(library(), kMetaNames[static_cast<int>(rec)], &meta) != 0) std::abort();
    return meta;
}

// The host form of a record at the start of a page.
template <class R>
class HostForm {
public:
    explicit HostForm(const R &r) : buf_(sizeof(R), kHostOffset) { std::memcpy(buf_.data(), &r, sizeof r); }
    R &get() { return *reinterpret_cast<R *>(buf_.data()); }
    const R &get() const { return *reinterpret_cast<const R *>(buf_.data()); }
    char *data() { return buf_.data(); }
    bool same_as(const HostForm &o) const { return std::memcmp(&get(), &o.get(), sizeof(R)) == 0; }

private:
    PageBuffer buf_;
};

template <class R>
class Base {
public:
    Base(Rec rec, const R &r) : meta_(meta_of(rec)), in_(r), out_(R{}), net_(kNetCapacity, kNetOffset) {
        std::memset(out_.data(), 0, sizeof(R));
    }
    std::string_view wire() const { return {net_.data(), static_cast<size_t>(len_)}; }
    bool decoded_equal() const { return in_.same_as(out_); }

protected:
    const DrMeta *meta_;
    HostForm<R> in_, out_;
    PageBuffer net_;
    long len_ = 0;
};

template <class R>
class DrCodec : public Base<R> {
public:
    using Base<R>::Base;
    long encode() {
        DrBuffer net{this->net_.data(), static_cast<int32_t>(this->net_.size())};
        DrBuffer host{this->in_.data(), sizeof(R)};
        return this->len_ = dr_host_to_net(this->meta_, &net, &host, 0) == 0 ? net.len : -1;
    }
    long decode() {
        DrBuffer host{this->out_.data(), sizeof(R)};
        DrBuffer net{this->net_.data(), static_cast<int32_t>(this->len_)};
        return dr_net_to_host(this->meta_, &host, &net, 0) == 0 ? net.len : -1;
    }
    long text() { return render(dr_sprint_data); }
    long xml() { return render(dr_sprint_data_xml); }

private:
    // The text's length: the result is -1 whenever a record holds a type that has no text
    // format (longlong, datetime, money), though the rest is rendered all the same.
    long render(int (*fn)(const DrMeta *, DrBuffer *, DrBuffer *, int)) {
        DrBuffer out{text_.data(), static_cast<int32_t>(text_.size())};
        DrBuffer host{this->in_.data(), sizeof(R)};
        fn(this->meta_, &out, &host, 0);
        return host.len == sizeof(R) ? out.len : -1;
    }
    PageBuffer text_{kNetCapacity, kNetOffset};
};

template <class R>
class HandCodec : public Base<R> {
public:
    using Base<R>::Base;
    long encode() { return this->len_ = hand::encode(this->in_.get(), this->net_.data(), this->net_.size()); }
    long decode() { return hand::decode(this->out_.get(), this->net_.data(), static_cast<size_t>(this->len_)); }
};

template <class R>
class MemcpyCodec : public Base<R> {
public:
    using Base<R>::Base;
    long encode() {
        std::memcpy(this->net_.data(), this->in_.data(), sizeof(R));
        return this->len_ = sizeof(R);
    }
    long decode() {
        std::memcpy(this->out_.data(), this->net_.data(), sizeof(R));
        return sizeof(R);
    }
};

struct Entry {
    std::string name;
    std::unique_ptr<Codec> codec;
};

template <class R>
std::vector<Entry> codecs_for(Rec rec, const R &sample) {
    std::vector<Entry> list;
    list.push_back({"dr", std::make_unique<CodecOf<DrCodec<R>>>(rec, sample)});
    list.push_back({"hand", std::make_unique<CodecOf<HandCodec<R>>>(rec, sample)});
#ifdef DR_BENCH_PROTOBUF
    list.push_back({"protobuf", make_protobuf(rec)});
#endif
#ifdef DR_BENCH_XDR
    list.push_back({"xdr", make_xdr(rec)});
#endif
    list.push_back({"memcpy", std::make_unique<CodecOf<MemcpyCodec<R>>>(rec, sample)});
    return list;
}

struct Suite {
    std::vector<Entry> records[kRecords];
    size_t host_bytes[kRecords];
};

Suite &suite() {
    static Suite s{{codecs_for(Rec::kSmall, sample_small()), codecs_for(Rec::kMedium, sample_medium()),
                    codecs_for(Rec::kBulk32, sample_bulk32()), codecs_for(Rec::kBulk16, sample_bulk16())},
                   {sizeof(Small), sizeof(Medium), sizeof(Bulk32), sizeof(Bulk16)}};
    return s;
}

constexpr Op kOps[] = {Op::kEncode, Op::kDecode, Op::kText, Op::kXml};
constexpr const char *kOpNames[] = {"encode", "decode", "text", "xml"};

// Runs every operation once and checks the results; prints each failure.
bool check(Suite &s) {
    bool ok = true;
    auto fail = [&](const std::string &what) {
        std::fprintf(stderr, "check failed: %s\n", what.c_str());
        ok = false;
    };
    for (int r = 0; r < kRecords; ++r) {
        std::string library_wire;
        for (Entry &e : s.records[r]) {
            const std::string where = std::string(kRecordNames[r]) + "/" + e.name;
            const long written = e.codec->once(Op::kEncode);
            if (written <= 0) fail(where + ": encode");
            const long read = e.codec->once(Op::kDecode);
            if (read != written) fail(where + ": decode consumed " + std::to_string(read) + " of " +
                                      std::to_string(written) + " bytes");
            if (!e.codec->decoded_equal()) fail(where + ": decoded record differs");
            if (e.name == "dr") library_wire = std::string(e.codec->wire());
            if (e.name == "hand" && e.codec->wire() != library_wire) fail(where + ": bytes differ from the library's");
            for (Op op : {Op::kText, Op::kXml})
                if (e.codec->supports(op) && e.codec->once(op) <= 0) fail(where + ": rendering");
        }
    }
    return ok;
}

void register_all(Suite &s) {
    for (int r = 0; r < kRecords; ++r) {
        for (Entry &e : s.records[r]) {
            for (size_t k = 0; k < std::size(kOps); ++k) {
                const Op op = kOps[k];
                if (!e.codec->supports(op)) continue;
                Codec *codec = e.codec.get();
                const size_t host = s.host_bytes[r];
                const long out = codec->once(op);
                const std::string name = std::string(kRecordNames[r]) + "/" + e.name + "/" + kOpNames[k];
                benchmark::RegisterBenchmark(name.c_str(), [codec, op, host, out](benchmark::State &state) {
                    codec->time(state, op);
                    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * host));
                    state.counters["out_bytes"] = static_cast<double>(out);
                });
            }
            // Leave the network buffer holding this codec's encoding for its decode.
            (void)e.codec->once(Op::kEncode);
        }
    }
}

}  // namespace
}  // namespace bench

int main(int argc, char **argv) {
    bool check_only = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0)
            check_only = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    bench::Suite &s = bench::suite();
    if (!bench::check(s)) return 1;
    if (check_only) {
        std::puts("every codec round-trips every record; hand-written bytes match the library's");
        return 0;
    }
    bench::register_all(s);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
