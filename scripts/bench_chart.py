#!/usr/bin/env python3
"""Draws docs/benchmarks.svg from a dr_compare JSON result: one panel per record, encode and
decode of every codec as bars of CPU time over the hand-written code's, on a log axis.

Arguments: the JSON file, the build's CMakeCache.txt, the SVG to write. The SVG is replaced
only once it is drawn, and draws the same bytes from the same input.
"""
import math
import os
import platform
import sys
import tempfile

try:
    import matplotlib
    from matplotlib.figure import Figure
    from matplotlib.ticker import FixedLocator, FuncFormatter, NullLocator
except ImportError as e:
    sys.exit(f"bench_chart: needs matplotlib (Debian: python3-matplotlib, for /usr/bin/python3): {e}")

from bench_report import CODECS, HOST_BYTES, machine, medians, toolchain

OPS = ["encode", "decode"]
BASE = "hand"  # every time is drawn over this codec's, record by record and op by op
COLOURS = {"dr": "#1f77b4", "hand": "#7f7f7f", "protobuf": "#ff7f0e", "xdr": "#2ca02c",
           "memcpy": "#bcbd22"}
LABELS = {"dr": "dr (this library)", "hand": "hand-written", "protobuf": "Protocol Buffers",
          "xdr": "XDR", "memcpy": "memcpy"}


class Unfit(Exception):
    pass


def load(json_path):
    """Records in the order they ran, codecs in the report's order, and the median rows."""
    try:
        _, rows = medians(json_path)
    except OSError as e:
        raise Unfit(f"cannot read it ({e.strerror})")
    except (ValueError, KeyError, TypeError, AttributeError) as e:
        raise Unfit(f"not a dr_compare result with median aggregates ({type(e).__name__}: {e})")
    rows = {k: v for k, v in rows.items() if k[2] in OPS}
    records = list(dict.fromkeys(record for record, _, _ in rows))
    if not records:
        raise Unfit("no median of any encode or decode: run dr_compare with "
                    "--benchmark_repetitions and --benchmark_report_aggregates_only as bench.sh does")
    present = {codec for _, codec, _ in rows}
    codecs = [c for c in CODECS if c in present] + sorted(present - set(CODECS))
    for record in records:
        for op in OPS:
            if (record, BASE, op) not in rows:
                raise Unfit(f"no time for {record}/{BASE}/{op}, which the chart draws every codec against")
    for (record, codec, op), r in rows.items():
        if not 0 < r["ns"] < math.inf:
            raise Unfit(f"{record}/{codec}/{op} took {r['ns']} ns, which a log axis cannot show")
    return records, codecs, rows


def duration(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def ratio(x):
    return f"{x:g}×"


def title(cache_path):
    model, cores = machine()
    compiler, flags = toolchain(cache_path)
    return (f"CPU time per record relative to hand-written code (lower is faster)\n"
            f"{model}, {cores} CPUs ({platform.machine()}); {compiler}, {flags}")


def draw(records, codecs, rows, heading):
    fig = Figure(figsize=(8, 4.2))
    axes = fig.subplots(1, len(records), sharey=True, squeeze=False)[0]
    ratios = [rows[(r, c, op)]["ns"] / rows[(r, BASE, op)]["ns"]
              for r in records for c in codecs for op in OPS if (r, c, op) in rows]
    # Every bar rises from the same whole decade below the fastest.
    bottom = min(-1, math.floor(math.log10(min(ratios))))
    low, high = 10.0 ** bottom, max(10.0, max(ratios) * 2.5)  # room for the value above each bar
    width = 0.8 / len(codecs)
    for ax, record in zip(axes, records):
        for i, codec in enumerate(codecs):
            xs, heights = [], []
            for j, op in enumerate(OPS):
                r = rows.get((record, codec, op))
                if r is not None:
                    xs.append(j + (i - (len(codecs) - 1) / 2) * width)
                    heights.append(r["ns"] / rows[(record, BASE, op)]["ns"] - low)
            bars = ax.bar(xs, heights, width, bottom=low, color=COLOURS.get(codec),
                          label=LABELS.get(codec, codec))
            if codec != BASE:
                ax.bar_label(bars, labels=[f"{h + low:.2g}" for h in heights], rotation=90,
                             padding=2, fontsize=6)
        ax.set_yscale("log")
        ax.set_ylim(low, high)
        ax.axhline(1.0, color="black", linewidth=0.6)
        ax.set_xticks(range(len(OPS)))
        ax.set_xticklabels([f"{op}\n{BASE} {duration(rows[(record, BASE, op)]['ns'])}" for op in OPS],
                           fontsize=8)
        ax.set_xlim(-0.5, len(OPS) - 0.5)
        size = f"\n{HOST_BYTES[record]:,} host bytes" if record in HOST_BYTES else ""
        ax.set_title(record + size, fontsize=9)
        ax.grid(axis="y", which="major", linewidth=0.4, alpha=0.5)
        ax.set_axisbelow(True)
    decades = range(bottom, math.floor(math.log10(high)) + 1)
    axes[0].yaxis.set_major_locator(FixedLocator([10.0 ** e for e in decades]))
    axes[0].yaxis.set_minor_locator(NullLocator())
    axes[0].yaxis.set_major_formatter(FuncFormatter(lambda y, _: ratio(y)))
    axes[0].set_ylabel(f"time ÷ {LABELS[BASE]} time (log)", fontsize=9)
    axes[0].tick_params(axis="y", labelsize=8)
    handles, labels = axes[0].get_legend_handles_labels()
    fig.legend(handles, labels, loc="lower center", ncol=len(codecs), fontsize=8, frameon=False)
    fig.suptitle(heading, fontsize=9)
    fig.subplots_adjust(left=0.09, right=0.99, top=0.80, bottom=0.20, wspace=0.08)
    return fig


def save(fig, svg_path):
    """Writes beside the target and renames, so a failed run leaves the old chart in place."""
    folder = os.path.dirname(os.path.abspath(svg_path))
    fd, tmp = tempfile.mkstemp(prefix=".bench_chart.", suffix=".svg", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            fig.savefig(f, format="svg", metadata={"Date": None})
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(tmp, 0o666 & ~umask)  # mkstemp makes it private; the chart is an ordinary file
        os.replace(tmp, svg_path)
    except BaseException:
        os.unlink(tmp)
        raise


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: bench_chart.py COMPARE_JSON CMAKE_CACHE OUT_SVG")
    json_path, cache_path, svg_path = sys.argv[1:]
    try:
        records, codecs, rows = load(json_path)
    except Unfit as e:
        sys.exit(f"bench_chart: {json_path}: {e}; {svg_path} left as it was")
    try:
        heading = title(cache_path)
    except (OSError, IndexError) as e:
        sys.exit(f"bench_chart: {cache_path}: no compiler to name ({e}); {svg_path} left as it was")
    matplotlib.rcParams["svg.hashsalt"] = "dr-bench"  # ids stable from run to run
    save(draw(records, codecs, rows, heading), svg_path)


if __name__ == "__main__":
    main()
