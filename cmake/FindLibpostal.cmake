# Finds an installed libpostal, through pkg-config first, then under
# LIBPOSTAL_PREFIX.  Sets Libpostal_FOUND, Libpostal_FOUND_BY (what found it)
# and Libpostal_LIBRARY_DIRS, and defines addrnorm::libpostal when found.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND AND NOT LIBPOSTAL_PREFIX)
  pkg_check_modules(LIBPOSTAL QUIET IMPORTED_TARGET libpostal)
endif()

if(TARGET PkgConfig::LIBPOSTAL)
  add_library(addrnorm::libpostal ALIAS PkgConfig::LIBPOSTAL)
  set(Libpostal_FOUND TRUE)
  set(Libpostal_FOUND_BY "pkg-config (libpostal ${LIBPOSTAL_VERSION} in ${LIBPOSTAL_LIBDIR})")
  set(Libpostal_LIBRARY_DIRS ${LIBPOSTAL_LIBRARY_DIRS})
  return()
endif()

find_path(LIBPOSTAL_INCLUDE_DIR libpostal/libpostal.h HINTS ${LIBPOSTAL_PREFIX}/include)
find_library(LIBPOSTAL_LIBRARY NAMES postal HINTS ${LIBPOSTAL_PREFIX}/lib ${LIBPOSTAL_PREFIX}/lib64)
if(LIBPOSTAL_INCLUDE_DIR AND LIBPOSTAL_LIBRARY)
  add_library(addrnorm::libpostal UNKNOWN IMPORTED)
  set_target_properties(addrnorm::libpostal PROPERTIES
    IMPORTED_LOCATION ${LIBPOSTAL_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${LIBPOSTAL_INCLUDE_DIR})
  set(Libpostal_FOUND TRUE)
  set(Libpostal_FOUND_BY "its files (${LIBPOSTAL_LIBRARY})")
  get_filename_component(Libpostal_LIBRARY_DIRS ${LIBPOSTAL_LIBRARY} DIRECTORY)
else()
  set(Libpostal_FOUND FALSE)
endif()
