#!/usr/bin/env bash
# Proves that a change of the program leaves its outputs byte-identical. The first run stores the
# listing, the statistics line and the drawings (every parcel, one sheet, with highlights; .svg and
# .htm) of generated maps (plain and zipped), the bundled sample and the shared maps in DIR/ref; every
# later run writes them again into DIR/new and compares them with cmp.
#
#   bash bench/compare_outputs.sh DIR [PROGRAM]
#
# PROGRAM defaults to build-bench/Chizuvec (Release, with chizuvec_genmap beside it); SIZES (default
# "10000 100000") and SEED (default 1) choose the generated maps, which are kept in DIR/maps.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DIR="${1:?usage: compare_outputs.sh DIR [PROGRAM]}"
PROGRAM="$(realpath "${2:-$ROOT/build-bench/Chizuvec}")"
GENMAP="$(dirname "$PROGRAM")/chizuvec_genmap"
read -r -a SIZES <<<"${SIZES:-10000 100000}"
SEED="${SEED:-1}"
DATA="${CHIZUVEC_SHARED_DATA:-$ROOT/tests/data}"

mkdir -p "$DIR/maps"
DIR="$(realpath "$DIR")"
for n in "${SIZES[@]}"; do
    for kind in xml zip; do
        map="$DIR/maps/map$n.$kind"
        if [[ ! -f "$map" ]]; then
            flag=()
            [[ $kind == zip ]] && flag=(--zip)
            "$GENMAP" --parcels "$n" --seed "$SEED" "${flag[@]}" -o "$map" >/dev/null
        fi
    done
done

inputs=("$ROOT/samples/sample.xml")
for n in "${SIZES[@]}"; do inputs+=("$DIR/maps/map$n.xml" "$DIR/maps/map$n.zip"); done
for f in "$DATA"/*.xml "$DATA"/*.zip; do [[ -f "$f" ]] && inputs+=("$f"); done

if [[ -d "$DIR/ref" ]]; then OUT="$DIR/new"; else OUT="$DIR/ref"; fi
rm -rf "$OUT"
mkdir -p "$OUT"

# Outputs are written under the same relative names in both runs, so paths inside them compare too.
cd "$OUT"
for input in "${inputs[@]}"; do
    name="$(basename "$input")"
    name="${name//./_}"
    "$PROGRAM" "$input" >"$name.listing" 2>"$name.stats"
    # The first listed parcel gives the sheet and the highlighted lot numbers (alone and with address).
    read -r sheet address chiban < <(awk '$1 ~ /^[0-9]+$/ && NF == 7 { print $4, $5, $6; exit }' "$name.listing") || true
    second="$(awk '$1 ~ /^[0-9]+$/ && NF == 7 { if (++k == 3) { print $6; exit } }' "$name.listing")"
    # The success line carries the elapsed time; it is masked.
    mask() { sed -E 's/\([0-9.]+s\)$/(TIME)/'; }
    "$PROGRAM" "$input" "$name.all.svg" 2>&1 | mask >"$name.all.out"
    "$PROGRAM" "$input" "$name.sheet.svg" "${sheet:-0}" 2>&1 | mask >"$name.sheet.out"
    "$PROGRAM" "$input" "$name.hilite.htm" all "${chiban:-x}" "${address:-}${second:-}" 2>&1 | mask >"$name.hilite.out"
    "$PROGRAM" "$input" "$name.sheet-hilite.htm" "${sheet:-0}" "${chiban:-x}" 2>&1 | mask >"$name.sheet-hilite.out"
done

if [[ "$OUT" == "$DIR/ref" ]]; then
    echo "reference outputs stored in $OUT ($(ls | wc -l) files)"
    exit 0
fi
status=0
for f in "$DIR/ref"/*; do
    if ! cmp "$f" "$OUT/$(basename "$f")"; then status=1; fi
done
if [[ $(ls "$DIR/ref" | wc -l) != $(ls "$OUT" | wc -l) ]]; then
    echo "different sets of output files" >&2
    status=1
fi
[[ $status == 0 ]] && echo "all $(ls "$OUT" | wc -l) outputs identical to $DIR/ref"
exit $status
