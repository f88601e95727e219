#!/usr/bin/env bash
# Times the program on generated maps against `wc -l` of the same file, the floor of any line-by-line
# reader. Builds a Release build in build-bench, generates maps of 10,000 and 100,000 parcels (plain
# and zipped) in a temporary directory, and prints for each mode the median of RUNS runs, its ratio to
# `wc -l`, the 100k/10k ratio and the peak memory of the program.
#
#   bash bench/run_benchmarks.sh
#
# Then two maps shaped to slow a run down: parcel ids that all fall into one bucket of an identity
# hash (against the same map numbered 1..n), and a drawing with 50,000 highlighted lot numbers
# (against none); each row gives the ratio, which should stay below 3 and 2.
#
# Then a municipality archive of MUNI_FILES (150) map files of 400 to 2,000 parcels (about 1 GB of
# XML): drawing all of it with --out-dir against a shell loop running the single-map command on each
# unpacked inner zip (wanted: 5x faster), against `unzip -p` of every inner zip (the decompression
# floor; wanted: within 1.5x), and the peak memory of --jobs 2 (wanted: under 100 MB). BATCH_ONLY=1
# runs this part alone.
#
# Then --per-sheet on maps of 8,000, 16,000 and 32,000 one-parcel sheets, with distinct sheet numbers
# and with numbers that all make the same file name (wanted: each doubling at most 2.2x the time);
# neither BATCH_ONLY nor GIS_ONLY runs it.
#
# Last, the GIS output (GIS_ONLY=1 runs this part alone): the same archive to each format against the same
# archive drawn with --out-dir (wanted: within 2x), one real map file (tests/data/13113-0110-44.xml)
# to each format against its single-map drawing, and the peak memory of --gis --jobs 2 (wanted: under
# 100 MB).
#
# Then the quality report (QUALITY_ONLY=1 runs this part alone): --check of the same archive against
# drawing it (wanted: within 1.5x), and --diff of it and a next release with every 筆ID renumbered and
# 300 boundary points moved (bench/edit_release.py; wanted: within 2.5x of the drawing).
# Then the CAD and survey outputs (CAD_ONLY=1 runs this part alone): the same archive to DXF and to
# SIMA with --out-dir against drawing it (wanted: within 1.5x).
# Then (REAL_ONLY=1 runs this part alone) a municipality archive of real density: the real map files
# of tests/data repeated REAL_COPIES (150) times under new names into inner zips, as the open data
# ships them, drawn with --out-dir and written to each GIS format, each on all cores, the outputs
# taking turns round after round; for each the median CPU time (user + system) of REAL_RUNS (3) rounds
# and the parcels per CPU-second (wanted: every GIS format within 1.2x of the drawing's CPU time).
#
# Environment: RUNS (runs per median, at least 5; default 5), SIZES (default "10000 100000"),
# SEED (generator seed, default 1). Uses hyperfine when installed, else its own loop; the peak memory
# comes from /usr/bin/time -v (Debian package "time").
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build-bench"
RUNS="${RUNS:-5}"
if ((RUNS < 5)); then RUNS=5; fi
read -r -a SIZES <<<"${SIZES:-10000 100000}"
SEED="${SEED:-1}"

echo "== Release build in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCHIZUVEC_TOOLS=ON >/dev/null
cmake --build "$BUILD" --target Chizuvec chizuvec_genmap chizuvec_genmuni -j2 >/dev/null
PROGRAM="$BUILD/Chizuvec"
GENMAP="$BUILD/chizuvec_genmap"
GENMUNI="$BUILD/chizuvec_genmuni"
if [[ ! -f "$BUILD/Chizuvec.ini" ]]; then
    echo "missing $BUILD/Chizuvec.ini beside the program" >&2
    exit 1
fi

WORK="$(mktemp -d "${TMPDIR:-/tmp}/chizuvec_bench.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

HAVE_HYPERFINE=0
if command -v hyperfine >/dev/null 2>&1; then HAVE_HYPERFINE=1; fi
HAVE_TIME=0
if [[ -x /usr/bin/time ]] && /usr/bin/time -v true >/dev/null 2>&1; then HAVE_TIME=1; fi
echo "== timing with $([[ $HAVE_HYPERFINE == 1 ]] && echo hyperfine || echo "the script's own loop"), median of $RUNS runs after one warm-up run"
[[ $HAVE_TIME == 1 ]] || echo "   (no /usr/bin/time -v: peak memory not measured; apt-get install -y time)"

