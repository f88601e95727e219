#!/usr/bin/env bash
# Runs the Linux build and the Windows build (under Wine, Japanese locale) of the program on the
# same inputs and compares what they give:
#   - drawings (.svg and .htm) byte for byte;
#   - the listing, after turning the Windows one from CP932 with CR LF into UTF-8 with LF;
#   - messages and exit codes (the elapsed time of the success line aside), and the files left in
#     the folder (a drawing replacing an older one, a drawing refused because it is the input);
#   - the scale bar's place for source lines of every length from 1 to 40 characters, which is where
#     GDI's measurement of the source line meets FreeType's. Japanese text must give the same
#     drawing at every length. Latin text may not: GDI rounds each glyph's advance to whole pixels
#     and FreeType does not, so the bar may be lifted up to 2 characters (about 8 %) apart; the
#     drawings must then agree in everything but the scale bar.
# The Windows drawings are also checked with xmllint here, as Wine cannot run host tools.
# Needs build-win/build/Chizuvec.exe from tools/build_windows.sh; builds the Linux program with
# tools/build.sh. Real map files are used from tests/data.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

win_exe=$root/build-win/build/Chizuvec.exe
[ -f "$win_exe" ] || { echo "no $win_exe: run tools/build_windows.sh first" >&2; exit 1; }
bash tools/build.sh >/dev/null
cmake --build build --target chizuvec_genmap -j2 >/dev/null
linux_exe=$root/build/Chizuvec
genmap=$root/build/chizuvec_genmap

export WINEPREFIX=$root/build-win/wine
# shellcheck source=windows/wine_session.sh
source "$root/tools/windows/wine_session.sh"
[ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "no Wine prefix: run tools/build_windows.sh first" >&2; exit 1; }
work=$(mktemp -d "$root/build-win/diff.XXXXXX")
cleanup() {
    stop_wine_session
    rm -rf "$work"
}
trap cleanup EXIT
start_wine_session

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
    failed=$((failed + 1))
    echo "FAIL: $*"
}
have_xmllint=0
command -v xmllint >/dev/null && have_xmllint=1

# A directory with the program, its settings and the input, as a user has it.
prepare() { # dir exe ini input
    mkdir -p "$1"
    cp "$2" "$1/"
    cp "$3" "$1/Chizuvec.ini"
    [ -z "$4" ] || cp "$4" "$1/"
}

# Console text of the Windows build as the Linux build writes it.
unix_text() { iconv -f CP932 -t UTF-8 "$1" | sed 's/\r$//'; }
# The elapsed time is the one part of a message that may differ.
no_time() { sed 's/([0-9.]*s)$/(TIME)/; s/ in [0-9.]* s$/ in TIME s/'; }

# What of a drawing must agree when the scale bar may sit elsewhere.
without_scale_bar() { grep -v -e 'stroke-width="4"' -e '>100 m<' "$1"; }

# Runs both builds with the same arguments; the drawing, when there is one, is `output`.
# With compare=drawing_but_bar, everything but the scale bar's two lines is compared.
compare=bytes
setup="" # a command run in both folders before the programs
compare_run() { # label ini input output args...
    local label=$1 ini=$2 input=$3 output=$4
    shift 4
    local l=$work/l w=$work/w
    rm -rf "$l" "$w"
    prepare "$l" "$linux_exe" "$ini" "$input"
    prepare "$w" "$win_exe" "$ini" "$input"
    if [ -n "$setup" ]; then
        (cd "$l" && eval "$setup")
        (cd "$w" && eval "$setup")
    fi
    local lrc=0 wrc=0
    (cd "$l" && LC_ALL=C.UTF-8 ./Chizuvec "$@" >stdout 2>stderr </dev/null) || lrc=$?
    (cd "$w" && LC_ALL=ja_JP.UTF-8 timeout 120 wine ./Chizuvec.exe "$@" >stdout 2>stderr </dev/null) || wrc=$?
    local ok=1
    if [ "$lrc" != "$wrc" ]; then
        fail "$label: exit code $lrc on Linux, $wrc on Windows"
        ok=0
    fi
    if ! diff <(no_time <"$l/stdout") <(unix_text "$w/stdout" | no_time) >"$work/diff.txt"; then
        fail "$label: standard output differs"
        head -n 10 "$work/diff.txt"
        ok=0
    fi
    if ! diff <(no_time <"$l/stderr") <(unix_text "$w/stderr" | no_time) >"$work/diff.txt"; then
        fail "$label: standard error differs"
        head -n 10 "$work/diff.txt"
        ok=0
    fi
    if [ -n "$output" ]; then
        if [ ! -f "$l/$output" ] || [ ! -f "$w/$output" ]; then
            fail "$label: drawing missing (Linux: $([ -f "$l/$output" ] && echo yes || echo no))"
            ok=0
        elif [ "$compare" = bytes ] && ! cmp -s "$l/$output" "$w/$output"; then
            fail "$label: drawings differ"
            cmp "$l/$output" "$w/$output" || true
            ok=0
        elif [ "$compare" != bytes ] && ! cmp -s <(without_scale_bar "$l/$output") <(without_scale_bar "$w/$output"); then
            fail "$label: drawings differ beyond the scale bar"
            ok=0
        elif [ "$have_xmllint" = 1 ] && [[ "$output" == *.svg || "$output" == *.htm ]] && ! xmllint --noout "$w/$output"; then
            fail "$label: the Windows drawing is not well-formed"
            ok=0
        fi
    fi
    # Nothing is left behind on one side that the other does not have (a temporary file, say).
    if ! diff <(cd "$l" && ls -A | grep -vx -e Chizuvec -e stdout -e stderr) \
        <(cd "$w" && ls -A | grep -vx -e Chizuvec.exe -e stdout -e stderr) >"$work/diff.txt"; then
        fail "$label: the folders hold different files"
        cat "$work/diff.txt"
        ok=0
    fi
    if [ "$ok" = 1 ]; then pass; fi
    return 0
}

