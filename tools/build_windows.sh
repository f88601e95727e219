#!/usr/bin/env bash
# Cross-builds the Windows program with MinGW-w64 and runs the whole test suite under Wine.
#   tools/build_windows.sh         installs what is missing, builds into build-win/, checks the
#                                  program's DLL imports and runs the suite under Wine
#   tools/build_windows.sh --dist  the same, then packs dist/Chizuvec-VERSION-win64.zip
# Debian has no MinGW libzip, SQLite, zstd, libxlsxwriter or GoogleTest: all are cross-built from Debian's own sources into
# build-win/deps/ once and reused, as is the Wine prefix in build-win/wine/. Nothing it fetches or
# builds lands outside build-win/ and dist/, except the apt packages, a deb-src entry and the
# ja_JP.UTF-8 locale.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

dist=0
case "${1:-}" in
    "") ;;
    --dist) dist=1 ;;
    *) echo "usage: tools/build_windows.sh [--dist]" >&2; exit 2 ;;
esac

out=$root/build-win
deps=$out/deps
prefix=$deps/prefix
build=$out/build
toolchain=$root/tools/windows/mingw64.cmake
jobs=2

# Wine without a display, without the Mono and Gecko install dialogs, quiet.
export WINEPREFIX=$out/wine
# shellcheck source=windows/wine_session.sh
source "$root/tools/windows/wine_session.sh"
export DEBIAN_FRONTEND=noninteractive
# The cross-built libraries only: the host's .pc files describe Linux libraries.
export CHIZUVEC_WIN_PREFIX=$prefix PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
unset PKG_CONFIG_PATH

timings=()
step_name=""
step_start=0
begin() {
    step_name=$1
    step_start=$(date +%s)
    echo "== $step_name"
}
finish() { timings+=("$(printf '%-28s %5ds' "$step_name" $(($(date +%s) - step_start)))"); }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# ---- Packages ---------------------------------------------------------------------------------
begin "packages"
bash tools/install_deps.sh --windows
# Wine takes its code page from the Unix locale: ja_JP.UTF-8 gives code page 932.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; then
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
finish

# ---- libzip, from Debian's source package -------------------------------------------------------
# A deb-src entry for each deb entry of the system's sources, as none exists by default.
add_deb_src() {
    if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    local f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        grep -q '^Types: deb$' "$f" || continue
        sed 's/^Types: deb$/Types: deb-src/' "$f" | $SUDO tee "/etc/apt/sources.list.d/chizuvec-src-$(basename "$f")" >/dev/null
    done
    if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee /etc/apt/sources.list.d/chizuvec-src.list >/dev/null
    fi
    $SUDO apt-get update -q
}

begin "libzip"
if [ ! -f "$prefix/lib/libzip.a" ] || [ ! -f "$prefix/lib/pkgconfig/libzip.pc" ]; then
    add_deb_src
    rm -rf "$deps/src" "$deps/libzip-build"
    mkdir -p "$deps/src"
    (cd "$deps/src" && apt-get source -q libzip)
    libzip_src=$(find "$deps/src" -maxdepth 1 -mindepth 1 -type d -name 'libzip-*' | head -n 1)
    [ -n "$libzip_src" ] || { echo "no libzip source unpacked in $deps/src" >&2; exit 1; }
    cmake -S "$libzip_src" -B "$deps/libzip-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
        -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_GNUTLS=OFF \
        -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_COMMONCRYPTO=OFF \
        -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF >/dev/null
    cmake --build "$deps/libzip-build" -j"$jobs" >/dev/null
    cmake --install "$deps/libzip-build" >/dev/null
    # CMake's imported target ignores Libs.private, and a static libzip needs them. zlib comes as
    # the archive beside libzip, so the -lz that follows -lzip finds libz.a rather than the import
    # library of zlib1.dll, which Windows does not ship.
    sed -i 's|^Libs: .*|Libs: -L${libdir} -lzip -lbcrypt -ladvapi32 -lz|' "$prefix/lib/pkgconfig/libzip.pc"
    cp /usr/x86_64-w64-mingw32/lib/libz.a "$prefix/lib/libz.a"
else
    echo "reusing $prefix/lib/libzip.a"
fi
finish

