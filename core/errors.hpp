// The exceptions that several modules raise for one mistake, so that a caller
// catches the mistake the same way whichever module it called.
#ifndef ADDRNORM_CORE_ERRORS_HPP
#define ADDRNORM_CORE_ERRORS_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace addrnorm {

// Parallel sequences (labels and values, tokens and scores) of different
// lengths: addrnorm.errors.LengthMismatchError, a TypeError and a ValueError
// at once, since _kinhash's callers were promised the one and _duplicate's
// the other.  The message is formatted as PyUnicode_FromFormat does.  Always
// leaves an exception set: that one, or the error that kept it from being
// made.
void set_length_mismatch(const char *format, ...);

}  // namespace addrnorm

#endif
