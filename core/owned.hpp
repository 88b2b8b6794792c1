// Owners for what a module function must release: each holds one thing and
// releases it exactly once, on whichever path the function leaves by, so no
// function needs a cleanup ladder.  Nothing here throws.
//
// An owner is made in one of two ways, and the call site says which:
// Owned::made(p) wraps what a call has just made (a new reference, a new heap
// block); Owned::taken_from(slot) takes over what a slot held, leaving the
// slot empty, so that the slot and the owner never both release it.
#ifndef ADDRNORM_CORE_OWNED_HPP
#define ADDRNORM_CORE_OWNED_HPP

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdlib>

namespace addrnorm {

template <typename T, void (*Release)(T *)>
class Owned {
public:
    static Owned made(T *thing) { return Owned(thing); }
    static Owned taken_from(T *&slot) {
        T *thing = slot;
        slot = nullptr;
        return Owned(thing);
    }

    Owned() = default;
    ~Owned() { reset(); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;

    T *get() const { return thing_; }
    explicit operator bool() const { return thing_ != nullptr; }
    void reset() {
        if (thing_ != nullptr) Release(thing_);
        thing_ = nullptr;
    }
    // Hands the thing on (to the caller, a list, a module, an array).
    T *release() {
        T *thing = thing_;
        thing_ = nullptr;
        return thing;
    }

private:
    explicit Owned(T *thing) : thing_(thing) {}
    T *thing_ = nullptr;
};

inline void drop_reference(PyObject *object) { Py_DECREF(object); }
inline void free_heap_string(char *text) { free(text); }

// A Python reference.
using PyRef = Owned<PyObject, drop_reference>;
// A NUL-terminated string on the C runtime heap, freed with free().
using HeapString = Owned<char, free_heap_string>;

// Frees count heap strings, then the array that holds them.
inline void destroy_utf8_array(char **array, size_t count) {
    if (array == nullptr) return;
    for (size_t i = 0; i < count; i++) free(array[i]);
    free(array);
}

// An array of count NUL-terminated UTF-8 strings on the C runtime heap: the
// strings are freed first, then the array.  No array with count 0 stands for
// an empty sequence.  libpostal's near-duplicate keys come back in this same
// shape and are released the same way.
class Utf8Array {
public:
    Utf8Array() = default;
    // Takes over an array that a call has just made.
    Utf8Array(char **items, size_t count) : items_(items), count_(items != nullptr ? count : 0) {}
    ~Utf8Array() { reset(); }
    Utf8Array(const Utf8Array &) = delete;
    Utf8Array &operator=(const Utf8Array &) = delete;

    char **items() const { return items_; }
    size_t count() const { return count_; }
    void reset(char **items = nullptr, size_t count = 0) {
        destroy_utf8_array(items_, count_);
        items_ = items;
        count_ = items != nullptr ? count : 0;
    }
    // Hands the array on to a new owner, who knows its count.
    char **release() {
        char **handed_on = items_;
        items_ = nullptr;
        count_ = 0;
        return handed_on;
    }

private:
    char **items_ = nullptr;
    size_t count_ = 0;
};

}  // namespace addrnorm

#endif
