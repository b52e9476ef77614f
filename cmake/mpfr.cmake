# MPFR (Debian libmpfr-dev), the correctly rounded reference that the tests
# and checks of the extended arithmetic compare with; never a dependency of
# the tool. Found through pkg-config, which a cross toolchain points at the
# target's libraries; defines tarvel::mpfr where found.
if(NOT TARGET tarvel::mpfr)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(TARVEL_MPFR QUIET IMPORTED_TARGET GLOBAL mpfr)
  endif()
  if(TARVEL_MPFR_FOUND)
    add_library(tarvel::mpfr ALIAS PkgConfig::TARVEL_MPFR)
  else()
    message(STATUS "tarvel: MPFR not found (Debian libmpfr-dev): the arithmetic tests and "
                   "checks compare with the hardware only, where there is one")
  endif()
endif()
