#!/usr/bin/env bash
# Builds the fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, then runs each
# for a while and reports executions and findings per target.
#
#   fuzz/run_fuzzers.sh [--smoke] [SECONDS_PER_TARGET]     (default 300 s; --smoke: 30 s)
#
# A normal run keeps a growing corpus per target in $BUILD/fuzz-corpus (seeded from fuzz/corpus,
# samples/ and a few small generated maps). --smoke, for CI, starts from the committed seeds only and
# keeps nothing. Crashes land in $BUILD/fuzz-artifacts/<target>/; the script fails when any target
# found one. BUILD defaults to build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

smoke=0
if [ "${1:-}" = "--smoke" ]; then
    smoke=1
    shift
fi
seconds=${1:-$([ $smoke = 1 ] && echo 30 || echo 300)}
build=${BUILD:-build-fuzz}
jobs=${JOBS:-$(nproc)}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCHIZUVEC_FUZZ=ON \
    -DCHIZUVEC_SANITIZE=ON -DCHIZUVEC_TESTS=OFF -DCHIZUVEC_TOOLS=ON >/dev/null
cmake --build "$build" -j"$jobs" --target fuzz_settings fuzz_map_reader fuzz_code_page fuzz_zip fuzz_pipeline \
    fuzz_xml_text chizuvec_genmap >/dev/null

# target  seed folder  dictionary
targets=(
    "fuzz_settings settings fuzz/settings.dict"
    "fuzz_map_reader map fuzz/map_xml.dict"
    "fuzz_pipeline map fuzz/map_xml.dict"
    "fuzz_zip zip -"
    "fuzz_code_page code_page -"
    "fuzz_xml_text xml_text fuzz/xml_text.dict"
)

work=$(mktemp -d "$root/$build/fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/generated"
if [ $smoke = 0 ]; then
    # Small generated maps, plain and zipped, widen the seeds of a long run.
    for n in 1 4; do
        "$build/chizuvec_genmap" --parcels $n --seed $n -o "$work/generated/gen$n.xml" >/dev/null
        "$build/chizuvec_genmap" --parcels $n --seed $n --zip -o "$work/generated/X.zip" >/dev/null
        mv "$work/generated/X.zip" "$work/generated/gen$n.zip"
    done
fi

# One target per core at a time: each runs single-threaded, and the run's length is its seconds times
# the rounds, not the targets.
run_target() {
    local target=$1 seeds=$2 dict=$3
    local artifacts="$root/$build/fuzz-artifacts/$target" corpus inputs
    mkdir -p "$artifacts"
    if [ $smoke = 1 ]; then
        corpus="$work/corpus-$target"
        mkdir -p "$corpus"
        inputs=("$corpus" "fuzz/corpus/$seeds")
    else
        corpus="$root/$build/fuzz-corpus/$target"
        mkdir -p "$corpus"
        cp -n fuzz/corpus/"$seeds"/* "$corpus"/
        case $seeds in
            map) cp -n samples/*.xml "$work"/generated/*.xml "$corpus"/ ;;
            zip) cp -n "$work"/generated/*.zip "$corpus"/ ;;
        esac
        inputs=("$corpus")
    fi
    local options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$artifacts/"
                   -print_final_stats=1)
    [ "$dict" != "-" ] && options+=(-dict="$dict")
    local log="$work/$target.log" status=0
    mkdir -p "$work/tmp-$target"
    TMPDIR="$work/tmp-$target" "$build/fuzz/$target" "${options[@]}" "${inputs[@]}" >"$log" 2>&1 || status=$?
    local runs findings cov ft
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    findings=$(find "$artifacts" -type f | wc -l)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    printf '%-16s %12s %8s %8s %10s %s\n' "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$findings" \
        "$(find "$corpus" -type f | wc -l) files" >"$work/$target.row"
    if [ $status -ne 0 ] || [ "$findings" -gt 0 ]; then
        {
            echo "---- $target failed (exit $status); the end of its log:"
            tail -n 40 "$log"
        } >>"$work/$target.row"
        touch "$work/$target.failed"
    fi
}

for entry in "${targets[@]}"; do
    read -r target seeds dict <<<"$entry"
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    run_target "$target" "$seeds" "$dict" &
done
wait
failed=0
printf '%-16s %12s %8s %8s %10s %s\n' target executions coverage features findings corpus
for entry in "${targets[@]}"; do
    read -r target _ <<<"$entry"
    cat "$work/$target.row" 2>/dev/null || { echo "$target: no result"; failed=1; }
    [ ! -e "$work/$target.failed" ] || failed=1
done
exit $failed
