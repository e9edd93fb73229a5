# What the system offers beyond portable POSIX, found by compiling (and linking) small tests with
# the project's compiler, flags, sysroot and macOS deployment target, and written into
# generated/platform/features.h for the platform layer (src/platform/) alone. Each value is 0 or
# 1; with 0 the platform layer takes its portable way.
#
# KORVANE_PORTABLE_ONLY turns every one of them off, as on a system with only the portable calls
# (fcntl for close-on-exec and non-blocking, no MSG_NOSIGNAL, no floating-point to_chars, ...):
# the test command builds and tests that way, so the ways other systems take run on every change.
include(CheckCXXSourceCompiles)
include(CheckCXXSymbolExists)

option(KORVANE_PORTABLE_ONLY "Use no optional system feature, only portable POSIX calls (tests the fallbacks)" OFF)
# The byte scanners' SSE2 and NEON paths (src/common/byte_vector.h) left out, so that their
# word-at-a-time paths run alone: the portable stage of the test command builds so.
option(KORVANE_NO_BYTE_VECTOR "Leave out the byte scanners' vector paths (tests the word-at-a-time ones)"
       ${KORVANE_PORTABLE_ONLY})

# A check's result is cached; it is asked again when what it was compiled with changes.
set(korvane_feature_context "${CMAKE_CXX_COMPILER}|${CMAKE_CXX_FLAGS}|${CMAKE_EXE_LINKER_FLAGS}|${CMAKE_OSX_SYSROOT}|${CMAKE_OSX_DEPLOYMENT_TARGET}|${CMAKE_OSX_ARCHITECTURES}")
if(NOT korvane_feature_context STREQUAL KORVANE_FEATURES_CHECKED_WITH)
  get_property(korvane_cached DIRECTORY PROPERTY CACHE_VARIABLES)
  list(FILTER korvane_cached INCLUDE REGEX "^KORVANE_FOUND_")
  foreach(variable IN LISTS korvane_cached)
    unset(${variable} CACHE)
  endforeach()
  set(KORVANE_FEATURES_CHECKED_WITH "${korvane_feature_context}" CACHE INTERNAL "")
endif()

set(korvane_features "")
set(korvane_missing "")
set(korvane_quiet_before "${CMAKE_REQUIRED_QUIET}")
set(CMAKE_REQUIRED_QUIET ON)

# Sets KORVANE_HAVE_<name> to 1 when the variable named `found` is true and features are used.
macro(korvane_feature name found)
  if(${found} AND NOT KORVANE_PORTABLE_ONLY)
    set(KORVANE_HAVE_${name} 1)
    list(APPEND korvane_features ${name})
  else()
    set(KORVANE_HAVE_${name} 0)
    list(APPEND korvane_missing ${name})
  endif()
endmacro()

# `symbol` is a macro, or a name that links, declared by the headers.
macro(korvane_symbol name symbol headers)
  if(NOT KORVANE_PORTABLE_ONLY)
    check_cxx_symbol_exists(${symbol} "${headers}" KORVANE_FOUND_${name})
  endif()
  korvane_feature(${name} KORVANE_FOUND_${name})
endmacro()

# The program compiles and links.
macro(korvane_source name source)
  if(NOT KORVANE_PORTABLE_ONLY)
    check_cxx_source_compiles("${source}" KORVANE_FOUND_${name})
  endif()
  korvane_feature(${name} KORVANE_FOUND_${name})
endmacro()

# Descriptors made close-on-exec (and non-blocking) in the call that makes them.
korvane_symbol(PIPE2 pipe2 "unistd.h;fcntl.h")
korvane_symbol(ACCEPT4 accept4 "sys/socket.h")
korvane_symbol(SOCK_CLOEXEC SOCK_CLOEXEC "sys/socket.h")
korvane_symbol(SOCK_NONBLOCK SOCK_NONBLOCK "sys/socket.h")
# Sends that do not raise SIGPIPE: per send, or per socket.
korvane_symbol(MSG_NOSIGNAL MSG_NOSIGNAL "sys/socket.h")
korvane_symbol(SO_NOSIGPIPE SO_NOSIGPIPE "sys/socket.h")
# Waiting for a pipe's reader to go away: kqueue's EVFILT_WRITE reports it (poll does not, on macOS).
korvane_symbol(KQUEUE EVFILT_WRITE "sys/types.h;sys/event.h")
# Memory: allocator tuning and trimming, huge pages.
korvane_symbol(MALLOPT_MMAP_THRESHOLD M_MMAP_THRESHOLD "malloc.h")
korvane_symbol(MALLOC_TRIM malloc_trim "malloc.h")
korvane_symbol(MALLOC_ZONE_PRESSURE_RELIEF malloc_zone_pressure_relief "malloc/malloc.h")
korvane_symbol(MADV_HUGEPAGE MADV_HUGEPAGE "sys/mman.h")
# The system's names: the processor's (sysctl) and the per-user temporary directory (confstr).
korvane_symbol(SYSCTLBYNAME sysctlbyname "sys/types.h;sys/sysctl.h")
korvane_symbol(CS_DARWIN_USER_TEMP_DIR _CS_DARWIN_USER_TEMP_DIR "unistd.h")
# The program's own file: dyld's call where there is one, else the /proc/self/exe link.
korvane_symbol(NS_GET_EXECUTABLE_PATH _NSGetExecutablePath "mach-o/dyld.h")
# Floating-point std::to_chars and std::from_chars, usable at the deployment target (Apple's
# libc++ marks them unavailable before macOS 13.3; libc++ 19 has no from_chars for double).
korvane_source(TO_CHARS_DOUBLE "
#include <charconv>
int main() {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, 0.1, std::chars_format::scientific);
  return result.ec == std::errc() ? 0 : 1;
}")
korvane_source(FROM_CHARS_DOUBLE "
#include <charconv>
int main() {
  const char text[] = \"0.1\";
  double value = 0;
  const auto result = std::from_chars(text, text + 3, value);
  return result.ec == std::errc() && value > 0 ? 0 : 1;
}")

# The UTF-8 check of long texts thirty-two bytes at a time, where the compiler builds AVX2 code for
# one function and tells at run time whether the CPU has it (x86-64); left out with the byte
# scanners' vector paths.
if(NOT KORVANE_NO_BYTE_VECTOR)
  korvane_source(AVX2_UTF8 "
#include <immintrin.h>
__attribute__((target(\"avx2\"))) static int high_bits(const char* at) {
  return _mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)));
}
int main() {
  const char text[32] = {};
  return __builtin_cpu_supports(\"avx2\") ? high_bits(text) : 0;
}")
else()
  korvane_feature(AVX2_UTF8 FALSE)
endif()

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/src/platform/features.h.in
               ${CMAKE_CURRENT_BINARY_DIR}/generated/platform/features.h @ONLY)

set(CMAKE_REQUIRED_QUIET "${korvane_quiet_before}")
list(JOIN korvane_features ", " korvane_found)
list(JOIN korvane_missing ", " korvane_not_found)
if(KORVANE_PORTABLE_ONLY)
  message(STATUS "Platform features: none used (KORVANE_PORTABLE_ONLY), portable POSIX calls only")
else()
  message(STATUS "Platform features used: ${korvane_found}")
  message(STATUS "Platform features not found (portable calls instead): ${korvane_not_found}")
endif()
