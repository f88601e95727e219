# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads variant).
# CHIZUVEC_WIN_PREFIX names the folder the cross-built libraries are installed into.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-gcc-ranlib-posix CACHE FILEPATH "")

list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
if(DEFINED ENV{CHIZUVEC_WIN_PREFIX})
    set(CHIZUVEC_WIN_PREFIX "$ENV{CHIZUVEC_WIN_PREFIX}")
endif()
if(CHIZUVEC_WIN_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH "${CHIZUVEC_WIN_PREFIX}")
    list(APPEND CMAKE_PREFIX_PATH "${CHIZUVEC_WIN_PREFIX}")
endif()
# Host programs from the host; libraries, headers and packages only from the Windows folders.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable carries its C and C++ runtime and winpthreads: a bare Windows has none of them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)
