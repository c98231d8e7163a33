#!/usr/bin/env python3
"""Runs the benchmarks and prints one table of figures against their targets.

Generates the benchmark banks (oxsf_bench_generate), runs every bench_* binary
of the build with Google Benchmark's JSON output, repetitions randomly
interleaved so that a machine whose load drifts affects figure and baseline
alike, and summarises: each figure is the median CPU time of its repetitions,
its baseline is measured in the same run, and the ratio of the two is checked
against the target.

With --default-build, the voice benchmarks also run from a build of the
project's default type (RelWithDebInfo, -O2), right after Release's, and the
table sets each voice's cost there beside Release: what a host that embeds the
library with its own -O2 flags gets.

Usage: scripts/bench.py [--build build-bench] [--default-build DIR] [--repetitions 10]
                        [--strict] [--no-run]
"""

import argparse
import datetime
import json
import os
import platform
import statistics
import subprocess
import sys

# One process per run. The bank benchmarks run one description size per
# process: interleaved with the 50,000-sample banks' tens of megabytes, the
# 10,000-sample figures and their baseline met a heap in whatever state the
# larger ones left it, and the baseline alone once came out 50% slower.
RUNS = [("bench_bank", size, f"/{size}$") for size in (1000, 10000, 50000)] + [
    (name, None, None) for name in ("bench_search", "bench_audio", "bench_voice",
                                    "bench_coordinate", "bench_import", "bench_render",
                                    "bench_synth")]


# The voice benchmarks of the default build, and the prefix of their names in the results.
DEFAULT_RUN = ("bench_voice", "default", "^BM_(Voice|MixFloor)")
DEFAULT_PREFIX = "default:"


def output_name(binary, part):
    return f"{binary}-{part}.json" if part else f"{binary}.json"


def machine():
    model = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return model, os.cpu_count()


def load():
    try:
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])
    except OSError:
        return "unknown"


def commit():
    try:
        rev = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True,
                             text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True, check=True).stdout.strip()
        return rev + (" (with uncommitted changes)" if dirty else "")
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def run(build, banks, out_dir, repetitions, min_time, default_build=None):
    """Runs every benchmark binary, each run writing one JSON file in out_dir;
    the default build's voice benchmarks right after Release's."""
    env = dict(os.environ, OXSF_BENCH_BANKS=banks)
    runs = [(build, *r) for r in RUNS]
    if default_build:
        at = next(i for i, r in enumerate(runs) if r[1] == DEFAULT_RUN[0]) + 1
        runs.insert(at, (default_build, *DEFAULT_RUN))
    for where, name, part, pattern in runs:
        binary = os.path.join(where, "bin", name)
        out = os.path.join(out_dir, output_name(name, part))
        if os.path.exists(out):
            os.remove(out)
        if not os.path.exists(binary):
            print(f"missing {binary}", file=sys.stderr)
            continue
        print(f"== {name}" + (f" ({part})" if part else ""), flush=True)
        command = [binary, f"--benchmark_repetitions={repetitions}",
                   "--benchmark_enable_random_interleaving=true",
                   f"--benchmark_min_time={min_time}",
                   "--benchmark_display_aggregates_only=true",
                   f"--benchmark_out={out}", "--benchmark_out_format=json"]
        if pattern:
            command.append(f"--benchmark_filter={pattern}")
        subprocess.run(command, env=env, check=True)


def load_results(out_dir):
    """{run_name: {"cpu": [ns per repetition], "counters": {name: value}}}; the
    default build's runs named with DEFAULT_PREFIX."""
    results = {}
    for name, part, _ in RUNS + [DEFAULT_RUN]:
        prefix = DEFAULT_PREFIX if (name, part) == DEFAULT_RUN[:2] else ""
        path = os.path.join(out_dir, output_name(name, part))
        if not os.path.exists(path):
            continue
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("run_type") != "iteration":
                continue
            if b.get("error_occurred"):
                print(f"error in {b['run_name']}: {b.get('error_message')}", file=sys.stderr)
                continue
            scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
            entry = results.setdefault(prefix + b["run_name"], {"cpu": [], "counters": {}, "series": {}})
            entry["cpu"].append(b["cpu_time"] * scale)
            for key, value in b.items():
                if key not in ("cpu_time", "real_time") and isinstance(value, (int, float)):
                    entry["counters"][key] = value
                    entry["series"].setdefault(key, []).append(value)
    return results


