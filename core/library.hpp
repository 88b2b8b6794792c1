// libpostal's set-up is process-wide, but _expand and _kinhash may each be
// imported, cleared and imported again in any order.  Each module instance
// that sets the library up holds one share of it; the library is set up when
// the first share is taken and torn down when the last is given back, so no
// live instance ever calls a torn-down library.
#ifndef ADDRNORM_CORE_LIBRARY_HPP
#define ADDRNORM_CORE_LIBRARY_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace addrnorm {

// Takes the module's share, setting the library and its language classifier
// up if no instance holds one: from the directory LIBPOSTAL_DATA_DIR names
// when it is set and not empty, else from libpostal's compiled-in one.  The
// process's first successful set-up decides the directory; later set-ups
// (after a teardown) read the same one.  On failure sets TypeError "Error
// loading libpostal", as the package's LibpostalLoadError when the package is
// imported (MemoryError when the name cannot be copied) and leaves
// the module holding no share and the library as it was.
bool acquire_library(PyObject *module);

// Takes the module's share of libpostal's address parser, on top of a share
// of the library the module already holds, setting the parser up from the
// same data directory if no instance holds it.  Its model takes seconds and
// about 2 GB to load, so only the module that parses takes it.  On failure
// sets TypeError "Error loading libpostal" (LibpostalLoadError, as above) and
// leaves the parser as it was.
bool acquire_parser(PyObject *module);

// Gives the module's share back (with its share of the parser, if any), at most once; tears the library down when it
// was the last.
void release_library(PyObject *module);

// The clear hook of a module that uses the library.
int module_clear_with_library(PyObject *module);

}  // namespace addrnorm

#endif
