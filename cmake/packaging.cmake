# Installation and packages. `cmake --install` puts two components in place:
# `tool` (the command, its manual page and documents) and `dev` (the C++
# library: include/tarvel/tarvel.h, one static libtarvel.a, the CMake package
# and tarvel.pc), and a third, `python` (the Python module and its stubs),
# where the module is built. `cpack` in a Release build folder makes from
# them, in one run, tarvel_VERSION_ARCH.deb, libtarvel-dev_VERSION_ARCH.deb
# and python3-tarvel_VERSION_ARCH.deb on Linux, and on Windows
# tarvel-VERSION-windows-x86_64.zip with the first two.

# Debian keeps libraries in its multiarch folder (/usr/lib/x86_64-linux-gnu).
# GNUInstallDirs takes it only for a build configured for the prefix /usr and
# not cross-compiled, while the packages come from builds for the default
# prefix, and the arm64 one from a cross build. So wherever the compiler
# itself uses multiarch folders, the library goes there under any prefix:
# the compiler, pkg-config and find_package search it under /usr/local too.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_SYSTEM_NAME STREQUAL "Linux"
   AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
      CACHE PATH "Object code libraries (lib/${CMAKE_LIBRARY_ARCHITECTURE})")
endif()
include(GNUInstallDirs)

# The manual page takes the version from project(); Debian installs manual
# pages and changelogs compressed, without a time stamp in the gzip header.
configure_file(docs/tarvel.1.in ${PROJECT_BINARY_DIR}/tarvel.1 @ONLY)
configure_file(packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
find_program(TARVEL_GZIP gzip)

if(WIN32)
  # The zip holds one folder's files: tarvel.exe beside its README and its
  # manual, rendered from the manual page's source as plain text (groff, of
  # the build machine) for Windows, which reads no roff.
  find_program(TARVEL_GROFF groff REQUIRED)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/tarvel.txt
    COMMAND ${CMAKE_COMMAND} -DGROFF=${TARVEL_GROFF} -DINPUT=${PROJECT_BINARY_DIR}/tarvel.1
            -DOUTPUT=${PROJECT_BINARY_DIR}/tarvel.txt -P ${PROJECT_SOURCE_DIR}/cmake/manual_text.cmake
    DEPENDS ${PROJECT_BINARY_DIR}/tarvel.1 ${PROJECT_SOURCE_DIR}/cmake/manual_text.cmake
    VERBATIM)
  add_custom_target(tarvel_manual_text ALL DEPENDS ${PROJECT_BINARY_DIR}/tarvel.txt)
  install(TARGETS tarvel RUNTIME DESTINATION . COMPONENT tool)
  install(FILES README.md LICENSE DESTINATION . COMPONENT tool)
  install(FILES ${PROJECT_BINARY_DIR}/tarvel.1 ${PROJECT_BINARY_DIR}/tarvel.txt DESTINATION .
          COMPONENT tool)
elseif(TARVEL_GZIP)
  install(TARGETS tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  set(compressed ${PROJECT_BINARY_DIR}/packaging/tarvel.1.gz
                 ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${TARVEL_GZIP} -9 -n -c ${PROJECT_BINARY_DIR}/tarvel.1 > packaging/tarvel.1.gz
    COMMAND ${TARVEL_GZIP} -9 -n -c packaging/changelog > packaging/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/tarvel.1 ${PROJECT_BINARY_DIR}/packaging/changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    VERBATIM)
  add_custom_target(tarvel_compressed_docs ALL DEPENDS ${compressed})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/tarvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tool)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz README.md packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
  # Every Debian package has its own copyright and changelog.
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libtarvel-dev COMPONENT dev)
  if(TARGET tarvel_python)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz packaging/copyright
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-tarvel COMPONENT python)
  endif()