def fmt_time(ns):
    if ns is None:
        return "—"
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns:.0f} ns"


def summarise(results):
    def median(name):
        entry = results.get(name)
        return statistics.median(entry["cpu"]) if entry and entry["cpu"] else None

    def spread(name):
        # Median absolute deviation: one repetition disturbed by the machine's
        # other work does not swamp it the way it swamps a standard deviation.
        entry = results.get(name)
        if not entry or len(entry["cpu"]) < 2:
            return ""
        m = statistics.median(entry["cpu"])
        mad = statistics.median(abs(x - m) for x in entry["cpu"])
        return f" ±{100 * mad / m:.0f}%"

    def counter(name, key):
        entry = results.get(name)
        return entry["counters"].get(key) if entry else None

    rows = []  # (figure, measured, baseline, ratio, target, verdict)

    def ratio_row(figure, name, base_name, base_label, limit, target, info=False):
        value, base = median(name), median(base_name)
        if value is None or base is None:
            rows.append((figure, fmt_time(value), fmt_time(base), "—", target, "MISSING"))
            return
        ratio = value / base
        verdict = "info" if info else ("PASS" if ratio <= limit else "FAIL")
        rows.append((figure, fmt_time(value) + spread(name),
                     f"{fmt_time(base)}{spread(base_name)} ({base_label})", f"{ratio:.3f}",
                     target, verdict))

    def absolute_row(figure, name, limit_ns, target, allocs=False):
        value = median(name)
        if value is None:
            rows.append((figure, "—", "—", "—", target, "MISSING"))
            return
        ok = value <= limit_ns
        measured = fmt_time(value) + spread(name)
        if allocs:
            per_query = counter(name, "allocs_per_query")
            ok = ok and per_query == 0
            node = counter(name, "node_samples")
            measured += f", {per_query:g} allocs/query, node of {node:g}"
        rows.append((figure, measured, "—", "—", target, "PASS" if ok else "FAIL"))

    parse = "read + rapidxml parse"
    ratio_row("Open directory bank, 10,000 samples (addDirectory)", "BM_OpenDirectory/10000",
              "BM_ReadAndParse/10000", parse, 1.3, "≤ 1.3×")
    ratio_row("Open archive bank, 10,000 samples (addDirectory)", "BM_OpenArchive/10000",
              "BM_ReadAndParse/10000", parse, 1.3, "≤ 1.3×")
    ratio_row("First sampleTree(), 10,000 samples", "BM_FirstSampleTree/10000",
              "BM_ReadAndParse/10000", parse, 1.0, "≤ 1.0×")
    absolute_row("findSampleByMidi, pitched bank, addressed node of 1,000",
                 "BM_FindSampleByMidi/Bench10000", 2000, "≤ 2 µs, 0 allocs", allocs=True)
    absolute_row("findSampleByMidi, demo guitar (directory bank)",
                 "BM_FindSampleByMidiDemo/DemoGuitar", 2000, "≤ 2 µs, 0 allocs", allocs=True)
    absolute_row("findSampleByMidi, demo drum kit (archive bank)",
                 "BM_FindSampleByMidiDemo/DemoDrums", 2000, "≤ 2 µs, 0 allocs", allocs=True)
    decode = "libsndfile decodes the whole file"
    ratio_row("First note, cold player until first block rendered (10 s stereo FLAC)",
              "BM_FirstNote", "BM_LibsndfileDecodeWhole", decode, 0.05, "≤ 0.05×")
    ratio_row("First note as above, in the 10,000-sample bank", "BM_FirstNoteBench10000",
              "BM_LibsndfileDecodeWhole", decode, 0.05, "≤ 0.05×")
    ratio_row("Play a whole sample at transposition 0 (decode included)", "BM_PlayWhole",
              "BM_LibsndfileDecodeWhole", decode, 1.2, "≤ 1.2×")

    plain = "plain render of the same voice"
    ratio_row("Envelope on an untransposed stereo voice, decoded (5 ms attack, 1 s decay to "
              "-6 dB, sustain, 0.5 s release)", "BM_PlayWholeDecodedEnvelope",
              "BM_PlayWholeDecoded", plain, 1.1, "≤ 1.1×")
    ratio_row("  the same voice decaying all its 10 s (100 dB)", "BM_PlayWholeDecodedDecay",
              "BM_PlayWholeDecoded", plain, 0, "—", info=True)

    voice_rows(rows, median, spread, counter)

    held = counter("BM_PlayWhole", "bytes_held")
    expected = counter("BM_PlayWhole", "bytes_expected")
    cache = counter("BM_PlayWhole", "cache_bytes")
    if held and expected:
        deviation = abs(held - expected) / expected
        ok = deviation <= 0.01 and cache == held
        rows.append(("Memory of a fully played 16-bit file (memoryByteCount: "
                     f"{cache:,.0f} bytes)", f"{held:,.0f} bytes",
                     f"{expected:,.0f} bytes (frames × channels × 2)", f"{held / expected:.4f}",
                     "within 1%, memoryByteCount agrees", "PASS" if ok else "FAIL"))
    else:
        rows.append(("Memory of a fully played 16-bit file", "—", "—", "—", "within 1%",
                     "MISSING"))
    absolute_row("samplePlayer of a cached sample", "BM_SamplePlayerCached", 1000, "≤ 1 µs")

    # Every preset of a 4 MB General MIDI soundfont is to import in under 5 s;
    # the generated font is held to the same time per megabyte.
    megabytes = counter("BM_ImportSoundFont", "megabytes")
    presets = counter("BM_ImportSoundFont", "presets")
    if megabytes:
        limit = 5e9 * megabytes / 4.0
        absolute_row(f"Import every preset of the generated soundfont ({presets:g} presets, "
                     f"{megabytes:.1f} MB)", "BM_ImportSoundFont", limit,
                     f"≤ {fmt_time(limit)} (5 s per 4 MB)")
    else:
        rows.append(("Import every preset of the generated soundfont", "—", "—", "—",
                     "5 s per 4 MB", "MISSING"))

    # oxsf render in a process of its own: speed from the child's CPU time, and
    # its peak memory for the same song at 1 and at 10 minutes.
    def counter_median(name, key):
        entry = results.get(name)
        series = entry["series"].get(key) if entry else None
        return statistics.median(series) if series else None

    minute, ten = "BM_RenderSong/60/iterations:1/manual_time", \
        "BM_RenderSong/600/iterations:1/manual_time"
    speed = counter_median(minute, "times_real_time")
    rows.append(("Render a dense 16-channel General MIDI song (1 min, up to 64 voices), "
                 "one core", f"{speed:.1f}× real time" if speed else "—", "—", "—",
                 "≥ 50× real time", ("PASS" if speed >= 50 else "FAIL") if speed else "MISSING"))
    short, long = counter_median(minute, "peak_rss_mb"), counter_median(ten, "peak_rss_mb")
    if short and long:
        rows.append(("Peak memory of that render at 10 min", f"{long:.1f} MB",
                     f"{short:.1f} MB (the same song at 1 min)", f"{long / short:.3f}",
                     "within 10%", "PASS" if abs(long / short - 1) <= 0.10 else "FAIL"))
    else:
        rows.append(("Peak memory of that render at 10 min", "—", "—", "—", "within 10%",
                     "MISSING"))

    # The synth's process call: the worst and the 99.9th-percentile call of each
    # repetition, the worst repetition's, as shares of the block's real-time budget.
    def counter_max(name, key):
        entry = results.get(name)
        series = entry["series"].get(key) if entry else None
        return max(series) if series else None

    for frames in (64, 128, 256):
        for voices in (64, 256):
            name = f"BM_SynthProcess/frames:{frames}/voices:{voices}/manual_time"
            p999, worst = counter_max(name, "p999_budget"), counter_max(name, "worst_budget")
            figure = f"Synth process call, {frames} frames, {voices} voices: p99.9 / worst of budget"
            if p999 is None or worst is None:
                rows.append((figure, "—", "—", "—", "—", "MISSING"))
            else:
                rows.append((figure, f"{100 * p999:.1f}% / {100 * worst:.1f}%", "—", "—", "—",
                             "info"))

    # Where opening 10,000 samples goes: each part against the same baseline.
    base = "BM_ReadAndParse/10000"
    ratio_row("  part: rapidxml parse alone, text already in memory", "BM_ParseFromMemory/10000",
              base, parse, 0, "—", info=True)
    ratio_row("  part: initialize() from memory (parse + filling the records)",
              "BM_InitializeFromMemory/10000", base, parse, 0, "—", info=True)
    ratio_row("  part: the nesting and element limits (checkDescriptionLimits)",
              "BM_CheckLimits/10000", base, parse, 0, "—", info=True)
    ratio_row("  part: the records alone (copying an opened bank's layer)",
              "BM_CopyRecords/10000", base, parse, 0, "—", info=True)
    ratio_row("  part: archive index alone (SoundFontV7 constructor)", "BM_IndexArchive/10000",
              base, parse, 0, "—", info=True)
    for size in (1000, 50000):
        base = f"BM_ReadAndParse/{size}"
        ratio_row(f"Open directory bank, {size:,} samples", f"BM_OpenDirectory/{size}", base,
                  parse, 1.3, "(1.3×)", info=True)
        ratio_row(f"Open archive bank, {size:,} samples", f"BM_OpenArchive/{size}", base, parse,
                  1.3, "(1.3×)", info=True)
        ratio_row(f"First sampleTree(), {size:,} samples", f"BM_FirstSampleTree/{size}", base,
                  parse, 1.0, "(1.0×)", info=True)
    for size in (1000, 50000):
        absolute_row(f"findSampleByMidi, addressed node of {size // 10:,}",
                     f"BM_FindSampleByMidi/Bench{size}", 0, "—", allocs=True)
        rows[-1] = rows[-1][:5] + ("info",)
    return rows


