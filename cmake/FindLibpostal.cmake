# Finds the installed libpostal and defines addrnorm::libpostal: through
# pkg-config first, then under LIBPOSTAL_PREFIX.  Stops with what to do when
# neither knows it.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND AND NOT LIBPOSTAL_PREFIX)
  pkg_check_modules(LIBPOSTAL QUIET IMPORTED_TARGET libpostal)
endif()

if(TARGET PkgConfig::LIBPOSTAL)
  add_library(addrnorm::libpostal ALIAS PkgConfig::LIBPOSTAL)
  set(libpostal_library_dirs ${LIBPOSTAL_LIBRARY_DIRS})
else()
  find_path(LIBPOSTAL_INCLUDE_DIR libpostal/libpostal.h HINTS ${LIBPOSTAL_PREFIX}/include)
  find_library(LIBPOSTAL_LIBRARY NAMES postal HINTS ${LIBPOSTAL_PREFIX}/lib ${LIBPOSTAL_PREFIX}/lib64)
  if(NOT LIBPOSTAL_INCLUDE_DIR OR NOT LIBPOSTAL_LIBRARY)
    message(FATAL_ERROR
      "libpostal was not found.\n"
      "addrnorm needs libpostal (its header libpostal/libpostal.h and library libpostal) installed: "
      "build it from its sources and install it (make install), then either make sure pkg-config "
      "finds libpostal.pc (set PKG_CONFIG_PATH to the folder holding it) or set LIBPOSTAL_PREFIX to "
      "its install prefix, for example: pip install . -Ccmake.define.LIBPOSTAL_PREFIX=/usr/local")
  endif()
  add_library(addrnorm::libpostal UNKNOWN IMPORTED)
  set_target_properties(addrnorm::libpostal PROPERTIES
    IMPORTED_LOCATION ${LIBPOSTAL_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${LIBPOSTAL_INCLUDE_DIR})
  get_filename_component(libpostal_library_dirs ${LIBPOSTAL_LIBRARY} DIRECTORY)
endif()
message(STATUS "libpostal: ${LIBPOSTAL_LIBRARY}${LIBPOSTAL_LINK_LIBRARIES}")

# An installed module must find a libpostal that lives outside the loader's
# own search path.
foreach(dir IN LISTS libpostal_library_dirs)
  if(NOT dir IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
    list(APPEND CMAKE_INSTALL_RPATH ${dir})
  endif()
endforeach()