else()
  install(TARGETS tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  install(FILES ${PROJECT_BINARY_DIR}/tarvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT tool)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
endif()

# The library as its users link it: one archive with the objects of the
# public library and of every subsystem under it, so that -ltarvel is all
# they name. It is made for installing only; the tool and the tests link the
# subsystem libraries themselves, and linking this too would define every
# symbol twice.
add_library(tarvel_bundle STATIC)
foreach(part IN ITEMS tarvel_library tarvel_input tarvel_combine tarvel_output tarvel_numbers
                      tarvel_runtime tarvel_platform)
  # A header-only part (the number model) has no objects to bring.
  get_target_property(part_type ${part} TYPE)
  if(NOT part_type STREQUAL "INTERFACE_LIBRARY")
    target_sources(tarvel_bundle PRIVATE $<TARGET_OBJECTS:${part}>)
  endif()
endforeach()
set_target_properties(tarvel_bundle PROPERTIES
  OUTPUT_NAME tarvel
  EXPORT_NAME tarvel
  LINKER_LANGUAGE CXX
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
# What the public header needs and nothing more: the subsystems' own
# definitions and include folders were for building the objects.
target_include_directories(tarvel_bundle INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(tarvel_bundle INTERFACE cxx_std_20)
find_package(Threads REQUIRED)
target_link_libraries(tarvel_bundle INTERFACE Threads::Threads)
if(WIN32)
  # The threads wait with WaitOnAddress and WakeByAddressAll.
  target_link_libraries(tarvel_bundle INTERFACE synchronization)
endif()

set(tarvel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tarvel)
install(TARGETS tarvel_bundle EXPORT tarvelTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES include/tarvel/tarvel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvel COMPONENT dev)
install(EXPORT tarvelTargets NAMESPACE tarvel:: DESTINATION ${tarvel_cmake_dir} COMPONENT dev)
include(CMakePackageConfigHelpers)
configure_package_config_file(cmake/tarvelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/tarvelConfig.cmake INSTALL_DESTINATION ${tarvel_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/tarvelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/tarvelConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/tarvelConfigVersion.cmake
        DESTINATION ${tarvel_cmake_dir} COMPONENT dev)

# tarvel.pc finds the prefix from its own place, so the same file is right
# under any prefix, in the Debian package and in the zip. The libraries are
# those of the archive's interface above.
file(RELATIVE_PATH tarvel_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" tarvel_pc_to_prefix "${tarvel_pc_to_prefix}")
set(tarvel_pc_libs -pthread)
if(WIN32)
  list(APPEND tarvel_pc_libs -lsynchronization)
endif()
list(JOIN tarvel_pc_libs " " tarvel_pc_libs)
configure_file(packaging/tarvel.pc.in ${PROJECT_BINARY_DIR}/packaging/tarvel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/tarvel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)

set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VENDOR "The tarvel developers")
set(CPACK_PACKAGE_CONTACT "The tarvel developers <tarvel@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # One zip with both components.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarvel-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # One Debian package per component, each with its own name, section and
  # description (the first line of each is its summary).
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tarvel)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_TOOL_DESCRIPTION
      "combine recorded radio channels into the one with the best SNR
tarvel reads one text file of complex samples recorded at the same time on
several antennas or receivers (a time, then the real and imaginary part of
every channel on each line), estimates each channel's signal, its SNR and the
noise covariance between the channels, derives the optimum combining weights
and writes the combined channel, the one with the best SNR, to a new file,
with a fixed report of every step on the console. Every printed digit is the
same on every platform.")
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtarvel-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_DESCRIPTION
      "C++ library combining radio channels into the one with the best SNR
The tarvel command's computation as a C++20 static library on samples in
memory, read in place in any layout (complex floats, integer I/Q pairs): each
channel's signal, its SNR and the noise covariance between the channels, the
optimum combining weights and the combined channel, with exact sums by
default or the command's bits on request, per block or over everything,
with accumulators that merge; and the command's text files and report.
This package holds the header tarvel/tarvel.h, the static library, and the
files with which CMake's find_package(tarvel) and pkg-config find them.")
  # Its users compile the header and link the archive with the C++ library
  # of g++ 12, which built the archive.
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libstdc++-12-dev")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tarvel)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "Python module combining radio channels into the one with the best SNR
The tarvel command's computation for Python 3 on numpy arrays: each channel's
signal, its SNR and the noise covariance between the channels, the optimum
combining weights and the combined channel, with exact sums by default or
the command's bits on request. A complex64 array, a numpy.memmap of a raw
capture included, is read in place in any layout; the command's text files
and report are read, written and made as the command makes them. Calls
release the GIL and stop on Ctrl-C.")
  # The module is built for Debian's python3 3.11 and uses numpy's C API
  # through pybind11, as dh_python3 and dh_numpy3 would state it.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= 3.11), python3 (<< 3.12), python3-numpy (>= 1:1.22.0), python3-numpy-abi9")
  # tarvel.dask, imported only by those who use it, runs on Dask and its
  # distributed scheduler.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-dask, python3-distributed")
  # The package's architecture is the target's, also in a cross build.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
  # dpkg-shlibdeps reads the dependencies off the executable; a cross build
  # names the C and C++ libraries itself, as dpkg-shlibdeps would.
  if(CMAKE_CROSSCOMPILING)
    set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
  else()
    set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
include(CPack)