def voice_rows(rows, median, spread, counter):
    """The render engine: each voice's cost per output frame against the floor,
    a plain loop adding 16-bit stereo into a mix buffer, with the voices one core
    renders in real time at 44.1 kHz; then the interpolators' quality. GCC runs
    that loop mostly scalar: the same loop vectorized is a second, harder
    baseline, shown for information."""
    frames = counter("BM_MixFloor", "frames")
    labels = {"BM_MixFloor": "16-bit stereo added to a mix",
              "BM_MixFloorVectorized": "the same, vectorized",
              "BM_VoiceTransposedMix": "the plain transposed voice, mix()"}

    def per_frame(name):
        ns = median(name) / frames
        return f"{ns:.2f} ns/frame{spread(name)}, {1e9 / (ns * 44100):,.0f} voices/core"

    def row(figure, name, limit, target, info=False, base="BM_MixFloor"):
        value, floor = median(name), median(base)
        if value is None or floor is None or frames is None:
            rows.append((figure, "—", "—", "—", target, "MISSING"))
            return
        ratio = value / floor
        verdict = "info" if info else ("PASS" if ratio <= limit else "FAIL")
        rows.append((figure, per_frame(name), f"{per_frame(base)} ({labels[base]})",
                     f"{ratio:.2f}", target, verdict))

    row("Transposed stereo voice (+2 semitones), cubic, render()", "BM_VoiceTransposed", 6.0,
        "≤ 6×")
    row("Untransposed stereo voice, render()", "BM_VoiceUntransposed", 3.0, "≤ 3×")
    row("  the transposed voice mixed with a gain per channel, mix()", "BM_VoiceTransposedMix",
        0, "—", info=True)
    row("  the untransposed voice, mix()", "BM_VoiceUntransposedMix", 0, "—", info=True)
    row("  the transposed voice through the sinc (+2: kernel narrowed by the step)",
        "BM_VoiceTransposedSinc", 0, "—", info=True)
    row("  the sinc transposing down (−2 semitones)", "BM_VoiceTransposedDownSinc", 0, "—",
        info=True)
    # The voice model: a shaped voice against the plain one it shapes, same run.
    row("Filtered, modulated transposed stereo voice (filter, envelope, two LFOs, pan), mix()",
        "BM_VoiceShapedMix", 2.0, "≤ 2× plain", base="BM_VoiceTransposedMix")
    row("  the same voice through a still filter alone", "BM_VoiceFilteredMix", 0, "—",
        info=True, base="BM_VoiceTransposedMix")
    vectorized = "BM_MixFloorVectorized"
    row("  the transposed cubic voice against the floor vectorized", "BM_VoiceTransposed", 0,
        "—", info=True, base=vectorized)
    row("  the untransposed voice against the floor vectorized", "BM_VoiceUntransposed", 0,
        "—", info=True, base=vectorized)

    # The same voices built as a host's -O2 build would build them: the render
    # loops are to cost what they cost in Release, within 10%.
    for name, label in (("BM_VoiceTransposed", "transposed, cubic"),
                        ("BM_VoiceUntransposed", "untransposed"),
                        ("BM_VoiceTransposedMix", "transposed, cubic, mix()"),
                        ("BM_VoiceTransposedSinc", "transposed up, sinc"),
                        ("BM_VoiceTransposedDownSinc", "transposed down, sinc")):
        figure = f"Default build (RelWithDebInfo, -O2): {label} voice"
        value, release = median(DEFAULT_PREFIX + name), median(name)
        if value is None or release is None or frames is None:
            rows.append((figure, "—", "—", "—", "≤ 1.1× Release", "MISSING"))
            continue
        ratio = value / release
        rows.append((figure, per_frame(DEFAULT_PREFIX + name), f"{per_frame(name)} (Release)",
                     f"{ratio:.2f}", "≤ 1.1× Release", "PASS" if ratio <= 1.1 else "FAIL"))

    name = "BM_InterpolationQuality/iterations:1/repeats:1"
    for frequency, label in (("1k", "1 kHz"), ("10k", "10 kHz")):
        for shift, moved in (("up7", "up 7 semitones"), ("down12", "down 12 semitones")):
            cubic = counter(name, f"cubic_{frequency}_{shift}")
            sinc = counter(name, f"sinc_{frequency}_{shift}")
            figure = f"SINAD, full-scale 16-bit {label} sine {moved}"
            if cubic is None or sinc is None:
                rows.append((figure, "—", "—", "—", "sinc ≥ 90 dB", "MISSING"))
                continue
            rows.append((figure, f"cubic {cubic:.1f} dB, sinc {sinc:.1f} dB", "—", "—",
                         "sinc ≥ 90 dB", "PASS" if sinc >= 90 else "FAIL"))


