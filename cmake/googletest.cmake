# GoogleTest for the test suites. With KORVANE_GTEST_SOURCE_DIR (say /usr/src/googletest) it is
# built from those sources with the project's compiler and flags, which a libc++ or a cross build
# needs; otherwise the installed package is used. Without either the suites are left out.
if(KORVANE_GTEST_SOURCE_DIR)
  set(gtest_root "${KORVANE_GTEST_SOURCE_DIR}/googletest")
  if(NOT EXISTS "${gtest_root}/src/gtest-all.cc")
    message(FATAL_ERROR "KORVANE_GTEST_SOURCE_DIR: no googletest/src/gtest-all.cc under ${KORVANE_GTEST_SOURCE_DIR}")
  endif()
  find_package(Threads REQUIRED)
  # gtest-all.cc includes every other source, so one file builds the library.
  add_library(korvane_gtest STATIC EXCLUDE_FROM_ALL "${gtest_root}/src/gtest-all.cc")
  target_include_directories(korvane_gtest SYSTEM PUBLIC "${gtest_root}/include" PRIVATE "${gtest_root}")
  target_link_libraries(korvane_gtest PUBLIC Threads::Threads)
  add_library(korvane_gtest_main STATIC EXCLUDE_FROM_ALL "${gtest_root}/src/gtest_main.cc")
  target_link_libraries(korvane_gtest_main PUBLIC korvane_gtest)
  add_library(GTest::gtest ALIAS korvane_gtest)
  add_library(GTest::gtest_main ALIAS korvane_gtest_main)
else()
  find_package(GTest QUIET)
endif()

if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gtest_main)
  message(NOTICE "GoogleTest was not found, so the test suites are not built (install GoogleTest, "
                 "or point KORVANE_GTEST_SOURCE_DIR at its sources; -DKORVANE_BUILD_TESTS=OFF skips them quietly)")
endif()
