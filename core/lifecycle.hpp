// What every module shares of its life: the state record, module creation
// with the module's exception class, the traverse and clear hooks, and the
// registration of integer constants.  Needs only the interpreter.
#ifndef ADDRNORM_CORE_LIFECYCLE_HPP
#define ADDRNORM_CORE_LIFECYCLE_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

// The init function is a module's one export.  Before 3.9 the interpreter's
// PyMODINIT_FUNC leaves its visibility to the build's default, which is hidden.
#if defined(__GNUC__) && PY_VERSION_HEX < 0x03090000
#define ADDRNORM_MODULE_INIT extern "C" __attribute__((visibility("default"))) PyObject *
#else
#define ADDRNORM_MODULE_INIT PyMODINIT_FUNC
#endif

namespace addrnorm {

struct ModuleState {
    // The module's exception class; held here only, never in the namespace.
    PyObject *error;
    // This instance's share of libpostal (see library.hpp), or null when it
    // holds none: _wordclass, a failed import, or an instance already cleared.
    PyObject *library_share;
    // Whether the share above includes one of the address parser (_parser
    // only): the parser is torn down when its last holder lets go.
    bool holds_parser;
};

ModuleState *module_state(PyObject *module);

// Creates the module object from its definition and its exception class.
// Returns a new reference, or null with the interpreter's exception set and
// nothing left behind.
PyObject *create_module(PyModuleDef *definition, const char *error_name);

int module_traverse(PyObject *module, visitproc visit, void *arg);
// Frees what the state holds when the interpreter frees a module it never
// cleared (single-phase modules at interpreter exit): the exception class
// and, for the library modules, their share of libpostal.  A cleared module
// holds nothing, so this does nothing for it.
void module_free(void *module);
// Drops the exception class; calls no library function.
int module_clear(PyObject *module);

struct IntConstant {
    const char *name;
    unsigned long long value;
};

// Adds every row in order, going on past a row that fails.  Returns false
// when an interpreter exception is pending afterwards, so that the import can
// fail with it instead of returning a module with an error set.
bool add_int_constants(PyObject *module, const IntConstant *table, size_t count);

template <size_t N>
bool add_int_constants(PyObject *module, const IntConstant (&table)[N]) {
    return add_int_constants(module, table, N);
}

}  // namespace addrnorm

#endif
