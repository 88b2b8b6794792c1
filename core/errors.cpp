// The class lives in the package's Python (addrnorm.errors), not in any one
// extension module: each module carries its own copy of this file, and a
// class made here would be a different class in every module.  It is looked
// up only on the error path, where the package is long imported.
#include "errors.hpp"

#include <cstdarg>

#include "owned.hpp"

namespace addrnorm {

void set_length_mismatch(const char *format, ...) {
    va_list args;
    va_start(args, format);
    PyRef message = PyRef::made(PyUnicode_FromFormatV(format, args));
    va_end(args);
    if (!message) return;
    PyRef errors = PyRef::made(PyImport_ImportModule("addrnorm.errors"));
    if (!errors) return;
    PyRef mismatch = PyRef::made(PyObject_GetAttrString(errors.get(), "LengthMismatchError"));
    if (!mismatch) return;
    PyErr_SetObject(mismatch.get(), message.get());
}

}  // namespace addrnorm
