#!/usr/bin/env bash
# Installs the npm readers the oracle tests use (package-lock.json pins them) into DEST, once per
# lock file. Fails when npm is missing: the oracle tests never pass without their readers.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dest="$1"
mkdir -p "$dest"
cp "$here/package.json" "$here/package-lock.json" "$here/check_geoparquet.mjs" "$here/check_split.mjs" "$dest/"
if ! command -v npm >/dev/null; then
    echo "npm is not installed: bash tools/install_deps.sh" >&2
    exit 1
fi
stamp="$dest/node_modules/.chizuvec-lock"
if [ -f "$stamp" ] && cmp -s "$stamp" "$here/package-lock.json"; then
    exit 0
fi
(cd "$dest" && npm ci --no-audit --no-fund --loglevel=error)
cp "$here/package-lock.json" "$stamp"
