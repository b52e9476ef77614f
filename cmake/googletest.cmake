# GoogleTest for the test suites: the installed package where there is one
# (Debian's libgtest-dev and libgmock-dev), otherwise built here from the
# sources Debian's googletest package keeps under /usr/src/googletest, which
# is also how cross builds get it for their target. Nothing is downloaded.
set(TARVEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest
    CACHE PATH "GoogleTest sources to build when no installed GoogleTest is found")

# A cross build cannot link the build machine's installed libraries.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest QUIET)
endif()
if(TARGET GTest::gtest AND TARGET GTest::gmock AND TARGET GTest::gtest_main)
  message(STATUS "GoogleTest: the installed package")
elseif(EXISTS ${TARVEL_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(STATUS "GoogleTest: built from ${TARVEL_GOOGLETEST_SOURCE_DIR}")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${TARVEL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Not this project's code, and g++ 12 warns falsely in it (-Wrestrict).
  foreach(library gtest gtest_main gmock gmock_main)
    target_compile_options(${library} PRIVATE -w)
  endforeach()
else()
  message(FATAL_ERROR
    "The tests need GoogleTest, and neither an installed GoogleTest nor its sources in "
    "${TARVEL_GOOGLETEST_SOURCE_DIR} were found. Install Debian's googletest package "
    "(apt-get install googletest) or libgtest-dev and libgmock-dev, or configure with "
    "-DTARVEL_TESTS=OFF to build the tool alone.")
endif()
