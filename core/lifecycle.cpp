#include "lifecycle.hpp"

#include "owned.hpp"

namespace addrnorm {

static_assert(PYTHON_API_VERSION == 1013, "modules are created with interpreter API version 1013");

ModuleState *module_state(PyObject *module) { return static_cast<ModuleState *>(PyModule_GetState(module)); }

PyObject *create_module(PyModuleDef *definition, const char *error_name) {
    PyRef module = PyRef::made(PyModule_Create2(definition, PYTHON_API_VERSION));
    if (!module) return nullptr;
    ModuleState *state = module_state(module.get());
    state->error = PyErr_NewException(error_name, nullptr, nullptr);
    if (state->error == nullptr) return nullptr;
    return module.release();
}

int module_traverse(PyObject *module, visitproc visit, void *arg) {
    Py_VISIT(module_state(module)->error);
    return 0;
}

int module_clear(PyObject *module) {
    Py_CLEAR(module_state(module)->error);
    return 0;
}

void module_free(void *module) {
    auto *object = static_cast<PyObject *>(module);
    PyModuleDef *definition = PyModule_GetDef(object);
    if (definition != nullptr && definition->m_clear != nullptr) definition->m_clear(object);
}

bool add_int_constants(PyObject *module, const IntConstant *table, size_t count) {
    for (size_t i = 0; i < count; i++) {
        PyObject *value = PyLong_FromUnsignedLongLong(table[i].value);
        if (value == nullptr) continue;
        // On failure the module did not take the reference: drop it here.
        if (PyModule_AddObject(module, table[i].name, value) < 0) Py_DECREF(value);
    }
    return PyErr_Occurred() == nullptr;
}

}  // namespace addrnorm
