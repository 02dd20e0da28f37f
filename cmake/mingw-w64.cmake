# CMake toolchain file: cross-compiles for 64-bit Windows with mingw-w64
# (x86_64-w64-mingw32) and runs the results through wine.
#
#   prefix=$(scripts/windows-deps.sh | tail -n 1)
#   cmake -S . -B <dir> -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DVANTA_WINDOWS_PREFIX="$prefix"
#
# VANTA_WINDOWS_PREFIX (cache or environment variable) is the prefix that
# scripts/windows-deps.sh fills with static OpenSSL, libcurl and GoogleTest
# built for this target.
#
# What a build using this file must know:
# - The compilers are the posix thread model ones (*-posix): the win32 model
#   has no std::thread, std::mutex or std::condition_variable.
# - Every executable and DLL links with -static: libgcc, libstdc++ and
#   winpthread are copied into it, so wine (or Windows) needs no MinGW
#   runtime DLL beside it. A DLL built this way has its own copy of the C++
#   runtime and heap: memory, C++ objects and exceptions must not cross its
#   boundary.
# - libcurl is a static library: whoever includes <curl/curl.h> defines
#   CURL_STATICLIB, and links -lcurl -lssl -lcrypto -lws2_32 -lcrypt32
#   -lbcrypt (and -liphlpapi for GetAdaptersInfo). libcurl.pc in the prefix
#   lists the same libraries.
# - libcurl has no CA bundle of its own on Windows: HTTPS verification needs
#   CURLOPT_CAINFO or CURLSSLOPT_NATIVE_CA.
# - Libraries, headers and CMake packages are searched only in the prefix and
#   in the MinGW sysroot (Windows import libraries such as ws2_32); programs
#   come from the host. pkg-config sees only the prefix's .pc files.
# - CMAKE_CROSSCOMPILING_EMULATOR is wine64 with WINEDEBUG=-all, so add_test
#   and gtest_discover_tests run the programs under wine. Wine loads a DLL
#   from the program's own directory or from WINEPATH. Its first start
#   creates the wine prefix (~/.wine or WINEPREFIX) and takes several
#   seconds; gtest_discover_tests with DISCOVERY_MODE PRE_TEST keeps that
#   out of the build.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VANTA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VANTA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTA_MINGW_TRIPLE}-windres)
# The "-posix" suffix hides the binutils prefix from CMake's own guess.
find_program(CMAKE_AR ${VANTA_MINGW_TRIPLE}-ar REQUIRED)
find_program(CMAKE_RANLIB ${VANTA_MINGW_TRIPLE}-ranlib REQUIRED)

if(NOT VANTA_WINDOWS_PREFIX AND DEFINED ENV{VANTA_WINDOWS_PREFIX})
  set(VANTA_WINDOWS_PREFIX "$ENV{VANTA_WINDOWS_PREFIX}")
endif()
if(NOT VANTA_WINDOWS_PREFIX OR NOT IS_DIRECTORY "${VANTA_WINDOWS_PREFIX}")
  message(FATAL_ERROR
    "VANTA_WINDOWS_PREFIX ('${VANTA_WINDOWS_PREFIX}') is not a directory. "
    "Build the Windows dependencies with scripts/windows-deps.sh and pass "
    "the path it prints last as -DVANTA_WINDOWS_PREFIX=<path>.")
endif()
set(VANTA_WINDOWS_PREFIX "${VANTA_WINDOWS_PREFIX}" CACHE PATH
    "Prefix holding OpenSSL, libcurl and GoogleTest built for Windows")
# try_compile projects read this file again: hand the prefix down to them.
set(ENV{VANTA_WINDOWS_PREFIX} "${VANTA_WINDOWS_PREFIX}")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANTA_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH "${VANTA_WINDOWS_PREFIX}" /usr/${VANTA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Keep the host's .pc files (Linux libcurl, OpenSSL) away from FindPkgConfig.
set(ENV{PKG_CONFIG_LIBDIR} "${VANTA_WINDOWS_PREFIX}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # Debian's wine64 keeps its launcher out of PATH.
  find_program(VANTA_WINE64 wine64 PATHS /usr/lib/wine /usr/lib64/wine)
  if(VANTA_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_COMMAND} -E env WINEDEBUG=-all ${VANTA_WINE64})
  endif()
endif()
