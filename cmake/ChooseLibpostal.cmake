# Chooses the libpostal the modules link, by ADDRNORM_LIBPOSTAL, and defines
# addrnorm::libpostal and ADDRNORM_LIBPOSTAL_RPATH (the run path an installed
# module needs to find it).  Says in the configure output which was chosen and
# why.
set(choices auto system bundled)
if(NOT ADDRNORM_LIBPOSTAL IN_LIST choices)
  message(FATAL_ERROR "ADDRNORM_LIBPOSTAL is ${ADDRNORM_LIBPOSTAL}; it must be one of: auto, system, bundled.")
endif()

if(NOT ADDRNORM_LIBPOSTAL STREQUAL "bundled")
  find_package(Libpostal)
endif()

if(ADDRNORM_LIBPOSTAL STREQUAL "system" AND NOT Libpostal_FOUND)
  message(FATAL_ERROR
    "libpostal was not found.\n"
    "addrnorm needs libpostal (its header libpostal/libpostal.h and library libpostal) installed: "
    "build it from its sources and install it (make install), then either make sure pkg-config "
    "finds libpostal.pc (set PKG_CONFIG_PATH to the folder holding it) or set LIBPOSTAL_PREFIX to "
    "its install prefix, for example: pip install . -Ccmake.define.LIBPOSTAL_PREFIX=/usr/local. "
    "Or build addrnorm with its own libpostal: -Ccmake.define.ADDRNORM_LIBPOSTAL=bundled")
endif()

if(Libpostal_FOUND)
  if(ADDRNORM_LIBPOSTAL STREQUAL "auto")
    message(STATUS "libpostal: system, chosen by ADDRNORM_LIBPOSTAL=auto: found by ${Libpostal_FOUND_BY}")
  else()
    message(STATUS "libpostal: system, as ADDRNORM_LIBPOSTAL=system asks: found by ${Libpostal_FOUND_BY}")
  endif()
  # An installed module must find a libpostal that lives outside the
  # loader's own search path.
  set(ADDRNORM_LIBPOSTAL_RPATH "")
  foreach(dir IN LISTS Libpostal_LIBRARY_DIRS)
    if(NOT dir IN_LIST CMAKE_C_IMPLICIT_LINK_DIRECTORIES AND NOT dir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
      list(APPEND ADDRNORM_LIBPOSTAL_RPATH ${dir})
    endif()
  endforeach()
else()
  if(ADDRNORM_LIBPOSTAL STREQUAL "auto")
    message(STATUS "libpostal: bundled, chosen by ADDRNORM_LIBPOSTAL=auto: no installed libpostal was found "
                   "(pkg-config knows no libpostal, and no libpostal/libpostal.h with its library is under "
                   "the system prefixes or LIBPOSTAL_PREFIX)")
  else()
    message(STATUS "libpostal: bundled, as ADDRNORM_LIBPOSTAL=bundled asks")
  endif()
  include(BundledLibpostal)
  if(ADDRNORM_LIBPOSTAL_SOURCE STREQUAL "")
    message(STATUS "libpostal: built from ${ADDRNORM_LIBPOSTAL_REPOSITORY} at ${ADDRNORM_LIBPOSTAL_COMMIT}")
  else()
    message(STATUS "libpostal: built from ${ADDRNORM_LIBPOSTAL_SOURCE}")
  endif()
  # The one libpostal.so.1 installed beside the modules, whatever the
  # package's install location: never a path of the build machine.
  set(ADDRNORM_LIBPOSTAL_RPATH "$ORIGIN")
endif()
