#!/usr/bin/env bash
# How the run grows on inputs shaped to make it grow faster than their size (tools/gen_hostile.cpp):
# each attack at a size and at four times that size, the median of RUNS runs of each, and the ratio
# of the two times (4 for linear work; a quadratic one would give 16), with the peak memory of the
# larger run. Builds a Release build in build-bench.
#
#   bash bench/hostile_growth.sh
#
# Environment: RUNS (default 5), SCALE (multiplies every size; default 1), BUILD (another Release
# build folder to use).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build-bench}"
RUNS="${RUNS:-5}"
SCALE="${SCALE:-1}"

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCHIZUVEC_TOOLS=ON >/dev/null
cmake --build "$BUILD" --target Chizuvec chizuvec_genhostile -j2 >/dev/null
PROGRAM="$BUILD/Chizuvec"
GEN="$BUILD/chizuvec_genhostile"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/chizuvec_hostile.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

HAVE_TIME=0
if [[ -x /usr/bin/time ]] && /usr/bin/time -v true >/dev/null 2>&1; then HAVE_TIME=1; fi

# The median wall time in seconds of RUNS runs of the command (exit codes are the attack's own).
median_seconds() {
    local times=()
    for ((i = 0; i < RUNS; i++)); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s.%N)
        times+=("$(echo "$end - $start" | bc -l)")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}

peak_mib() {
    if [[ $HAVE_TIME == 0 ]]; then
        echo "-"
        return
    fi
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident/ { printf "%.1f", $2 / 1024 }'
}

printf '%-22s %9s %9s %10s %10s %7s %9s\n' attack small large "small s" "large s" ratio "peak MiB"
# attack, small size, input extension, then the command after the program (IN is the input).
row() {
    local attack=$1 small=$2 ext=$3
    shift 3
    small=$((small * SCALE))
    local large=$((small * 4))
    "$GEN" "$attack" "$small" "small.$ext"
    "$GEN" "$attack" "$large" "large.$ext"
    local args_small=() args_large=()
    for a in "$@"; do
        args_small+=("${a//IN/small.$ext}")
        args_large+=("${a//IN/large.$ext}")
    done
    local t_small t_large
    t_small=$(median_seconds "$PROGRAM" "${args_small[@]}")
    t_large=$(median_seconds "$PROGRAM" "${args_large[@]}")
    printf '%-22s %9d %9d %10.4f %10.4f %7.2f %9s\n' "$attack" "$small" "$large" "$t_small" "$t_large" \
        "$(echo "$t_large / $t_small" | bc -l)" "$(peak_mib "$PROGRAM" "${args_large[@]}")"
    rm -f "small.$ext" "large.$ext" out.*
}

row empty-inner-zips 2500 zip --csv out.csv IN
row undetermined-members 20000 xml --gis out.geojson IN
row search-list-areas 25000 zip IN out.svg all 1
row repeated-curve 50001 xml --gis out.geojson IN
row distinct-scales 12500 xml --gis out.geojson IN

# A device that never ends is refused at its first bytes, whatever it would give.
printf '%-22s %9s %9s %10.4f\n' /dev/zero - - "$(median_seconds "$PROGRAM" /dev/zero out.svg)"
