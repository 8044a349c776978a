# Cross-building vornak.exe for 64-bit Windows with Debian's MinGW-w64.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=tools/windows/mingw-w64.cmake \
#         -DVORNAK_DEPS_PREFIX=<prefix made by tools/windows/deps.sh>
#
# The -posix compilers: only their thread model has std::thread and std::mutex.
# Everything links statically, so the program imports only system DLLs. The
# generators and tests run under Wine, in a Wine prefix inside the build folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

# The dependency prefix reaches try_compile projects too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORNAK_DEPS_PREFIX VORNAK_WINE_PREFIX)
if(NOT VORNAK_DEPS_PREFIX)
    set(VORNAK_DEPS_PREFIX ${CMAKE_BINARY_DIR}/deps/prefix)
endif()
if(NOT VORNAK_WINE_PREFIX)
    set(VORNAK_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} ${VORNAK_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# zlib as a static archive: libz.dll.a would make the program import zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "zlib, static")

# pkg-config looks only at the dependency prefix.
set(ENV{PKG_CONFIG_LIBDIR} ${VORNAK_DEPS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs what the build makes: quietly, without a display, in its own prefix,
# without offering to install Mono or Gecko.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${VORNAK_WINE_PREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    DISPLAY= wine)