# Median wall time in seconds of one command; its output is discarded and it must exit with 0.
median_seconds() {
    if [[ $HAVE_HYPERFINE == 1 ]]; then
        local command
        command="$(printf '%q ' "$@")"
        if ! hyperfine -N --runs "$RUNS" --warmup 1 --style none --export-csv "$WORK/hyperfine.csv" "$command" \
            >/dev/null 2>"$WORK/hyperfine.err"; then
            cat "$WORK/hyperfine.err" >&2
            exit 1
        fi
        awk -F, 'NR == 1 { for (i = 1; i <= NF; ++i) if ($i == "median") column = i }
                 NR == 2 { printf "%.4f\n", $column }' "$WORK/hyperfine.csv"
    else
        loop_median_seconds "$@"
    fi
}

# Median wall time by the script's own loop: for commands too long for hyperfine's one argument.
loop_median_seconds() {
    "$@" >/dev/null 2>&1 </dev/null
    local i start end
    for ((i = 0; i < RUNS; ++i)); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 </dev/null
        end=$(date +%s%N)
        echo $((end - start))
    done | sort -n | awk '{ t[NR] = $1 }
        END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.4f\n", m / 1e9 }'
}

# Peak resident memory in MiB of one run. The program's own messages are checked on the way: a
# warning or an error on a generated map means the benchmark measures the wrong thing.
peak_mib() {
    if [[ $HAVE_TIME == 0 ]]; then
        echo "n/a"
        return
    fi
    /usr/bin/time -v "$@" >/dev/null 2>"$WORK/time.txt" </dev/null
    if grep -q -e '\*\*Warning' -e '\*\* Error' "$WORK/time.txt"; then
        echo "the program complained during: $*" >&2
        grep -e '\*\*Warning' -e '\*\* Error' "$WORK/time.txt" | head -3 >&2
        exit 1
    fi
    awk -F: '/Maximum resident set size/ { printf "%.1f\n", $2 / 1024 }' "$WORK/time.txt"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
if [[ "${REAL_ONLY:-0}" != 1 ]]; then
if [[ "${BATCH_ONLY:-0}" != 1 && "${GIS_ONLY:-0}" != 1 && "${QUALITY_ONLY:-0}" != 1 && "${CAD_ONLY:-0}" != 1 ]]; then
declare -A MEDIAN PEAK
MODES=("wc -l" "listing" "draw all" "draw sheet" "zip listing" "zip draw all" "zip draw sheet" "unzip -p")

for n in "${SIZES[@]}"; do
    xml="$WORK/map$n.xml"
    zip="$WORK/map$n.zip"
    start=$(date +%s%N)
    summary="$("$GENMAP" --parcels "$n" --seed "$SEED" -o "$xml")"
    mid=$(date +%s%N)
    "$GENMAP" --parcels "$n" --seed "$SEED" --zip -o "$zip" >/dev/null
    end=$(date +%s%N)
    map_no="$(sed -n 's/^first_map_no=//p' <<<"$summary")"
    lines=$(wc -l <"$xml")
    printf '== %s parcels: %s lines, %.1f MB xml, %.1f MB zip; generated in %.2f s (zip %.2f s); sheet %s\n' \
        "$n" "$lines" "$(($(stat -c %s "$xml") / 1000))e-3" "$(($(stat -c %s "$zip") / 1000))e-3" \
        "$(((mid - start) / 1000000))e-3" "$(((end - mid) / 1000000))e-3" "$map_no"

    svg="$WORK/out.svg"
    for mode in "${MODES[@]}"; do
        case "$mode" in
            "wc -l") cmd=(wc -l "$xml") ;;
            "listing") cmd=("$PROGRAM" "$xml") ;;
            "draw all") cmd=("$PROGRAM" "$xml" "$svg") ;;
            "draw sheet") cmd=("$PROGRAM" "$xml" "$svg" "$map_no") ;;
            "zip listing") cmd=("$PROGRAM" "$zip") ;;
            "zip draw all") cmd=("$PROGRAM" "$zip" "$svg") ;;
            "zip draw sheet") cmd=("$PROGRAM" "$zip" "$svg" "$map_no") ;;
            "unzip -p") cmd=(unzip -p "$zip") ;;
        esac
        MEDIAN["$n|$mode"]="$(median_seconds "${cmd[@]}")"
        if [[ "${cmd[0]}" == "$PROGRAM" ]]; then PEAK["$n|$mode"]="$(peak_mib "${cmd[@]}")"; else PEAK["$n|$mode"]="-"; fi
        printf '   %-15s %9.4f s\n' "$mode" "${MEDIAN["$n|$mode"]}"
    done
