# Builds libpostal's library from its source inside addrnorm's build and
# defines addrnorm::libpostal on it, so that installing addrnorm needs a C
# compiler and nothing of libpostal's autotools.
#
# The source is ADDRNORM_LIBPOSTAL_SOURCE: an archive of libpostal's source,
# an unpacked source directory, or, when empty, upstream's repository at the
# pinned release, fetched with git.  Upstream's tree carries its generated
# lexer, so nothing here needs re2c.
#
# Only the library is built, from the sources that upstream's src/Makefile.am
# lists for it, with upstream's flags: the library at -O2, the lexer (a 5 MB
# generated file) at -O0, as upstream does, because the optimiser takes far
# too long over it.  The compiled-in data directory stays upstream's default.

set(ADDRNORM_LIBPOSTAL_REPOSITORY "https://github.com/openvenues/libpostal.git")
set(ADDRNORM_LIBPOSTAL_COMMIT "4c030d8ff2fcf59c26510f68823c28a2346034d4")  # release v1.1.3
set(ADDRNORM_LIBPOSTAL_DATA_DIR "/usr/local/share/libpostal")

enable_language(C)

function(libpostal_source_error reason)
  message(FATAL_ERROR
    "libpostal's source could not be had: ${reason}\n"
    "Set ADDRNORM_LIBPOSTAL_SOURCE to libpostal's source, as an archive (.tar.gz) or an unpacked "
    "directory, for example: pip install . "
    "--config-settings=cmake.define.ADDRNORM_LIBPOSTAL_SOURCE=/path/to/libpostal-1.1.3.tar.gz "
    "(or the environment variable ADDRNORM_LIBPOSTAL_SOURCE); or install libpostal and build with "
    "ADDRNORM_LIBPOSTAL=system.")
endfunction()

