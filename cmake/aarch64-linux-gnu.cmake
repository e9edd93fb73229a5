# Cross build for 64-bit Arm Linux with Debian's GCC cross compiler (g++-aarch64-linux-gnu); the
# binaries run here under qemu-aarch64-static (qemu-user-static). Everything is linked statically,
# so the emulator needs no arm64 libraries and children started with a bare environment run too.
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
#         -DKORVANE_GTEST_SOURCE_DIR=/usr/src/googletest
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

find_program(KORVANE_QEMU_AARCH64 qemu-aarch64-static)
if(KORVANE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${KORVANE_QEMU_AARCH64}")
endif()

# Libraries and headers for the target come from the cross sysroot only. nlohmann-json is
# header-only and lives in the host's /usr: a folder holding just its headers and CMake package
# (links into /usr) is searched as well, so the host's other headers stay out of the build.
get_filename_component(korvane_json_root "${CMAKE_CURRENT_LIST_DIR}/../build-host-json" ABSOLUTE)
if(NOT EXISTS "${korvane_json_root}/usr/include/nlohmann")
  file(MAKE_DIRECTORY "${korvane_json_root}/usr/include" "${korvane_json_root}/usr/share/cmake")
  file(CREATE_LINK /usr/include/nlohmann "${korvane_json_root}/usr/include/nlohmann" SYMBOLIC)
  file(CREATE_LINK /usr/share/cmake/nlohmann_json "${korvane_json_root}/usr/share/cmake/nlohmann_json" SYMBOLIC)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu "${korvane_json_root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
