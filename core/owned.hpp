// Owners for what a module function must release: each holds one thing and
// releases it exactly once, on whichever path the function leaves by, so no
// function needs a cleanup ladder.  Nothing here throws.
#ifndef ADDRNORM_CORE_OWNED_HPP
#define ADDRNORM_CORE_OWNED_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdlib>

namespace addrnorm {

// A new (owned) Python reference.
class PyRef {
public:
    explicit PyRef(PyObject *object = nullptr) : object_(object) {}
    ~PyRef() { Py_XDECREF(object_); }
    PyRef(const PyRef &) = delete;
    PyRef &operator=(const PyRef &) = delete;

    PyObject *get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference on (to the caller, a list, a module).
    PyObject *release() {
        PyObject *object = object_;
        object_ = nullptr;
        return object;
    }

private:
    PyObject *object_;
};

// A NUL-terminated string on the C runtime heap, freed with free().
class HeapString {
public:
    explicit HeapString(char *text = nullptr) : text_(text) {}
    ~HeapString() { free(text_); }
    HeapString(const HeapString &) = delete;
    HeapString &operator=(const HeapString &) = delete;

    char *get() const { return text_; }
    explicit operator bool() const { return text_ != nullptr; }
    void reset() {
        free(text_);
        text_ = nullptr;
    }
    // Hands the string on to a new owner.
    char *release() {
        char *text = text_;
        text_ = nullptr;
        return text;
    }

private:
    char *text_;
};

void destroy_utf8_array(char **array, size_t count);

// An array of count NUL-terminated UTF-8 strings on the C runtime heap: the
// strings are freed first, then the array.  No array with count 0 stands for
// an empty sequence.  libpostal's near-duplicate keys come back in this same
// shape and are released the same way.
class Utf8Array {
public:
    Utf8Array() = default;
    Utf8Array(char **items, size_t count) : items(items), count(count) {}
    ~Utf8Array() { destroy_utf8_array(items, count); }
    Utf8Array(const Utf8Array &) = delete;
    Utf8Array &operator=(const Utf8Array &) = delete;

    void reset() {
        destroy_utf8_array(items, count);
        items = nullptr;
        count = 0;
    }
    // Hands the array on to a new owner.
    char **release() {
        char **array = items;
        items = nullptr;
        count = 0;
        return array;
    }

    char **items = nullptr;
    size_t count = 0;
};

}  // namespace addrnorm

#endif
