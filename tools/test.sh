#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   tools/test.sh             release build with the default compiler, in build-test
#   tools/test.sh --sanitize  the same suite built by clang with AddressSanitizer, UndefinedBehavior-
#                             Sanitizer and the leak checker, in build-asan; any report fails it
#   tools/test.sh --libzip-linked  libzip linked at build time instead of loaded on the first archive
#                             read, in build-linked; runs the tests that read archives
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh
if [ "${1:-}" = "--sanitize" ]; then
    # A sanitizer report gives its own exit code, so an end-to-end test that expects the program's
    # exit code 1 cannot mistake one for an ordinary error; suppression counts would add lines to the
    # standard error the tests compare.
    export ASAN_OPTIONS=detect_leaks=1:exitcode=86
    export LSAN_OPTIONS=print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DCHIZUVEC_SANITIZE=ON >/dev/null
    cmake --build build-asan -j"$(nproc)"
    ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
    exit 0
fi
if [ "${1:-}" = "--libzip-linked" ]; then
    cmake -S . -B build-linked -DCMAKE_BUILD_TYPE=Release -DCHIZUVEC_LIBZIP_ON_DEMAND=OFF -DCHIZUVEC_TOOLS=OFF >/dev/null
    cmake --build build-linked --target Chizuvec test_zip test_cli -j"$(nproc)"
    ctest --test-dir build-linked --output-on-failure -j"$(nproc)" -R '^(Zip|CliZip|CliLibzip|CliHostile|CliFiles)'
    exit 0
fi
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-test -j"$(nproc)"
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