ini=$root/Chizuvec.ini
inputs=("$root/samples/sample.xml")
shared=$root/tests/data
for f in "$shared"/*.xml "$shared"/*.zip; do
    [ -f "$f" ] && inputs+=("$f")
done
"$genmap" --parcels 3000 --seed 11 -o "$work/generated-3000.xml" >/dev/null
"$genmap" --parcels 800 --seed 5 --zip -o "$work/generated-800.zip" >/dev/null
inputs+=("$work/generated-3000.xml" "$work/generated-800.zip")

for input in "${inputs[@]}"; do
    name=$(basename "$input")
    compare_run "$name listing" "$ini" "$input" "" "$name"
    # The first listed parcel's map sheet and lot number, for a sheet drawing with a highlight.
    # The map number fills a fixed column after the three counts and may hold spaces; the lot
    # number is the last field but the area.
    sheet=$(awk 'NR == 3 { s = substr($0, 19, 10); sub(/ +$/, "", s); print s }' "$work/l/stdout" 2>/dev/null || true)
    lot=$(awk 'NR == 3 { print $(NF - 1) }' "$work/l/stdout" 2>/dev/null || true)
    echo "$name: sheet ${sheet:-none}, highlighted lot ${lot:-none}"
    compare_run "$name svg" "$ini" "$input" out.svg "$name" out.svg
    compare_run "$name htm" "$ini" "$input" out.htm "$name" out.htm all "${lot:-1}" 2
    if [ -n "$sheet" ]; then
        compare_run "$name sheet $sheet" "$ini" "$input" sheet.svg "$name" sheet.svg "$sheet" "${lot:-1}"
    fi
    # CAD and survey files: Shift_JIS through each system's own code-page conversion, the same bytes.
    compare_run "$name dxf" "$ini" "$input" out.dxf "$name" out.dxf all "${lot:-1}"
    compare_run "$name sima" "$ini" "$input" out.sim "$name" out.sim
    # GeoParquet: the same zstd release and level on both systems give the same bytes.
    compare_run "$name geoparquet" "$ini" "$input" out.parquet --gis out.parquet "$name"
done

# A CSV of a folder on standard output: UTF-8 with its own CR LF on both systems, byte for byte
# once the folder's separator is the same.
mkdir -p "$work/csvin"
cp "$root/samples/sample.xml" "$work/generated-3000.xml" "$work/csvin/"
(cd "$work" && LC_ALL=C.UTF-8 "$linux_exe" --csv - csvin >l.csv 2>/dev/null) || true
(cd "$work" && LC_ALL=ja_JP.UTF-8 timeout 120 wine "$win_exe" --csv - csvin >w.csv 2>/dev/null </dev/null) || true
if [ -s "$work/l.csv" ] && cmp -s "$work/l.csv" <(tr '\\' / <"$work/w.csv"); then
    pass
else
    fail "CSV on standard output differs"
    cmp "$work/l.csv" <(tr '\\' / <"$work/w.csv") || true
fi

# The workbook of the same folder: the same parts with the same bytes once unpacked (each system's
# zlib packs them), its time fixed by SOURCE_DATE_EPOCH.
(cd "$work" && SOURCE_DATE_EPOCH=1700000000 LC_ALL=C.UTF-8 "$linux_exe" --csv l.xlsx csvin 2>/dev/null) || true
(cd "$work" && SOURCE_DATE_EPOCH=1700000000 LC_ALL=ja_JP.UTF-8 timeout 120 wine "$win_exe" --csv w.xlsx csvin \
    2>/dev/null </dev/null) || true
workbook_same=0
if [ -s "$work/l.xlsx" ] && [ -s "$work/w.xlsx" ] &&
    [ "$(unzip -Z1 "$work/l.xlsx" | sort)" = "$(unzip -Z1 "$work/w.xlsx" | sort)" ]; then
    workbook_same=1
    while read -r entry; do
        # unzip takes a name as a pattern: [Content_Types].xml needs its brackets escaped.
        pattern=$(printf '%s' "$entry" | sed 's/[][]/\\&/g')
        [ -n "$(unzip -p "$work/l.xlsx" "$pattern" | head -c 1)" ] &&
            cmp -s <(unzip -p "$work/l.xlsx" "$pattern") <(unzip -p "$work/w.xlsx" "$pattern") || {
            echo "workbook part $entry differs"
            workbook_same=0
        }
    done < <(unzip -Z1 "$work/l.xlsx")
fi
# libxlsxwriter's temporary files (tmp.XXXXXXXX) go when closed, on Windows too.
if [ "$workbook_same" = 1 ] && ! ls -A "$work" | grep -q '^tmp\.'; then
    pass
else
    fail "workbook differs, or the run left files behind"
    ls -A "$work"
fi

# A drawing replaces an older one; one that would overwrite its input is refused.
sample=$root/samples/sample.xml
setup="printf 'old drawing\n' >out.svg"
compare_run "sample over an existing drawing" "$ini" "$sample" out.svg sample.xml out.svg
setup="ln sample.xml same.svg"
compare_run "sample onto itself through a hard link" "$ini" "$sample" same.svg sample.xml same.svg
setup=""

# The source line at every length from 1 to 40 characters: the scale bar is lifted above it once
# it no longer fits beside it, and both builds must decide that at the same length.
japanese="出典：「登記所備付地図データ」（法務省）を加工して作成した地番参考図です。二〇二六年十二月版"
latin="Source: Ministry of Justice, registry office maps, edited."
# The sample's bar (50 m, 872 units) sits at y 1846 on the bottom line and at 1750 when lifted; a
# source line of 64 px meets it within 40 characters.
bar_lifted() { grep -q 'M40,1750v' "$1"; }
for alphabet in japanese latin; do
    text=${!alphabet}
    compare=bytes
    [ "$alphabet" = latin ] && compare=drawing_but_bar
    flip_linux="" flip_windows=""
    for length in $(seq 1 40); do
        part=${text:0:$length}
        sed -e "s|^svg_text_source=.*|svg_text_source=$part|" -e "s|^svg_font_size_source=.*|svg_font_size_source=64|" \
            "$ini" >"$work/lift.ini"
        compare_run "source line $alphabet $length" "$work/lift.ini" "$root/samples/sample.xml" out.svg sample.xml out.svg
        if [ -z "$flip_linux" ] && bar_lifted "$work/l/out.svg"; then flip_linux=$length; fi
        if [ -z "$flip_windows" ] && bar_lifted "$work/w/out.svg"; then flip_windows=$length; fi
    done
    echo "scale bar lifted from $alphabet source lines of ${flip_linux:-none} characters on Linux," \
        "${flip_windows:-none} on Windows"
    if [ -z "$flip_linux" ] || [ -z "$flip_windows" ]; then
        fail "$alphabet source lines: the bar was never lifted"
    elif [ "$alphabet" = japanese ] && [ "$flip_linux" != "$flip_windows" ]; then
        fail "japanese source lines: the bar is lifted at different lengths"
    elif [ $((flip_linux - flip_windows)) -gt 2 ] || [ $((flip_windows - flip_linux)) -gt 2 ]; then
        fail "$alphabet source lines: the bar is lifted more than 2 characters apart"
    else
        pass
    fi
done
compare=bytes

echo "differential: $passed passed, $failed failed"
[ "$failed" = 0 ]