# ---- SQLite, from Debian's source package ------------------------------------------------------------
# The source tree's own build generates the amalgamation (one sqlite3.c) on the host; that one file
# is cross-compiled with the R-tree module the GeoPackage index needs.
begin "sqlite"
if [ ! -f "$prefix/lib/libsqlite3.a" ] || [ ! -f "$prefix/lib/pkgconfig/sqlite3.pc" ]; then
    add_deb_src
    rm -rf "$deps/sqlite-src" "$deps/sqlite-build"
    mkdir -p "$deps/sqlite-src" "$deps/sqlite-build" "$prefix/include" "$prefix/lib/pkgconfig"
    (cd "$deps/sqlite-src" && apt-get source -q sqlite3)
    sqlite_src=$(find "$deps/sqlite-src" -maxdepth 1 -mindepth 1 -type d -name 'sqlite3-*' | head -n 1)
    [ -n "$sqlite_src" ] || { echo "no sqlite3 source unpacked in $deps/sqlite-src" >&2; exit 1; }
    (cd "$deps/sqlite-build" && "$sqlite_src/configure" --disable-tcl >/dev/null && make -j"$jobs" sqlite3.c >/dev/null)
    x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_ENABLE_RTREE=1 -DSQLITE_OMIT_LOAD_EXTENSION=1 \
        -c "$deps/sqlite-build/sqlite3.c" -o "$deps/sqlite-build/sqlite3.o"
    rm -f "$prefix/lib/libsqlite3.a"
    x86_64-w64-mingw32-gcc-ar-posix rcs "$prefix/lib/libsqlite3.a" "$deps/sqlite-build/sqlite3.o"
    cp "$deps/sqlite-build/sqlite3.h" "$deps/sqlite-build/sqlite3ext.h" "$prefix/include/"
    version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$prefix/include/sqlite3.h")
    printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\n\nName: SQLite\nDescription: SQL database engine\nVersion: %s\nLibs: -L${libdir} -lsqlite3\nCflags: -I${includedir}\n' \
        "$prefix" "$version" >"$prefix/lib/pkgconfig/sqlite3.pc"
else
    echo "reusing $prefix/lib/libsqlite3.a"
fi
finish

# ---- zstd, from Debian's source package ----------------------------------------------------------------
# The library's own Makefile builds the static archive with the cross compiler; the assembly
# decoder is for System V targets only.
begin "zstd"
if [ ! -f "$prefix/lib/libzstd.a" ] || [ ! -f "$prefix/lib/pkgconfig/libzstd.pc" ]; then
    add_deb_src
    rm -rf "$deps/zstd-src"
    mkdir -p "$deps/zstd-src" "$prefix/include" "$prefix/lib/pkgconfig"
    # The host's release where its source can be had (the same release writes the same bytes),
    # else the next one the archive lists: a security update's source may be missing from a mirror.
    host_version=$(dpkg-query -W -f='${Version}' libzstd-dev 2>/dev/null || true)
    fetched=0
    for v in $host_version $(apt-cache showsrc libzstd | sed -n 's/^Version: //p'); do
        if (cd "$deps/zstd-src" && apt-get source -q "libzstd=$v"); then
            fetched=1
            break
        fi
    done
    [ "$fetched" = 1 ] || { echo "no libzstd source package could be fetched" >&2; exit 1; }
    zstd_src=$(find "$deps/zstd-src" -maxdepth 1 -mindepth 1 -type d -name 'libzstd-*' | head -n 1)
    [ -n "$zstd_src" ] || { echo "no libzstd source unpacked in $deps/zstd-src" >&2; exit 1; }
    make -C "$zstd_src/lib" -j"$jobs" libzstd.a CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-gcc-ar-posix \
        CPPFLAGS=-DZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0 >/dev/null
    cp "$zstd_src/lib/libzstd.a" "$prefix/lib/"
    cp "$zstd_src/lib/zstd.h" "$zstd_src/lib/zstd_errors.h" "$zstd_src/lib/zdict.h" "$prefix/include/"
    version=$(sed -n 's/^#define ZSTD_VERSION_\(MAJOR\|MINOR\|RELEASE\) *\([0-9]*\).*/\2/p' "$prefix/include/zstd.h" | paste -sd.)
    printf 'prefix=%s\nlibdir=${prefix}/lib\nincludedir=${prefix}/include\n\nName: zstd\nDescription: fast lossless compression algorithm library\nVersion: %s\nLibs: -L${libdir} -lzstd\nCflags: -I${includedir}\n' \
        "$prefix" "$version" >"$prefix/lib/pkgconfig/libzstd.pc"
else
    echo "reusing $prefix/lib/libzstd.a"
fi
finish

# ---- libxlsxwriter, from Debian's source package ----------------------------------------------------
# Its bundled minizip and tmpfileplus and its own MD5 (no OpenSSL): nothing beyond the zlib above.
# A static archive, so the program imports no new DLL.
begin "libxlsxwriter"
if [ ! -f "$prefix/lib/libxlsxwriter.a" ] || [ ! -f "$prefix/lib/pkgconfig/xlsxwriter.pc" ]; then
    add_deb_src
    rm -rf "$deps/xlsxwriter-src" "$deps/xlsxwriter-build"
    mkdir -p "$deps/xlsxwriter-src"
    (cd "$deps/xlsxwriter-src" && apt-get source -q libxlsxwriter)
    xlsx_src=$(find "$deps/xlsxwriter-src" -maxdepth 1 -mindepth 1 -type d -name 'libxlsxwriter-*' | head -n 1)
    [ -n "$xlsx_src" ] || { echo "no libxlsxwriter source unpacked in $deps/xlsxwriter-src" >&2; exit 1; }
    cmake -S "$xlsx_src" -B "$deps/xlsxwriter-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=OFF \
        -DUSE_SYSTEM_MINIZIP=OFF -DUSE_STANDARD_TMPFILE=OFF -DUSE_OPENSSL_MD5=OFF -DUSE_NO_MD5=OFF \
        -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF >/dev/null
    cmake --build "$deps/xlsxwriter-build" -j"$jobs" >/dev/null
    cmake --install "$deps/xlsxwriter-build" >/dev/null
    # As for libzip: zlib is the archive beside it.
    sed -i 's|^Libs: .*|Libs: -L${libdir} -lxlsxwriter -lz|' "$prefix/lib/pkgconfig/xlsxwriter.pc"