# Unpacks an archive once per content into the build tree; the source root is
# the archive's one top folder, as in upstream's release archives.
function(libpostal_unpack archive out_root)
  file(SHA256 ${archive} digest)
  set(unpacked ${CMAKE_BINARY_DIR}/libpostal-src/${digest})
  if(NOT EXISTS ${unpacked}/.complete)
    file(REMOVE_RECURSE ${unpacked})
    file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${unpacked}/tree)
    file(TOUCH ${unpacked}/.complete)
  endif()
  file(GLOB top LIST_DIRECTORIES true ${unpacked}/tree/*)
  list(LENGTH top count)
  if(count EQUAL 1 AND IS_DIRECTORY "${top}")
    set(${out_root} ${top} PARENT_SCOPE)
  else()
    set(${out_root} ${unpacked}/tree PARENT_SCOPE)
  endif()
endfunction()

# Fetches the pinned commit alone, shallowly, once per build tree.
function(libpostal_fetch out_root)
  set(checkout ${CMAKE_BINARY_DIR}/libpostal-src/git-${ADDRNORM_LIBPOSTAL_COMMIT})
  if(NOT EXISTS ${checkout}/.complete)
    find_package(Git QUIET)
    if(NOT GIT_FOUND)
      libpostal_source_error("ADDRNORM_LIBPOSTAL_SOURCE is empty, so upstream's repository is to be fetched, but git was not found.")
    endif()
    file(REMOVE_RECURSE ${checkout})
    message(STATUS "libpostal: fetching ${ADDRNORM_LIBPOSTAL_REPOSITORY} at ${ADDRNORM_LIBPOSTAL_COMMIT}")
    foreach(step "init;-q;${checkout}"
                 "-C;${checkout};fetch;-q;--depth;1;${ADDRNORM_LIBPOSTAL_REPOSITORY};${ADDRNORM_LIBPOSTAL_COMMIT}"
                 "-C;${checkout};checkout;-q;FETCH_HEAD")
      execute_process(COMMAND ${GIT_EXECUTABLE} ${step} RESULT_VARIABLE failed ERROR_VARIABLE said TIMEOUT 900)
      if(failed)
        file(REMOVE_RECURSE ${checkout})
        libpostal_source_error("fetching ${ADDRNORM_LIBPOSTAL_REPOSITORY} at ${ADDRNORM_LIBPOSTAL_COMMIT} failed: ${failed} ${said}")
      endif()
    endforeach()
    file(TOUCH ${checkout}/.complete)
  endif()
  set(${out_root} ${checkout} PARENT_SCOPE)
endfunction()

# The source files of a libtool library, as src/Makefile.am lists them.
function(libpostal_makefile_sources makefile variable out_list)
  file(STRINGS ${makefile} lines REGEX "^${variable}[ \t]*=")
  if(NOT lines)
    libpostal_source_error("${makefile} lists no ${variable}: this is not libpostal's source.")
  endif()
  string(REGEX REPLACE "^${variable}[ \t]*=[ \t]*" "" files "${lines}")
  string(REGEX REPLACE "[ \t]+" ";" files "${files}")
  list(TRANSFORM files PREPEND ${LIBPOSTAL_SOURCE_ROOT}/src/)
  set(${out_list} ${files} PARENT_SCOPE)
endfunction()

if(ADDRNORM_LIBPOSTAL_SOURCE STREQUAL "")
  libpostal_fetch(LIBPOSTAL_SOURCE_ROOT)
else()
  get_filename_component(given "${ADDRNORM_LIBPOSTAL_SOURCE}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  if(IS_DIRECTORY "${given}")
    set(LIBPOSTAL_SOURCE_ROOT ${given})
  elseif(EXISTS "${given}")
    libpostal_unpack(${given} LIBPOSTAL_SOURCE_ROOT)
  else()
    libpostal_source_error("ADDRNORM_LIBPOSTAL_SOURCE is ${ADDRNORM_LIBPOSTAL_SOURCE}, which does not exist.")
  endif()
endif()
foreach(needed src/libpostal.h src/Makefile.am src/scanner.c)
  if(NOT EXISTS ${LIBPOSTAL_SOURCE_ROOT}/${needed})
    libpostal_source_error("${LIBPOSTAL_SOURCE_ROOT} holds no ${needed}: not libpostal's source with its generated lexer.")
  endif()
endforeach()

libpostal_makefile_sources(${LIBPOSTAL_SOURCE_ROOT}/src/Makefile.am libpostal_la_SOURCES library_sources)
libpostal_makefile_sources(${LIBPOSTAL_SOURCE_ROOT}/src/Makefile.am libscanner_la_SOURCES scanner_sources)

# The public header where the modules look for it, apart from src/: src/
# holds a features.h that would shadow the C library's.
configure_file(${LIBPOSTAL_SOURCE_ROOT}/src/libpostal.h ${CMAKE_BINARY_DIR}/libpostal-include/libpostal/libpostal.h COPYONLY)

# What upstream's configure finds on any glibc system, and its SSE2 routines
# where the processor has them.
set(libpostal_definitions
  LIBPOSTAL_EXPORTS "LIBPOSTAL_DATA_DIR=\"${ADDRNORM_LIBPOSTAL_DATA_DIR}\""
  HAVE_STRNDUP HAVE_DRAND48 HAVE_DIRENT_H HAVE_SYS_TIME_H)
set(libpostal_options -w)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
  list(APPEND libpostal_definitions USE_SSE)
  list(APPEND libpostal_options -msse2 -mfpmath=sse)
endif()

add_library(libpostal_scanner OBJECT ${scanner_sources})
add_library(libpostal_bundled SHARED ${library_sources} $<TARGET_OBJECTS:libpostal_scanner>)
foreach(target libpostal_scanner libpostal_bundled)
  target_compile_definitions(${target} PRIVATE ${libpostal_definitions})
  # -iquote: the sources' own headers, without src/ shadowing system headers.
  target_compile_options(${target} PRIVATE ${libpostal_options} -iquote ${LIBPOSTAL_SOURCE_ROOT}/src)
endforeach()
# Appended after the build type's flags, so they win as upstream's do.
target_compile_options(libpostal_scanner PRIVATE -O0)
target_compile_options(libpostal_bundled PRIVATE -O2)
target_link_libraries(libpostal_bundled PRIVATE m)
target_include_directories(libpostal_bundled INTERFACE ${CMAKE_BINARY_DIR}/libpostal-include)
set_target_properties(libpostal_bundled PROPERTIES
  OUTPUT_NAME postal
  SOVERSION 1
  C_VISIBILITY_PRESET hidden
  LIBRARY_OUTPUT_DIRECTORY ${ADDRNORM_PACKAGE_DIR})
add_library(addrnorm::libpostal ALIAS libpostal_bundled)

# One file, libpostal.so.1, beside the modules: a wheel keeps no symlinks.
install(TARGETS libpostal_bundled LIBRARY DESTINATION addrnorm NAMELINK_SKIP)
