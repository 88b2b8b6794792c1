// The method table's view of a module function.  Every module function takes
// (self, args, kwargs) and sits in its table with METH_VARARGS |
// METH_KEYWORDS, where PyMethodDef stores it as a PyCFunction: one cast,
// through a function pointer of no type, so that no compiler warns of a cast
// between incompatible function types.
//
// A method's doc opens with its signature for the interpreter,
// "name($module, a, b=0)\n--\n\n", where every default is a literal or a
// name in the module; a function whose defaults are neither has none.  The
// modules have a docstring, except _expand, _kinhash and _wordclass, whose
// docstrings are fixed for callers as they are: none for the modules, a bare
// "name(...)" line for their functions.
#ifndef ADDRNORM_CORE_METHODS_HPP
#define ADDRNORM_CORE_METHODS_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace addrnorm {

inline PyCFunction as_method(PyObject *(*function)(PyObject *, PyObject *, PyObject *)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace addrnorm

#endif