done

echo
echo "== Results (median of $RUNS runs; ratio to wc -l of the same map's XML; peak RSS of the program)"
printf '%-9s %-15s %10s %10s %12s\n' parcels mode "median s" "x wc -l" "peak MiB"
for n in "${SIZES[@]}"; do
    base="${MEDIAN["$n|wc -l"]}"
    for mode in "${MODES[@]}"; do
        printf '%-9s %-15s %10.4f %10s %12s\n' "$n" "$mode" "${MEDIAN["$n|$mode"]}" \
            "$(awk -v t="${MEDIAN["$n|$mode"]}" -v b="$base" 'BEGIN { if (b > 0) printf "%.1f", t / b; else print "-" }')" \
            "${PEAK["$n|$mode"]}"
    done
done

if ((${#SIZES[@]} >= 2)); then
    small="${SIZES[0]}"
    large="${SIZES[${#SIZES[@]} - 1]}"
    echo
    echo "== Scaling: time at $large parcels / time at $small parcels (linear work gives about $((large / small)))"
    for mode in "${MODES[@]}"; do
        printf '%-15s %8s\n' "$mode" \
            "$(awk -v a="${MEDIAN["$large|$mode"]}" -v b="${MEDIAN["$small|$mode"]}" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }')"
    done
fi

echo
echo "== Shaped maps (median of $RUNS runs; ratio to the same work on an ordinary map; peak RSS)"
plain="$WORK/plain40000.xml"
colliding="$WORK/colliding40000.xml"
"$GENMAP" --parcels 40000 --seed "$SEED" --extra-sheet-refs 60000 -o "$plain" >/dev/null
"$GENMAP" --parcels 40000 --seed "$SEED" --extra-sheet-refs 60000 --colliding-ids -o "$colliding" >/dev/null
t_plain="$(median_seconds "$PROGRAM" "$plain")"
t_colliding="$(median_seconds "$PROGRAM" "$colliding")"
hilite_map="$WORK/map10000.xml"
[[ -f "$hilite_map" ]] || "$GENMAP" --parcels 10000 --seed "$SEED" -o "$hilite_map" >/dev/null
mapfile -t KEYS < <(seq 1 50000 | sed 's/$/-1/')
t_none="$(loop_median_seconds "$PROGRAM" "$hilite_map" "$WORK/out.svg" all)"
t_keys="$(loop_median_seconds "$PROGRAM" "$hilite_map" "$WORK/out.svg" all "${KEYS[@]}")"
printf '%-44s %10s %10s %8s %12s\n' case "median s" "ordinary s" ratio "peak MiB"
printf '%-44s %10.4f %10.4f %8s %12s\n' "colliding ids, 40000 parcels, 100000 refs" "$t_colliding" "$t_plain" \
    "$(ratio "$t_colliding" "$t_plain")" "$(peak_mib "$PROGRAM" "$colliding")"
printf '%-44s %10.4f %10.4f %8s %12s\n' "50000 highlights, 10000 parcels, draw all" "$t_keys" "$t_none" \
    "$(ratio "$t_keys" "$t_none")" "$(peak_mib "$PROGRAM" "$hilite_map" "$WORK/out.svg" all "${KEYS[@]}")"
echo "(wanted: colliding ids within 3x, highlights within 2x)"
fi

if [[ "${BATCH_ONLY:-0}" != 1 && "${GIS_ONLY:-0}" != 1 && "${QUALITY_ONLY:-0}" != 1 && "${CAD_ONLY:-0}" != 1 ]]; then
echo
echo "== Per-sheet drawings: a map of N parcels with N more sheets of one parcel each, numbered apart"
echo "   (distinct) or in characters file names cannot hold, so that every drawing wants one name"
echo "   (colliding); median of 3 runs of --out-dir --per-sheet --jobs 1"
per_sheet_draw() { rm -rf "$WORK/sheet_out"; "$PROGRAM" --out-dir "$WORK/sheet_out" --per-sheet --jobs 1 "$1"; }
RUNS_SAVED=$RUNS
RUNS=3
printf '%-12s %8s %10s %14s\n' names sheets "median s" "x half size"
for names in distinct colliding; do
    previous=""
    for k in 8000 16000 32000; do
        sheet_map="$WORK/sheets_${names}_$k.xml"
        flag=()
        [[ $names == colliding ]] && flag=(--colliding-sheet-names)
        "$GENMAP" --parcels "$k" --seed "$SEED" --one-parcel-sheets "$k" "${flag[@]}" -o "$sheet_map" >/dev/null
        t="$(loop_median_seconds per_sheet_draw "$sheet_map")"
        printf '%-12s %8s %10.3f %14s\n' "$names" "$k" "$t" "$([[ -n $previous ]] && ratio "$t" "$previous" || echo -)"
        previous="$t"
        rm -f "$sheet_map"
    done
done
RUNS=$RUNS_SAVED
rm -rf "$WORK/sheet_out"
echo "(wanted: each doubling of the sheets at most 2.2x the time)"
fi

echo
MUNI_FILES="${MUNI_FILES:-150}"
muni="$WORK/muni.zip"
parts="$WORK/muni_parts"
"$GENMUNI" --files "$MUNI_FILES" --min-parcels 400 --max-parcels 2000 --seed "$SEED" --unpacked "$parts" -o "$muni" >"$WORK/muni.txt"
xml_mb=$(awk -F= '/^xml_bytes=/ { printf "%.0f", $2 / 1e6 }' "$WORK/muni.txt")
echo "== Municipality archive: $MUNI_FILES map files, $xml_mb MB of XML, $(($(stat -c %s "$muni") / 1000000)) MB zipped"
batch_draw() { rm -rf "$WORK/batch_out"; "$PROGRAM" --out-dir "$WORK/batch_out" "$@" "$muni"; }
loop_draw() {
    mkdir -p "$WORK/loop_out"
    local f
    for f in "$parts"/*.zip; do "$PROGRAM" "$f" "$WORK/loop_out/$(basename "$f" .zip).svg" || return 1; done
}
unzip_all() {
    local f
    for f in "$parts"/*.zip; do unzip -p "$f" >/dev/null || return 1; done
}
# Slow rows: three runs each.
RUNS_SAVED=$RUNS
RUNS=3
if [[ "${GIS_ONLY:-0}" != 1 && "${QUALITY_ONLY:-0}" != 1 && "${CAD_ONLY:-0}" != 1 ]]; then
t_batch="$(loop_median_seconds batch_draw)"
t_batch1="$(loop_median_seconds batch_draw --jobs 1)"
t_loop="$(loop_median_seconds loop_draw)"
t_unzip="$(loop_median_seconds unzip_all)"
RUNS=$RUNS_SAVED
peak2="$(peak_mib "$PROGRAM" --out-dir "$WORK/batch_out" --jobs 2 "$muni")"
printf '%-52s %10s %8s\n' case "median s" ratio
printf '%-52s %10.3f %8s\n' "--out-dir, all cores ($(nproc))" "$t_batch" "1.00"
printf '%-52s %10.3f %8s\n' "--out-dir --jobs 1" "$t_batch1" "$(ratio "$t_batch1" "$t_batch")"
printf '%-52s %10.3f %8s\n' "shell loop of the single-map command" "$t_loop" "$(ratio "$t_loop" "$t_batch")"
printf '%-52s %10.3f %8s\n' "unzip -p of every inner zip" "$t_unzip" "$(ratio "$t_unzip" "$t_batch")"
echo "(wanted: the loop at least 5x the batch; the batch at most 1.5x unzip -p, i.e. ratio >= 0.67)"
echo "peak RSS of --out-dir --jobs 2 on the whole archive: $peak2 MiB (wanted: under 100)"
fi

if [[ "${QUALITY_ONLY:-0}" != 1 && "${CAD_ONLY:-0}" != 1 ]]; then
echo
echo "== GIS output"
RUNS=3
gis_all() { "$PROGRAM" --gis "$WORK/muni.$1" "$muni"; }
real="$ROOT/tests/data/13113-0110-44.xml"
t_draw="$(loop_median_seconds batch_draw)"
declare -A T_GIS T_REAL_GIS
for format in geojson gpkg fgb parquet; do
    RUNS=3
    T_GIS[$format]="$(loop_median_seconds gis_all "$format")"
    RUNS=$RUNS_SAVED
    rm -f "$WORK/real.$format"
    T_REAL_GIS[$format]="$(median_seconds "$PROGRAM" --gis "$WORK/real.$format" "$real")"
done
t_real_draw="$(median_seconds "$PROGRAM" "$real" "$WORK/real.svg")"
peak_gis="$(peak_mib "$PROGRAM" --gis "$WORK/muni.geojson" --jobs 2 "$muni")"
printf '%-52s %10s %8s\n' case "median s" ratio
printf '%-52s %10.3f %8s\n' "archive drawn with --out-dir, all cores" "$t_draw" "1.00"
for format in geojson gpkg fgb parquet; do
    printf '%-52s %10.3f %8s\n' "archive to .$format with --gis, all cores" "${T_GIS[$format]}" \
        "$(ratio "${T_GIS[$format]}" "$t_draw")"
done
printf '%-52s %10.4f %8s\n' "13113-0110-44.xml drawn (single map)" "$t_real_draw" "1.00"
for format in geojson gpkg fgb parquet; do
    printf '%-52s %10.4f %8s\n' "13113-0110-44.xml to .$format" "${T_REAL_GIS[$format]}" \
        "$(ratio "${T_REAL_GIS[$format]}" "$t_real_draw")"
done
echo "(wanted: the archive to each format within 2x of drawing it)"
echo "the archive as .geojson $(($(stat -c %s "$WORK/muni.geojson") / 1000000)) MB, .gpkg $(($(stat -c %s "$WORK/muni.gpkg") / 1000000)) MB, .fgb $(($(stat -c %s "$WORK/muni.fgb") / 1000000)) MB; peak RSS of --gis --jobs 2: $peak_gis MiB (wanted: under 100)"
fi

if [[ "${BATCH_ONLY:-0}" != 1 && "${GIS_ONLY:-0}" != 1 && "${CAD_ONLY:-0}" != 1 ]]; then
echo
echo "== Quality report and release diff"
RUNS=3
t_draw="$(loop_median_seconds batch_draw)"
python3 "$ROOT/bench/edit_release.py" "$parts" 300 "$WORK/muni2.zip"
check_all() { "$PROGRAM" --check "$WORK/check.csv" "$muni"; }
diff_all() { "$PROGRAM" --diff "$WORK/diff.csv" "$muni" "$WORK/muni2.zip"; }
t_check="$(loop_median_seconds check_all)"
t_diff="$(loop_median_seconds diff_all)"
RUNS=$RUNS_SAVED
peak_check="$(peak_mib "$PROGRAM" --check "$WORK/check.csv" --jobs 2 "$muni")"
peak_diff="$(peak_mib "$PROGRAM" --diff "$WORK/diff.csv" --jobs 2 "$muni" "$WORK/muni2.zip")"
printf '%-52s %10s %8s\n' case "median s" ratio
printf '%-52s %10.3f %8s\n' "archive drawn with --out-dir, all cores" "$t_draw" "1.00"
printf '%-52s %10.3f %8s\n' "--check of the archive" "$t_check" "$(ratio "$t_check" "$t_draw")"
printf '%-52s %10.3f %8s\n' "--diff of the archive and its next release" "$t_diff" "$(ratio "$t_diff" "$t_draw")"
echo "(wanted: --check within 1.5x of drawing the archive, --diff within 2.5x)"
echo "findings: $(($(wc -l <"$WORK/check.csv") - 1)); changed parcels: $(($(wc -l <"$WORK/diff.csv") - 1)); peak RSS of --check --jobs 2: $peak_check MiB, of --diff --jobs 2: $peak_diff MiB"
fi

if [[ "${BATCH_ONLY:-0}" != 1 && "${GIS_ONLY:-0}" != 1 && "${QUALITY_ONLY:-0}" != 1 ]]; then
echo
echo "== CAD and survey output"
RUNS=3
t_draw="$(loop_median_seconds batch_draw)"
declare -A T_CAD
for format in dxf sim; do T_CAD[$format]="$(loop_median_seconds batch_draw --format "$format")"; done
printf '%-52s %10s %8s\n' case "median s" ratio
printf '%-52s %10.3f %8s\n' "archive drawn with --out-dir, all cores" "$t_draw" "1.00"
for format in dxf sim; do
    printf '%-52s %10.3f %8s\n' "archive to .$format with --out-dir, all cores" "${T_CAD[$format]}" \
        "$(ratio "${T_CAD[$format]}" "$t_draw")"
done
echo "(wanted: the archive to each format within 1.5x of drawing it)"
RUNS=$RUNS_SAVED
fi
fi  # REAL_ONLY

# ---- Real density ------------------------------------------------------------------------------------
if [[ "${BATCH_ONLY:-0}" != 1 && "${GIS_ONLY:-0}" != 1 && "${QUALITY_ONLY:-0}" != 1 && "${CAD_ONLY:-0}" != 1 ]]; then
echo
REAL_COPIES="${REAL_COPIES:-150}"
real_parts="$WORK/real_parts"
rm -rf "$real_parts" && mkdir -p "$real_parts"
for ((k = 1; k <= REAL_COPIES; ++k)); do
    for f in "$ROOT"/tests/data/*.xml; do
        name="$(basename "$f" .xml)-r$k"
        cp "$f" "$real_parts/$name.xml"
        (cd "$real_parts" && zip -q -X "$name.zip" "$name.xml" && rm "$name.xml")
    done
done
real_muni="$WORK/99999-0000.zip"
(cd "$real_parts" && zip -q -X -0 "$real_muni" ./*.zip)
rm -rf "$real_parts"
parcels="$("$PROGRAM" --gis "$WORK/count.geojson" "$real_muni" 2>&1 | sed -n 's/^Wrote \([0-9]*\) parcels.*/\1/p')"
rm -f "$WORK/count.geojson"
echo "== Real-density archive: $((REAL_COPIES * $(ls "$ROOT"/tests/data/*.xml | wc -l))) map files, $parcels parcels, $(($(stat -c %s "$real_muni") / 1000000)) MB zipped"
# CPU seconds (user + system) of one run of one output: "draw" or a GIS format.
real_cpu_seconds() {
    if [[ $1 == draw ]]; then
        /usr/bin/time -f '%U %S' -o "$WORK/cpu.txt" "$PROGRAM" --out-dir "$WORK/real_out" "$real_muni" \
            >/dev/null 2>&1 </dev/null
    else
        /usr/bin/time -f '%U %S' -o "$WORK/cpu.txt" "$PROGRAM" --gis "$WORK/real.$1" "$real_muni" \
            >/dev/null 2>&1 </dev/null
        rm -f "$WORK/real.$1"
    fi
    awk '{ printf "%.3f\n", $1 + $2 }' "$WORK/cpu.txt"
}
# The runs of the outputs take turns, round after round, so that the load of a shared machine weighs
# on each alike; the median of REAL_RUNS (default 3) rounds.
REAL_RUNS="${REAL_RUNS:-3}"
REAL_OUTPUTS=(draw geojson gpkg fgb parquet)
declare -A REAL_TIMES
for ((round = 0; round < REAL_RUNS; ++round)); do
    for output in "${REAL_OUTPUTS[@]}"; do REAL_TIMES[$output]+="$(real_cpu_seconds "$output") "; done
done
rm -rf "$WORK/real_out"
real_median() { tr ' ' '\n' <<<"${REAL_TIMES[$1]}" | sed '/^$/d' | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
t_cpu_draw="$(real_median draw)"
printf '%-36s %10s %18s %8s\n' output "CPU s" "parcels/CPU-s" ratio
printf '%-36s %10.3f %18.0f %8s\n' "drawing (--out-dir)" "$t_cpu_draw" "$(awk -v p="$parcels" -v t="$t_cpu_draw" 'BEGIN { print p / t }')" "1.00"
for format in geojson gpkg fgb parquet; do
    t="$(real_median "$format")"
    printf '%-36s %10.3f %18.0f %8s\n' ".$format (--gis)" "$t" "$(awk -v p="$parcels" -v t="$t" 'BEGIN { print p / t }')" \
        "$(ratio "$t" "$t_cpu_draw")"
done
echo "(wanted: every GIS format within 1.2x of the drawing's CPU time)"
fi
