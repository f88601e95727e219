#!/usr/bin/env bash
# Renders the README's picture: the sample map drawn by the built program, one parcel highlighted,
# turned into a PNG by rsvg-convert.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
./build/Chizuvec samples/sample.xml "$tmp/sample.svg" all 101-3 稲毛二丁目201-2
rsvg-convert -w 1000 -b white "$tmp/sample.svg" -o docs/sample.png
echo "docs/sample.png written"
