#!/usr/bin/env bash
# The whole country, rehearsed at a size this machine holds: ARCHIVES (10) generated municipality
# archives of about 1 GB of map XML each (150 map files of 400 to 2,000 parcels; two prefectures, the
# archives alternating between them; every fifth map in 任意座標系), written with
#   --gis DIR --split prefecture --format FORMAT --include-arbitrary --jobs JOBS
# twice: over the first half of the archives and over all of them. For each run it prints the
# wall and CPU time, the parcels per CPU-second and the peak memory (wanted: under 200 MB at
# --jobs 2); then how the time grew against the input (wanted: linear, the ratio near 1) and the
# time 245.5 million parcels would take at the measured rate on 2 cores and, the CPU time shared
# out evenly, on 32.
#
#   bash bench/national_rehearsal.sh
#
# Environment: BUILD (the build folder, default build-bench), ARCHIVES (default 10), FILES per archive (150), FORMAT (parquet), JOBS (2), SEED (1),
# TMPDIR (where the archives and outputs go: about 25 MB of zip per GB of XML, deleted at the end).
# Not part of the CI run: it takes minutes.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${BUILD:-$ROOT/build-bench}"
ARCHIVES="${ARCHIVES:-10}"
FILES="${FILES:-150}"
FORMAT="${FORMAT:-parquet}"
JOBS="${JOBS:-2}"
SEED="${SEED:-1}"
NATIONAL_PARCELS=245500000
if ((ARCHIVES < 2)); then ARCHIVES=2; fi

echo "== Release build in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCHIZUVEC_TOOLS=ON >/dev/null
cmake --build "$BUILD" --target Chizuvec chizuvec_genmuni -j2 >/dev/null
PROGRAM="$BUILD/Chizuvec"
GENMUNI="$BUILD/chizuvec_genmuni"
if [[ ! -x /usr/bin/time ]]; then
    echo "needs /usr/bin/time (Debian package \"time\")" >&2
    exit 1
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/chizuvec_national.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

echo "== generating $ARCHIVES archives of $FILES map files"
archives=()
xml_bytes=()
for ((a = 1; a <= ARCHIVES; ++a)); do
    # Two prefectures, 12 and 13, a municipality of one then of the other.
    code="$(printf '%d%03d' $((12 + a % 2)) $((100 + a)))"
    archive="$WORK/$code-0000.zip"
    "$GENMUNI" --files "$FILES" --min-parcels 400 --max-parcels 2000 --seed $((SEED * 1000 + a)) --code "$code" \
        --arbitrary-every 5 -o "$archive" >"$WORK/gen.txt"
    archives+=("$archive")
    xml_bytes+=("$(sed -n 's/^xml_bytes=//p' "$WORK/gen.txt")")
done

# One run over the first N archives: prints "parcels xml_bytes wall cpu peak_kb".
run_over() {
    local n="$1" bytes=0 i
    for ((i = 0; i < n; ++i)); do bytes=$((bytes + xml_bytes[i])); done
    rm -rf "$WORK/out"
    /usr/bin/time -f '%e %U %S %M' -o "$WORK/time.txt" "$PROGRAM" --gis "$WORK/out" --split prefecture \
        --format "$FORMAT" --include-arbitrary --jobs "$JOBS" "${archives[@]:0:n}" 2>"$WORK/run.txt" </dev/null
    local parcels
    parcels="$(sed -n 's/^Wrote \([0-9]*\) parcels.*/\1/p' "$WORK/run.txt")"
    if [[ -z "$parcels" ]]; then
        cat "$WORK/run.txt" >&2
        exit 1
    fi
    rm -rf "$WORK/out"
    read -r wall user sys peak <"$WORK/time.txt"
    echo "$parcels $bytes $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak"
}

half=$((ARCHIVES / 2))
read -r p1 b1 w1 c1 m1 <<<"$(run_over "$half")"
read -r p2 b2 w2 c2 m2 <<<"$(run_over "$ARCHIVES")"
echo
printf '%-10s %12s %10s %9s %9s %14s %12s\n' archives parcels "XML GB" "wall s" "CPU s" "parcels/CPU-s" "peak MB"
for row in "$half $p1 $b1 $w1 $c1 $m1" "$ARCHIVES $p2 $b2 $w2 $c2 $m2"; do
    read -r n p b w c m <<<"$row"
    printf '%-10s %12d %10.2f %9.2f %9.2f %14.0f %12.1f\n' "$n" "$p" "$(awk -v b="$b" 'BEGIN { print b / 1e9 }')" \
        "$w" "$c" "$(awk -v p="$p" -v c="$c" 'BEGIN { print p / c }')" "$(awk -v m="$m" 'BEGIN { print m / 1024 }')"
done
echo "(wanted: peak memory under 200 MB at --jobs 2)"
awk -v b1="$b1" -v b2="$b2" -v w1="$w1" -v w2="$w2" -v c1="$c1" -v c2="$c2" 'BEGIN {
    printf "linearity: input x%.2f, wall time x%.2f, CPU time x%.2f (ratio of ratios %.2f; wanted near 1)\n",
        b2 / b1, w2 / w1, c2 / c1, (c2 / c1) / (b2 / b1) }'
awk -v p="$p2" -v w="$w2" -v c="$c2" -v n="$NATIONAL_PARCELS" -v jobs="$JOBS" 'BEGIN {
    printf "245.5 million parcels at this rate: %.1f min on %d cores (measured wall time scaled), ", n / p * w / 60, jobs
    printf "%.1f min on 32 (the CPU time shared out evenly over 32 cores)\n", n / p * c / 32 / 60 }'
