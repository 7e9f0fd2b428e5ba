#!/usr/bin/env python3
"""Writes docs/benchmarks.md (to stdout) from a dr_compare JSON result.

Arguments: the JSON file, the build's CMakeCache.txt, the load average before and after.
"""
import json
import platform
import re
import subprocess
import sys

RECORDS = {
    "small": "small: 18 members, nested struct, union by selector, string, counted array, inline length fields",
    "medium": "medium: header and 50 nested items of 9 members, each with a 2-byte inline length",
    "bulk32": "bulk32: 64 KiB of 4-byte integers",
    "bulk16": "bulk16: 64 KiB of 2-byte integers",
}
HOST_BYTES = {"small": 126, "medium": 2036, "bulk32": 65536, "bulk16": 65536}
CODECS = ["dr", "hand", "protobuf", "xdr", "memcpy"]
OPS = ["encode", "decode", "text", "xml"]
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def medians(path):
    with open(path) as f:
        data = json.load(f)
    rows = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        record, codec, op = b["run_name"].split("/")
        rows[(record, codec, op)] = {
            "ns": b["cpu_time"] * TO_NS[b["time_unit"]],
            "out": int(round(b.get("out_bytes", 0))),
        }
    return data["context"], rows


def cache_value(path, key):
    with open(path) as f:
        for line in f:
            if line.startswith(key + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def machine():
    model, cores = "unknown", "?"
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        model = re.search(r"Model name:\s*(.+)", out).group(1).strip()
        cores = re.search(r"^CPU\(s\):\s*(\d+)", out, re.M).group(1)
    except Exception:
        pass
    return model, cores


def toolchain(cache_path):
    """The compiler's first --version line and the Release flags of the build."""
    compiler = subprocess.run([cache_value(cache_path, "CMAKE_CXX_COMPILER"), "--version"],
                              capture_output=True, text=True).stdout.splitlines()[0]
    flags = " ".join(x for x in [cache_value(cache_path, "CMAKE_CXX_FLAGS"),
                                 cache_value(cache_path, "CMAKE_CXX_FLAGS_RELEASE")] if x)
    return compiler, flags


def main():
    json_path, cache_path, load_before, load_after = sys.argv[1:5]
    context, rows = medians(json_path)
    compiler, flags = toolchain(cache_path)
    model, cores = machine()
    print("# Benchmarks: this library beside Protocol Buffers, XDR, hand-written code and memcpy\n")
    print("Written by `scripts/bench.sh` from one run of `build/bench/bench/dr_compare` "
          "(Google Benchmark, medians of 5 repetitions, CPU time). Each record holds the same values "
          "in every codec; MB/s counts the record's host bytes (10^6 bytes per second), so the "
          "codecs compare directly; out bytes are the network form (or the text) produced. "
          "The hand-written code writes exactly the library's bytes (checked before timing). "
          "Records and codecs: `bench/records.h`, `bench/handwritten.cc`, `bench/peers.proto`, "
          "`bench/peers.x`.\n")
    print(f"- machine: {model}, {cores} CPUs ({platform.machine()}, Linux {platform.release()})")
    print(f"- compiler: {compiler}; build type Release, flags `{flags}` "
          "(the codec's hot files are built at -O3 in every build type but Debug)")
    print(f"- load average (1, 5, 15 min) before the run: {load_before}; after: {load_after}")
    print(f"- run at {context.get('date', '?')}\n")
    print("![CPU time per record relative to hand-written code, by record, operation and codec]"
          "(benchmarks.svg)\n")

    for record, title in RECORDS.items():
        print(f"## {title} ({HOST_BYTES[record]:,} host bytes)\n")
        print("| codec | op | ns per record | MB/s | out bytes |")
        print("|---|---|---:|---:|---:|")
        for codec in CODECS:
            for op in OPS:
                r = rows.get((record, codec, op))
                if r is None:
                    continue
                mbs = HOST_BYTES[record] / r["ns"] * 1e3
                print(f"| {codec} | {op} | {r['ns']:,.1f} | {mbs:,.0f} | {r['out']:,} |")
        print()
        print("Time of this library over the peer's (below 1: the library is faster):\n")
        print("| op | " + " | ".join(c for c in CODECS[1:]) + " |")
        print("|---|" + "---:|" * (len(CODECS) - 1))
        for op in ["encode", "decode"]:
            mine = rows.get((record, "dr", op))
            cells = []
            for peer in CODECS[1:]:
                theirs = rows.get((record, peer, op))
                cells.append(f"{mine['ns'] / theirs['ns']:.2f}" if mine and theirs else "-")
            print(f"| {op} | " + " | ".join(cells) + " |")
        if record.startswith("bulk"):
            for op in ["encode", "decode"]:
                mine, copy = rows.get((record, "dr", op)), rows.get((record, "memcpy", op))
                if mine and copy:
                    print(f"\n{op}: {100 * copy['ns'] / mine['ns']:.0f}% of memcpy's bytes per second.", end="")
            print()
        print()


if __name__ == "__main__":
    main()
