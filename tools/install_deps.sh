#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages. Runs apt only when something
# is missing, so repeated runs cost nothing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config          # toolchain
    clang libclang-rt-14-dev                  # the sanitizer build and the fuzzers
    clang-format                              # the format check
    libzip-dev                                # reading .zip map files
    libsqlite3-dev                            # writing GeoPackage
    libflatbuffers-dev flatbuffers-compiler   # writing FlatGeobuf
    libzstd-dev                               # writing GeoParquet
    libxlsxwriter-dev                         # writing workbooks (--csv OUT.xlsx)
    libfreetype-dev libfontconfig-dev         # measuring the source line
    libcairo2-dev                             # PDF output (cairo is loaded when the first PDF is written)
    libexpat1-dev libpng-dev libbrotli-dev zlib1g-dev  # their static archives, linked in
    libgtest-dev googletest                   # unit and end-to-end tests
    libbenchmark-dev                          # micro-benchmarks
    fonts-ipaexfont-gothic                    # a Japanese font for measuring and rendering
    librsvg2-bin libxml2-utils                # the tests render and validate drawings
    poppler-utils                             # the tests read the PDF back
    chromium                                  # the tests open the .htm page in a browser
    proj-bin gdal-bin                         # the tests check coordinates with PROJ and GIS outputs with GDAL
    python3-shapely                           # GEOS, the oracle of the quality report's geometry checks
    python3-ezdxf                             # the tests audit the DXF outputs with ezdxf
    python3-openpyxl                          # the tests read the workbooks back with openpyxl
    librecad                                  # the README's picture of the DXF (tools/render_sample.sh)
    zip unzip time hyperfine                  # benchmarks
)
# The oracle tests read GeoParquet back with npm packages (tests/oracles): Debian's npm where none is.
command -v npm >/dev/null || packages+=(nodejs npm)
if [ "${1:-}" = "--build-only" ]; then
    packages=(build-essential cmake pkg-config libzip-dev libsqlite3-dev libflatbuffers-dev flatbuffers-compiler libzstd-dev
              libxlsxwriter-dev
              libfreetype-dev libfontconfig-dev libcairo2-dev
              libexpat1-dev libpng-dev libbrotli-dev zlib1g-dev fonts-ipaexfont-gothic)
fi
# The Windows cross-build (tools/build_windows.sh).
if [ "${1:-}" = "--windows" ]; then
    packages=(
        g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64  # the cross compiler
        libz-mingw-w64-dev                     # zlib for libzip
        wine wine64                            # running the tests
        googletest                             # its sources, cross-built
        cmake ninja-build pkg-config dpkg-dev  # building; dpkg-dev unpacks the libzip, sqlite3, libzstd and libxlsxwriter source packages
        gcc make tcl                           # generating SQLite's amalgamation on the host
        libflatbuffers-dev flatbuffers-compiler  # the FlatGeobuf tables (headers only)
        locales fonts-ipaexfont-gothic         # the Japanese locale and a Japanese font for Wine
        zip                                    # the download
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
