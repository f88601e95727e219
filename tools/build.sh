#!/usr/bin/env bash
# Installs what is missing, then configures and builds the release program into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh --build-only
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCHIZUVEC_TESTS=OFF >/dev/null
cmake --build build --target Chizuvec -j"$(nproc)"