def table(rows):
    header = ("Figure", "Measured (median)", "Baseline, same run", "Ratio", "Target", "Result")
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for row in rows:
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--default-build",
                        help="a build of the default type whose voice benchmarks run beside")
    parser.add_argument("--banks", help="bank folder (default: <build>/bench-banks)")
    parser.add_argument("--repetitions", type=int, default=10)
    parser.add_argument("--min-time", type=float, default=0.2,
                        help="seconds per repetition of each benchmark")
    parser.add_argument("--strict", action="store_true", help="exit 1 when a target is missed")
    parser.add_argument("--no-run", action="store_true",
                        help="summarise the results of the last run again")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    banks = os.path.abspath(args.banks or os.path.join(build, "bench-banks"))
    out_dir = os.path.join(build, "bench-results")
    meta_path = os.path.join(out_dir, "run.json")
    if args.no_run:
        with open(meta_path) as f:
            meta = json.load(f)
        results = load_results(out_dir)
    else:
        os.makedirs(out_dir, exist_ok=True)
        subprocess.run([os.path.join(build, "bin", "oxsf_bench_generate"), banks], check=True)
        meta = {"load_before": load(), "repetitions": args.repetitions, "commit": commit(),
                "started": f"{datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}"}
        default_build = os.path.abspath(args.default_build) if args.default_build else None
        run(build, banks, out_dir, args.repetitions, args.min_time, default_build)
        meta["load_after"] = load()
        with open(meta_path, "w") as f:
            json.dump(meta, f)
        results = load_results(out_dir)

    model, cores = machine()
    rows = summarise(results)
    summary = "\n".join([
        f"Machine: {model}, {cores} cores; load average {meta['load_before']} before, "
        f"{meta['load_after']} after",
        f"Date: {meta['started']}; commit {meta['commit']}",
        f"Figures: median CPU time of {meta['repetitions']} randomly interleaved repetitions "
        "(± median absolute deviation of the repetitions).",
        "",
        table(rows),
    ])
    with open(os.path.join(build, "bench-summary.md"), "w") as f:
        f.write(summary + "\n")
    print()
    print(summary)
    failed = [r for r in rows if r[5] in ("FAIL", "MISSING")]
    checked = [r for r in rows if r[5] != "info"]
    print(f"\n{len(checked) - len(failed)} of {len(checked)} targets met.")
    return 1 if args.strict and failed else 0


if __name__ == "__main__":
    sys.exit(main())