else
    echo "reusing $prefix/lib/libxlsxwriter.a"
fi
finish

begin "flatbuffers headers"
# FlatBuffers is headers only: the host's copy serves the cross build too.
rm -rf "$prefix/include/flatbuffers"
mkdir -p "$prefix/include"
cp -r /usr/include/flatbuffers "$prefix/include/flatbuffers"
finish

# ---- GoogleTest -------------------------------------------------------------------------------------
begin "googletest"
if [ ! -f "$prefix/lib/libgtest.a" ] || [ ! -d "$prefix/lib/cmake/GTest" ]; then
    rm -rf "$deps/gtest-build"
    cmake -S /usr/src/googletest -B "$deps/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON >/dev/null
    cmake --build "$deps/gtest-build" -j"$jobs" >/dev/null
    cmake --install "$deps/gtest-build" >/dev/null
else
    echo "reusing $prefix/lib/libgtest.a"
fi
finish

# ---- Wine ---------------------------------------------------------------------------------------
# The server, the prefix's services and the desktop start here with every output sent to
# /dev/null: the ones a test would start otherwise keep ctest's pipe open, and ctest waits for them.
begin "wine prefix"
trap stop_wine_session EXIT
start_wine_session
finish

# ---- The program and its tests -------------------------------------------------------------------------
begin "configure and build"
emulator="env;-u;DISPLAY;LC_ALL=ja_JP.UTF-8;WINEPREFIX=$WINEPREFIX;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;wine"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCHIZUVEC_WIN_PREFIX="$prefix" "-DCMAKE_CROSSCOMPILING_EMULATOR=$emulator" >/dev/null
cmake --build "$build" -j"$jobs"
finish

# A bare Windows has these system DLLs; anything else (zlib1.dll, libstdc++-6.dll,
# libwinpthread-1.dll, ...) would have to ship beside the program.
begin "import check"
allowed=" advapi32.dll bcrypt.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll "
imports=$(x86_64-w64-mingw32-objdump -p "$build/Chizuvec.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no imports read from Chizuvec.exe" >&2; exit 1; }
bad=0
for dll in $imports; do
    case "$allowed" in
        *" $dll "*) ;;
        *) echo "Chizuvec.exe imports $dll, which Windows does not ship" >&2; bad=1 ;;
    esac
done
[ "$bad" = 0 ] || exit 1
echo "Chizuvec.exe imports only:" $imports
finish

begin "test suite under Wine"
suite_log=$out/wine_suite.log
suite_rc=0
timeout 1800 ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 300 2>&1 | tee "$suite_log" || suite_rc=$?
if [ "$suite_rc" != 0 ]; then
    # Now and then Wine does not start a test's program, which then fails in a few hundredths of a
    # second, before a program of ours could print anything (the quickest of ours take 0.08 s).
    # Those, and only when they are all the failures, run once more; any other failure stands.
    failures=$(grep -cE '\*\*\*(Failed|Timeout|Exception)' "$suite_log" || true)
    unstarted=$(grep -cE '\*\*\*Failed +0\.0[0-5] sec$' "$suite_log" || true)
    if [ "$failures" -gt 0 ] && [ "$failures" = "$unstarted" ]; then
        echo "== $unstarted test(s) that Wine did not start, run once more"
        ctest --test-dir "$build" --rerun-failed --output-on-failure --timeout 300
    else
        exit "$suite_rc"
    fi
fi
finish

# ---- The download ---------------------------------------------------------------------------------
if [ "$dist" = 1 ]; then
    begin "dist"
    version=$(sed -n 's/^project(Chizuvec VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    stage=$out/dist/Chizuvec-$version-win64
    zipfile=$root/dist/Chizuvec-$version-win64.zip
    rm -rf "$stage" "$zipfile"
    mkdir -p "$stage" "$root/dist"
    x86_64-w64-mingw32-strip -o "$stage/Chizuvec.exe" "$build/Chizuvec.exe"
    # Text files with CR LF line ends, as Notepad expects.
    to_crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }
    to_crlf Chizuvec.ini "$stage/Chizuvec.ini"
    to_crlf README.md "$stage/README.md"
    to_crlf LICENSE "$stage/LICENSE.txt"
    # The same sources give the same bytes: times from the last commit, entries in a fixed order.
    stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
    touch -d "@$stamp" "$stage"/*
    (cd "$stage" && TZ=UTC zip -X -q "$zipfile" Chizuvec.exe Chizuvec.ini README.md LICENSE.txt)
    echo "wrote $zipfile"
    finish
fi

echo "== times"
printf '%s\n' "${timings[@]}"
