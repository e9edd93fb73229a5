# GoogleTest for the test suites. With KORVANE_GTEST_SOURCE_DIR (say /usr/src/googletest) it is
# built from those sources with the project's compiler and flags, which a libc++ or a cross build
# needs; otherwise the installed package is used. Without either the suites are left out.
if(KORVANE_GTEST_SOURCE_DIR)
  set(BUILD_GMOCK OFF)
  set(INSTALL_GTEST OFF)
  add_subdirectory("${KORVANE_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  foreach(library gtest gtest_main)
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
else()
  find_package(GTest QUIET)
endif()

if(NOT TARGET GTest::gtest OR NOT TARGET GTest::gtest_main)
  message(NOTICE "GoogleTest was not found, so the test suites are not built (install GoogleTest, "
                 "or point KORVANE_GTEST_SOURCE_DIR at its sources; -DKORVANE_BUILD_TESTS=OFF skips them quietly)")
endif()
