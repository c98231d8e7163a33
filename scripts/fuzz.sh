#!/usr/bin/env bash
# Runs or replays the libFuzzer targets of fuzz/ from an already built fuzz
# build (make fuzz / make fuzz-replay build it first).
#
#   fuzz.sh run [target...]     fuzz each target for FUZZ_SECONDS (default 60),
#                               FUZZ_JOBS targets at a time (default: cores)
#   fuzz.sh replay [target...]  run every stored corpus file and crash
#                               reproducer through its target once
#   fuzz.sh corpus [target...]  minimize seeds + stored corpus + what the runs
#                               found into fuzz/corpus/<target> (-merge=1)
#
# A crash, leak, timeout or runaway memory use fails the run; its reproducer is
# left in <build>/fuzz-artifacts/<target>/. The library's documented exceptions
# are caught inside the targets and are not findings.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=${1:-}
shift || true
build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-$(nproc)}
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(fuzz_description fuzz_archive fuzz_decoders fuzz_catalogue fuzz_check)
fi
if [[ $# -eq 0 ]]; then
    targets+=(fuzz_sfz fuzz_sf2) # the importers' targets (fuzz/import.cmake)
fi
# Limits that turn runaway inputs into findings.
limits=(-rss_limit_mb=2048 -malloc_limit_mb=1024 -timeout=10)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/sanitizers/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

binary() { echo "$root/$build/bin/$1"; }

# Runs a target. libinstpatch and GLib have no frame pointers: the SF2 target
# unwinds slowly so that a leak inside them shows the frames its suppression names.
launch() {
    local target=$1
    shift
    if [[ $target == fuzz_sf2 ]]; then
        ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0" "$(binary "$target")" "$@"
    else
        "$(binary "$target")" "$@"
    fi
}

seeds() {
    local dir=$build/fuzz-seeds
    rm -rf "$dir"
    "$(binary fuzz_make_seeds)" "$dir"
    echo "$dir"
}

dict() {
    [[ -f fuzz/$1.dict ]] && echo "-dict=fuzz/$1.dict"
    return 0
}

# Greedy set cover over a merge control file: prints a summary line, then the
# chosen inputs, at most $2 of them, largest gain first (smaller on ties).
pick_corpus() {
    awk -v max="$2" '
        NR == 1 { files = $1; next }
        NR >= 3 && NR < 3 + files { path[NR - 3] = $0; next }
        $1 == "STARTED" { size[$2] = $3 }
        $1 == "FT" {
            n[$2] = NF - 2
            for (i = 3; i <= NF; i++) { if (!($i in all)) { all[$i] = 1; total++ } }
            list[$2] = $0
        }
        END {
            picked = 0
            while (picked < max) {
                best = -1; gain = 0
                for (f in list) {
                    if (f in chosen) continue
                    split(list[f], ft, " "); g = 0
                    for (i = 3; i <= n[f] + 2; i++) if (!(ft[i] in covered)) g++
                    if (g > gain || (g == gain && g > 0 && size[f] < size[best])) { gain = g; best = f }
                }
                if (best < 0) break
                chosen[best] = 1; picked++
                split(list[best], ft, " ")
                for (i = 3; i <= n[best] + 2; i++) if (!(ft[i] in covered)) { covered[ft[i]] = 1; done++ }
                out[picked] = path[best]
            }
            printf "%d inputs kept, covering %d of %d features\n", picked, done, total
            for (i = 1; i <= picked; i++) print out[i]
        }' "$1"
}

run_one() {
    local target=$1 seedDir=$2
    local work=$build/fuzz-work/$target artifacts=$build/fuzz-artifacts/$target
    local log=$build/fuzz-logs/$target.log
    mkdir -p "$work" "$artifacts" "$(dirname "$log")" "fuzz/corpus/$target"
    if launch "$target" "${limits[@]}" $(dict "$target") -max_total_time="$seconds" \
        -print_final_stats=1 -artifact_prefix="$artifacts/" \
        "$work" "$seedDir/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        echo "$target: $(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}') runs, no findings"
    else
        echo "$target: FINDING, see $log and $artifacts/" >&2
        tail -n 40 "$log" >&2
        return 1
    fi
}

case $mode in
run)
    seedDir=$(seeds)
    failed=0
    running=0
    # Each target fuzzes in its own process; FUZZ_JOBS of them at once.
    for target in "${targets[@]}"; do
        if ((running >= jobs)); then
            wait -n || failed=1
            running=$((running - 1))
        fi
        run_one "$target" "$seedDir" &
        running=$((running + 1))
    done
    while ((running > 0)); do
        wait -n || failed=1
        running=$((running - 1))
    done
    exit $failed
    ;;
replay)
    status=0
    for target in "${targets[@]}"; do
        files=()
        for dir in "fuzz/corpus/$target" "fuzz/crashes/$target"; do
            [[ -d $dir ]] && while IFS= read -r -d '' f; do files+=("$f"); done \
                < <(find "$dir" -type f ! -name '.*' -print0 | sort -z)
        done
        if [[ ${#files[@]} -eq 0 ]]; then
            echo "$target: nothing stored to replay" >&2
            status=1
            continue
        fi
        # With file arguments libFuzzer runs each input once, in order.
        if launch "$target" "${limits[@]}" "${files[@]}" >"$build/replay-$target.log" 2>&1; then
            echo "$target: replayed ${#files[@]} inputs"
        else
            echo "$target: replay FAILED" >&2
            tail -n 40 "$build/replay-$target.log" >&2
            status=1
        fi
    done
    exit $status
    ;;
corpus)
    seedDir=$(seeds)
    for target in "${targets[@]}"; do
        scratch=$build/fuzz-merge/$target
        rm -rf "$scratch"
        mkdir -p "$scratch/out" "$build/fuzz-work/$target" "fuzz/corpus/$target"
        # The set-cover merge records every input's full feature set (edges only:
        # no hit counters) in its control file; pick_corpus keeps the inputs
        # that cover the most of them, at most FUZZ_CORPUS_MAX.
        launch "$target" "${limits[@]}" -set_cover_merge=1 -use_counters=0 \
            -merge_control_file="$scratch/control" "$scratch/out" "$seedDir/$target" \
            "fuzz/corpus/$target" "$build/fuzz-work/$target" >"$scratch/log" 2>&1
        pick_corpus "$scratch/control" "${FUZZ_CORPUS_MAX:-40}" >"$scratch/picked"
        # The picks may come from the stored corpus itself: collect, then swap.
        mkdir -p "$scratch/keep"
        while IFS= read -r file; do
            cp "$file" "$scratch/keep/$(sha1sum "$file" | cut -c1-16)"
        done < <(tail -n +2 "$scratch/picked")
        rm -rf "fuzz/corpus/$target"
        mv "$scratch/keep" "fuzz/corpus/$target"
        echo "$target: $(head -n1 "$scratch/picked")"
    done
    ;;
*)
    echo "usage: $0 run|replay|corpus [target...]" >&2
    exit 2
    ;;
esac
