#!/usr/bin/env bash
# Renders the README's pictures: the sample map drawn by the built program, one parcel highlighted,
# turned into a PNG by rsvg-convert; and the same selection as DXF, printed by LibreCAD to a PDF
# and turned into a PNG by pdftoppm.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
./build/Chizuvec samples/sample.xml "$tmp/sample.svg" all 101-3 稲毛二丁目201-2
rsvg-convert -w 1000 -b white "$tmp/sample.svg" -o docs/sample.png
echo "docs/sample.png written"
./build/Chizuvec samples/sample.xml "$tmp/sample.dxf" all 101-3 稲毛二丁目201-2
# LibreCAD 2.2 writes NAME.pdf beside the input (its -o and -p take no value); 1.6 mm per metre
# fits the sample on A4, centred.
(cd "$tmp" && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$tmp" librecad dxf2pdf -c -s 1.6 sample.dxf >/dev/null 2>&1)
pdftoppm -r 96 -x 30 -y 200 -W 740 -H 720 -png -singlefile "$tmp/sample.pdf" docs/sample-librecad
echo "docs/sample-librecad.png written"
