// compile_bench.cc: compiling a generated source of 1,000 record types into a typelib.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "dr/dr_compile.h"
#include "dr/plan/plan.h"

namespace {

const char *const kScalars[] = {"char", "uchar", "short", "ushort", "int", "uint", "longlong", "double", "money"};

// 1,000 types of about eight members: scalars, strings, arrays of earlier types with count
// members and length fields, and every tenth type a union chosen by a selector; the types
// refer forward as often as backward, so the compiler lays them out out of order.
std::string thousand_types() {
    std::string s = "<typelib name=\"bench\" version=\"2\">\n\t<macros>\n";
    for (int m = 0; m < 20; ++m)
        s += "\t\t<macro name=\"MAX_" + std::to_string(m) + "\" id=\"" + std::to_string(2 + m % 5) + "\" />\n";
    s += "\t</macros>\n";
    for (int t = 0; t < 1000; ++t) {
        const std::string name = "T" + std::to_string(t);
        if (t % 10 == 9) {
            s += "\t<type name=\"" + name + "\" id=\"" + std::to_string(t) + "\" class=\"union\">\n";
            for (int k = 0; k < 6; ++k)
                s += "\t\t<item name=\"m" + std::to_string(k) + "\" id=\"" + std::to_string(k - 1) + "\" type=\"" +
                     kScalars[(t + k) % 9] + "\" count=\"" + std::to_string(1 + k % 3) + "\" />\n";
            s += "\t</type>\n";
            continue;
        }
        s += "\t<type name=\"" + name + "\" id=\"" + std::to_string(t) + "\" class=\"struct\">\n";
        s += "\t\t<item name=\"sel\" type=\"ushort\" />\n\t\t<item name=\"n\" type=\"uchar\" />\n";
        for (int k = 0; k < 4; ++k)
            s += "\t\t<item name=\"v" + std::to_string(k) + "\" type=\"" + kScalars[(t * 7 + k) % 9] + "\" desc=\"value " +
                 std::to_string(k) + "\" />\n";
        s += "\t\t<item name=\"text\" type=\"string\" count=\"MAX_" + std::to_string(t % 20) + "\" version=\"2\" />\n";
        // A nested struct: types below 500 hold one defined later (above 500), and types from
        // 600 on hold one 100 before them, so no type contains itself.
        const int other = t < 500 ? 999 - t : t - 100;
        if (t < 500 || t >= 600)
            s += "\t\t<item name=\"kids\" type=\"T" + std::to_string(other - (other % 10 == 9 ? 1 : 0)) +
                 "\" count=\"3\" refer=\"n\" netlen_size=\"2\" />\n";
        if (t >= 10) s += "\t\t<item name=\"u\" type=\"T" + std::to_string(t - t % 10 - 1) + "\" select=\"sel\" />\n";
        s += "\t</type>\n";
    }
    return s + "</typelib>\n";
}

void BM_Compile1000Types(benchmark::State &state) {
    const std::string source = thousand_types();
    DrCompileError err{};
    for (auto _ : state) {
        DrLib *lib = nullptr;
        if (dr_compile(&lib, source.data(), source.size(), &err) != 0) {
            state.SkipWithError(err.message);
            break;
        }
        benchmark::DoNotOptimize(lib);
        dr_free_lib(lib);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
    state.counters["source_bytes"] = static_cast<double>(source.size());
}
BENCHMARK(BM_Compile1000Types)->Unit(benchmark::kMillisecond);

// The compiled typelib saved to a temporary file, for the load benchmarks.
std::FILE *thousand_types_file() {
    const std::string source = thousand_types();
    DrLib *lib = nullptr;
    DrCompileError err{};
    std::FILE *fp = std::tmpfile();
    if (fp == nullptr || dr_compile(&lib, source.data(), source.size(), &err) != 0 || dr_save_lib(lib, fp) != 0)
        return nullptr;
    dr_free_lib(lib);
    return fp;
}

// dr_load_lib of the 1,000 types, plans for the newest version included; the counters give the
// image's size and the memory its plans take.
void BM_Load1000Types(benchmark::State &state) {
    std::FILE *fp = thousand_types_file();
    if (fp == nullptr) return state.SkipWithError("the 1,000 types do not compile");
    size_t image = 0, plans = 0;
    for (auto _ : state) {
        DrLib *lib = nullptr;
        if (dr_load_lib(&lib, fp) != 0) return state.SkipWithError("the 1,000 types do not load");
        image = static_cast<size_t>(reinterpret_cast<const DrLibHeader *>(lib)->size);
        plans = dr::plan::store_of(lib) ? dr::plan::store_of(lib)->bytes() : 0;
        dr_free_lib(lib);
    }
    std::fclose(fp);
    state.counters["image_bytes"] = static_cast<double>(image);
    state.counters["plan_bytes"] = static_cast<double>(plans);
}
BENCHMARK(BM_Load1000Types)->Unit(benchmark::kMillisecond);

// The part of that load which builds the plans.
void BM_Plans1000Types(benchmark::State &state) {
    std::FILE *fp = thousand_types_file();
    DrLib *lib = nullptr;
    if (fp == nullptr || dr_load_lib(&lib, fp) != 0) return state.SkipWithError("the 1,000 types do not load");
    for (auto _ : state) {
        dr::plan::detach(lib);
        dr::plan::attach(lib);
    }
    dr_free_lib(lib);
    std::fclose(fp);
}
BENCHMARK(BM_Plans1000Types)->Unit(benchmark::kMillisecond);

}  // namespace
