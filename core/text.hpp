// Conversions between Python objects and the NUL-terminated UTF-8 strings and
// string arrays that libpostal takes and returns.  Every allocation comes from
// the C runtime heap that libpostal uses too.
#ifndef ADDRNORM_CORE_TEXT_HPP
#define ADDRNORM_CORE_TEXT_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

#include "owned.hpp"

namespace addrnorm {

// The bytes a language code may take with its NUL: libpostal copies each
// code into a buffer of this size (LIBPOSTAL_MAX_LANGUAGE_LEN, which the
// test double's header does not carry), so a longer one is refused ("string
// exceeded maximum length") rather than cut short.
constexpr Py_ssize_t language_code_size = 4;

// One str (or str subclass) to a new heap copy of its UTF-8 form, up to its
// first NUL.  Null with an exception set on failure (MemoryError when the
// heap is exhausted).
char *to_utf8_copy(PyObject *object);

// A sequence of str into an owned array.  A positive max_length admits only
// strings shorter than that many bytes.  An empty sequence, and an object that
// is not a sequence, leave the owner empty without an exception.  False only
// when an exception is set.
bool sequence_to_utf8_array(PyObject *object, Py_ssize_t max_length, Utf8Array &out);

// count UTF-8 strings to a new list of str, strictly decoded.  The array is
// borrowed and left as it is.
PyObject *utf8_array_to_list(char *const *array, size_t count);

}  // namespace addrnorm

#endif
