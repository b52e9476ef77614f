# Installation and packages: `cpack` in a Release build folder makes
# tarvel_VERSION_ARCH.deb on Linux and tarvel-VERSION-windows-x86_64.zip on
# Windows, from what `cmake --install` puts in place.
include(GNUInstallDirs)

# The manual page takes the version from project(); Debian installs manual
# pages and changelogs compressed, without a time stamp in the gzip header.
configure_file(docs/tarvel.1.in ${PROJECT_BINARY_DIR}/tarvel.1 @ONLY)
configure_file(packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
find_program(TARVEL_GZIP gzip)

if(WIN32)
  # The zip holds one folder's files: tarvel.exe beside its README.
  install(TARGETS tarvel RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/tarvel.1 DESTINATION .)
elseif(TARVEL_GZIP)
  install(TARGETS tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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
  install(FILES ${PROJECT_BINARY_DIR}/packaging/tarvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz README.md packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  install(TARGETS tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/tarvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VENDOR "The tarvel developers")
set(CPACK_PACKAGE_CONTACT "The tarvel developers <tarvel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "combine recorded radio channels into the one with the best SNR")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarvel-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "tarvel reads one text file of complex samples recorded at the same time on
several antennas or receivers (a time, then the real and imaginary part of
every channel on each line), estimates each channel's signal, its SNR and the
noise covariance between the channels, derives the optimum combining weights
and writes the combined channel, the one with the best SNR, to a new file,
with a fixed report of every step on the console. Every printed digit is the
same on every platform.")
  # The package's architecture is the target's, also in a cross build.
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  endif()
  # dpkg-shlibdeps reads the dependencies off the executable; a cross build
  # names the C and C++ libraries itself, as dpkg-shlibdeps would.
  if(CMAKE_CROSSCOMPILING)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
include(CPack)
