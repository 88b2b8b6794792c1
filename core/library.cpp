#include "library.hpp"

#include <libpostal/libpostal.h>

#include <cstdlib>
#include <cstring>

#include "lifecycle.hpp"
#include "owned.hpp"

namespace addrnorm {

namespace {

// The count lives in a capsule kept in the main interpreter's dictionary for
// extension state, under a name both modules know: neither module links the
// other, and the library's state is per process, not per interpreter.  Each
// holder keeps a reference to the capsule, so the count outlives the
// dictionary being cleared at interpreter exit.
const char share_name[] = "addrnorm.libpostal_share";

struct LibraryShare {
    Py_ssize_t holders;
    // The data directory of the process's first successful set-up (null:
    // libpostal's compiled-in one).  A set-up after a teardown reads the same
    // data again, whatever the environment says by then, so that a process
    // never mixes results from two data sets.
    bool directory_decided;
    char *directory;
    // Instances that hold the address parser too; never more than holders.
    Py_ssize_t parser_holders;
};

void free_share(PyObject *capsule) {
    auto *share = static_cast<LibraryShare *>(PyCapsule_GetPointer(capsule, share_name));
    if (share == nullptr) return;
    PyMem_RawFree(share->directory);
    PyMem_RawFree(share);
}

LibraryShare *share_of(PyObject *capsule) {
    return static_cast<LibraryShare *>(PyCapsule_GetPointer(capsule, share_name));
}

// Where the capsule is kept: the main interpreter's dictionary for extension
// state, or, before 3.8 has one, the sys module's namespace.
PyObject *share_registry() {
#if PY_VERSION_HEX >= 0x03080000
    PyObject *registry = PyInterpreterState_GetDict(PyInterpreterState_Main());
#else
    PyObject *registry = PyImport_GetModuleDict();
    PyObject *sys = registry ? PyDict_GetItemString(registry, "sys") : nullptr;
    registry = sys ? PyModule_GetDict(sys) : nullptr;
#endif
    if (registry == nullptr)
        PyErr_SetString(PyExc_RuntimeError, "no interpreter state to keep libpostal's use count in");
    return registry;
}

// A failed set-up raises the package's LibpostalLoadError (a TypeError), so
// that the package knows the failure by its type and not by its message; a
// plain TypeError when the package is not imported.  The package then says
// which data directory it tried.
void set_load_error() {
    PyObject *modules = PyImport_GetModuleDict();
    PyObject *package = modules != nullptr ? PyDict_GetItemString(modules, "addrnorm") : nullptr;
    PyRef found = PyRef::made(package != nullptr ? PyObject_GetAttrString(package, "LibpostalLoadError") : nullptr);
    PyErr_Clear();
    PyObject *type = PyExc_TypeError;
    if (found && PyType_Check(found.get()) &&
        PyType_IsSubtype(reinterpret_cast<PyTypeObject *>(found.get()), reinterpret_cast<PyTypeObject *>(type)))
        type = found.get();
    PyErr_SetString(type, "Error loading libpostal");
}

// A new reference to the process's share capsule, made on first use.
PyObject *find_share() {
    PyObject *registry = share_registry();
    if (registry == nullptr) return nullptr;
    PyObject *capsule = PyDict_GetItemString(registry, share_name);
    if (capsule != nullptr && PyCapsule_IsValid(capsule, share_name)) {
        Py_INCREF(capsule);
        return capsule;
    }
    auto *share = static_cast<LibraryShare *>(PyMem_RawCalloc(1, sizeof(LibraryShare)));
    if (share == nullptr) return PyErr_NoMemory();
    PyRef made = PyRef::made(PyCapsule_New(share, share_name, free_share));
    if (!made) {
        PyMem_RawFree(share);
        return nullptr;
    }
    if (PyDict_SetItemString(registry, share_name, made.get()) < 0) return nullptr;
    return made.release();
}

// The directory the first set-up reads: LIBPOSTAL_DATA_DIR when it is set
// and not empty (the package sets it to its choice), else null for
// libpostal's compiled-in directory.  A copy, or null with *failed set.
char *configured_directory(bool *failed) {
    *failed = false;
    const char *named = std::getenv("LIBPOSTAL_DATA_DIR");
    if (named == nullptr || named[0] == '\0') return nullptr;
    size_t size = std::strlen(named) + 1;
    auto *copy = static_cast<char *>(PyMem_RawMalloc(size));
    if (copy == nullptr) {
        *failed = true;
        PyErr_NoMemory();
        return nullptr;
    }
    std::memcpy(copy, named, size);
    return copy;
}

// Sets libpostal and its classifier up from the directory (null: the
// compiled-in one).  The classifier is never set up over a library that
// failed to come up, and a library that came up without its classifier is
// taken down again: an instance that fails to import holds nothing.
bool set_up(char *directory) {
    if (!(directory ? libpostal_setup_datadir(directory) : libpostal_setup())) return false;
    if (!(directory ? libpostal_setup_language_classifier_datadir(directory)
                    : libpostal_setup_language_classifier())) {
        libpostal_teardown();
        return false;
    }
    return true;
}

}  // namespace

bool acquire_library(PyObject *module) {
    PyRef capsule = PyRef::made(find_share());
    if (!capsule) return false;
    LibraryShare *share = share_of(capsule.get());
    if (share->holders == 0) {
        char *directory = share->directory;
        if (!share->directory_decided) {
            bool failed = false;
            directory = configured_directory(&failed);
            if (failed) return false;
        }
        if (!set_up(directory)) {
            if (!share->directory_decided) PyMem_RawFree(directory);
            set_load_error();
            return false;
        }
        if (!share->directory_decided) {
            share->directory = directory;
            share->directory_decided = true;
        }
    }
    share->holders++;
    module_state(module)->library_share = capsule.release();
    return true;
}

bool acquire_parser(PyObject *module) {
    ModuleState *state = module_state(module);
    LibraryShare *share = state->library_share != nullptr ? share_of(state->library_share) : nullptr;
    if (share == nullptr) {
        set_load_error();
        return false;
    }
    if (state->holds_parser) return true;
    // The parser's own set-up finds its folder inside the directory the
    // library was set up from, so the two never come from different data.
    if (share->parser_holders == 0 &&
        !(share->directory ? libpostal_setup_parser_datadir(share->directory) : libpostal_setup_parser())) {
        set_load_error();
        return false;
    }
    share->parser_holders++;
    state->holds_parser = true;
    return true;
}

void release_library(PyObject *module) {
    ModuleState *state = module_state(module);
    PyRef capsule = PyRef::taken_from(state->library_share);
    bool held_parser = state->holds_parser;
    state->holds_parser = false;
    if (!capsule) return;
    LibraryShare *share = share_of(capsule.get());
    if (share == nullptr) {
        PyErr_Clear();
        return;
    }
    // The parser goes before the library it was set up on.
    if (held_parser && --share->parser_holders == 0) libpostal_teardown_parser();
    if (--share->holders == 0) {
        libpostal_teardown_language_classifier();
        libpostal_teardown();
    }
}

int module_clear_with_library(PyObject *module) {
    module_clear(module);
    release_library(module);
    return 0;
}

}  // namespace addrnorm
