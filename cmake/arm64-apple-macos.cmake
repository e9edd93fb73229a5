# Cross build for macOS on Apple silicon, from Linux, with Debian's clang-19 and lld-19 (lld's
# Mach-O linker, ld64.lld) against a macOS SDK folder: usr/include with Apple's libc++ headers in
# usr/include/c++/v1, and usr/lib/*.tbd to link against. The binaries cannot run here; the build
# shows that everything compiles and links for macOS. scripts/macos-cross-check.sh uses it:
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/arm64-apple-macos.cmake \
#         -DKORVANE_MACOS_SDK=/path/to/sdk -DCMAKE_OSX_DEPLOYMENT_TARGET=11.0 \
#         -DKORVANE_GTEST_SOURCE_DIR=/usr/src/googletest
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)

if(NOT KORVANE_MACOS_SDK)
  set(KORVANE_MACOS_SDK "$ENV{KORVANE_MACOS_SDK}")
endif()
if(NOT IS_DIRECTORY "${KORVANE_MACOS_SDK}/usr/include/c++/v1")
  message(FATAL_ERROR "KORVANE_MACOS_SDK (${KORVANE_MACOS_SDK}) is no macOS SDK folder with usr/include/c++/v1")
endif()
# The checks' test projects read this file again and need the folder too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVANE_MACOS_SDK)

set(CMAKE_OSX_SYSROOT "${KORVANE_MACOS_SDK}")
set(CMAKE_OSX_ARCHITECTURES arm64 CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET 11.0 CACHE STRING "The oldest macOS the binaries run on")

# No version in the triple: -mmacosx-version-min, from the deployment target, gives it.
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET arm64-apple-darwin)
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-darwin)
# The SDK's own libc++ headers, with Apple's availability markup; without this clang would take
# the host's LLVM libc++ headers, which have none, and miss what an older macOS lacks.
set(CMAKE_CXX_FLAGS_INIT "-stdlib++-isystem ${KORVANE_MACOS_SDK}/usr/include/c++/v1")
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
find_program(CMAKE_AR NAMES llvm-ar-19 llvm-ar-14 llvm-ar REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-19 llvm-ranlib-14 llvm-ranlib REQUIRED)

# Headers and libraries come from the SDK only, and nlohmann-json (header-only) from a folder of
# links into the host's /usr, so that the host's other headers stay out of the build.
get_filename_component(korvane_json_root "${CMAKE_CURRENT_LIST_DIR}/../build-host-json" ABSOLUTE)
if(NOT EXISTS "${korvane_json_root}/usr/include/nlohmann")
  file(MAKE_DIRECTORY "${korvane_json_root}/usr/include" "${korvane_json_root}/usr/share/cmake")
  file(CREATE_LINK /usr/include/nlohmann "${korvane_json_root}/usr/include/nlohmann" SYMBOLIC)
  file(CREATE_LINK /usr/share/cmake/nlohmann_json "${korvane_json_root}/usr/share/cmake/nlohmann_json" SYMBOLIC)
endif()
set(CMAKE_FIND_ROOT_PATH "${KORVANE_MACOS_SDK}" "${korvane_json_root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
