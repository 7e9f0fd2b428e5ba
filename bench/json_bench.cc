// json_bench.cc: records as JSON both ways, dr_json beside protobuf's JSON printing and
// parsing of the same messages: the side-by-side suite's small and medium records
// (bench/records.h, bench/peers.proto).
//
// Benchmarks are named record/codec/op; bytes per second count the JSON text written or
// read, whose length each codec's own mapping gives (counter json_bytes).
#include <benchmark/benchmark.h>
#include <google/protobuf/util/json_util.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/codecs.h"
#include "bench/records.h"
#include "dr/dr_json.h"
#include "peers.pb.h"

namespace bench {
namespace {

// One record through dr_json: written from its host form into a buffer, and read back
// from the JSON so written into a second host form.
class DrJson {
public:
    template <class R>
    DrJson(const char *type, const R &record)
        : meta_(meta_named(type)), host_(sizeof(R), kHostOffset),
          back_(sizeof(R), kHostOffset), text_(kNetCapacity, kNetOffset) {
        std::memcpy(host_.data(), &record, sizeof record);
        if (write() < 0) {
            std::fprintf(stderr, "json_bench: dr_sprint_data_json refused %s\n", type);
            std::exit(1);
        }
        json_.assign(text_.data(), static_cast<size_t>(len_));
        if (read() < 0 || std::memcmp(host_.data(), back_.data(), sizeof(R)) != 0) {
            std::fprintf(stderr, "json_bench: %s does not read back from its JSON\n", type);
            std::exit(1);
        }
    }

    long write() {
        DrBuffer out{text_.data(), static_cast<int32_t>(text_.size())};
        DrBuffer host{host_.data(), static_cast<int32_t>(host_.size())};
        if (dr_sprint_data_json(meta_, &out, &host, 0, 0) != 0) return -1;
        return len_ = out.len;
    }
    long read() {
        DrBuffer host{back_.data(), static_cast<int32_t>(back_.size())};
        DrBuffer json{json_.data(), static_cast<int32_t>(json_.size())};
        return dr_json_to_host(meta_, &host, &json, 0, nullptr) == 0 ? json.len : -1;
    }
    size_t json_size() const { return json_.size(); }

private:
    static const DrMeta *meta_named(const char *type) {
        const DrMeta *meta = nullptr;
        if (dr_meta_by_name(library(), type, &meta) != 0) std::abort();
        return meta;
    }

    const DrMeta *meta_;
    PageBuffer host_, back_, text_;
    std::string json_;
    long len_ = 0;
};

// The same record as the protobuf message that the side-by-side suite encodes, taken from
// that suite's own wire bytes.
template <class Msg>
class ProtoJson {
public:
    explicit ProtoJson(Rec rec) {
        const std::unique_ptr<Codec> codec = make_protobuf(rec);
        if (!codec || codec->once(Op::kEncode) < 0 || !in_.ParseFromString(std::string(codec->wire())) ||
            !google::protobuf::util::MessageToJsonString(in_, &json_).ok() ||
            !google::protobuf::util::JsonStringToMessage(json_, &out_).ok() ||
            out_.SerializeAsString() != in_.SerializeAsString()) {
            std::fprintf(stderr, "json_bench: the protobuf message does not survive its JSON\n");
            std::exit(1);
        }
    }

    long write() {
        text_.clear();
        return google::protobuf::util::MessageToJsonString(in_, &text_).ok() ? static_cast<long>(text_.size()) : -1;
    }
    long read() {
        out_.Clear();
        return google::protobuf::util::JsonStringToMessage(json_, &out_).ok() ? static_cast<long>(json_.size()) : -1;
    }
    size_t json_size() const { return json_.size(); }

private:
    Msg in_, out_;
    std::string json_, text_;
};

template <class Codec, class Op>
void time_json(benchmark::State &state, Codec &codec, Op op) {
    bool failed = false;
    for (auto _ : state) {
        const long n = op(codec);
        failed |= n < 0;
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    if (failed) state.SkipWithError("operation failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(codec.json_size()));
    state.counters["json_bytes"] = static_cast<double>(codec.json_size());
}

template <class Codec>
void register_pair(const std::string &name, Codec *codec) {
    benchmark::RegisterBenchmark((name + "/write").c_str(), [codec](benchmark::State &s) {
        time_json(s, *codec, [](Codec &c) { return c.write(); });
    });
    benchmark::RegisterBenchmark((name + "/read").c_str(), [codec](benchmark::State &s) {
        time_json(s, *codec, [](Codec &c) { return c.read(); });
    });
}

}  // namespace
}  // namespace bench

int main(int argc, char **argv) {
    using namespace bench;
    static DrJson dr_small("Small", sample_small()), dr_medium("Medium", sample_medium());
    static ProtoJson<benchpb::Small> pb_small(Rec::kSmall);
    static ProtoJson<benchpb::Medium> pb_medium(Rec::kMedium);
    register_pair("small/dr_json", &dr_small);
    register_pair("small/protobuf", &pb_small);
    register_pair("medium/dr_json", &dr_medium);
    register_pair("medium/protobuf", &pb_medium);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
