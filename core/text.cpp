#include "text.hpp"

#include <cstdlib>
#include <cstring>

namespace addrnorm {

namespace {

char *heap_strdup(const char *text) {
#ifdef _WIN32
    return _strdup(text);
#else
    return strdup(text);
#endif
}

// The conversion itself: the array, null with *count 0 and no exception for
// an empty sequence, null with no exception and *count untouched for an
// object that is not a sequence, null with an exception on every failure.
char **sequence_to_utf8_array(PyObject *object, Py_ssize_t max_length, size_t *count) {
    if (!PySequence_Check(object)) return nullptr;
    PyRef view = PyRef::made(PySequence_Fast(object, "Expected a sequence"));
    if (!view) return nullptr;
    Py_ssize_t n = PySequence_Size(object);
    if (n < 0) {
        *count = 0;
        return nullptr;
    }
    // The items are read from the view, so a length that disagrees with them
    // would read past its end or silently drop items (all of them, for a
    // sequence that says it is empty).
    if (n != PySequence_Fast_GET_SIZE(view.get())) {
        PyErr_SetString(PyExc_TypeError, "sequence length does not match its items");
        return nullptr;
    }
    if (n == 0) {
        *count = 0;
        return nullptr;
    }
    Utf8Array array(static_cast<char **>(calloc(static_cast<size_t>(n), sizeof(char *))), static_cast<size_t>(n));
    if (array.items() == nullptr) {
        PyErr_NoMemory();
        return nullptr;
    }
    PyObject **items = PySequence_Fast_ITEMS(view.get());
    for (Py_ssize_t i = 0; i < n; i++) {
        HeapString copy = HeapString::made(to_utf8_copy(items[i]));
        if (!copy) {
            if (!PyErr_ExceptionMatches(PyExc_MemoryError))
                PyErr_SetString(PyExc_TypeError, "all elements must be strings");
            return nullptr;
        }
        if (max_length > 0 && strlen(copy.get()) >= static_cast<size_t>(max_length)) {
            PyErr_SetString(PyExc_TypeError, "string exceeded maximum length");
            return nullptr;
        }
        array.items()[i] = copy.release();
    }
    *count = array.count();
    return array.release();
}

}  // namespace

char *to_utf8_copy(PyObject *object) {
    if (!PyUnicode_Check(object) && !PyBytes_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Parameter must be bytes or unicode");
        return nullptr;
    }
    PyRef text = PyRef::made(PyUnicode_FromObject(object));
    if (!text) {
        PyErr_SetString(PyExc_TypeError, "Parameter could not be converted to unicode");
        return nullptr;
    }
    // The sized form: the unsized one refuses a str holding a NUL on newer
    // interpreters, and the copy below ends at the first NUL on all of them.
    Py_ssize_t size;
    const char *utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) return nullptr;
    char *copy = heap_strdup(utf8);
    if (copy == nullptr) PyErr_NoMemory();
    return copy;
}

bool sequence_to_utf8_array(PyObject *object, Py_ssize_t max_length, Utf8Array &out) {
    size_t count = 0;
    char **items = sequence_to_utf8_array(object, max_length, &count);
    out.reset(items, count);
    return items != nullptr || !PyErr_Occurred();
}

PyObject *utf8_array_to_list(char *const *array, size_t count) {
    if (count > static_cast<size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
    PyRef list = PyRef::made(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return nullptr;
    for (size_t i = 0; i < count; i++) {
        PyObject *text = PyUnicode_DecodeUTF8(array[i], static_cast<Py_ssize_t>(strlen(array[i])), "strict");
        if (text == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);
    }
    return list.release();
}

}  // namespace addrnorm
