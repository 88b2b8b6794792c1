"""Direct access to a module's definition, state and hooks, so that a test can
run the clear and traverse hooks exactly when it wants, as the collector would."""
import ctypes
from ctypes import POINTER, c_char_p, c_int, c_ssize_t, c_void_p, py_object


class ModuleDef(ctypes.Structure):
    _fields_ = [("ob_refcnt", c_ssize_t), ("ob_type", c_void_p), ("m_init", c_void_p), ("m_index", c_ssize_t),
                ("m_copy", c_void_p), ("m_name", c_char_p), ("m_doc", c_char_p), ("m_size", c_ssize_t),
                ("m_methods", c_void_p), ("m_slots", c_void_p), ("m_traverse", c_void_p), ("m_clear", c_void_p),
                ("m_free", c_void_p)]


class State(ctypes.Structure):
    _fields_ = [("error", c_void_p), ("library_share", c_void_p)]


_api = ctypes.pythonapi
_api.PyModule_GetDef.restype = POINTER(ModuleDef)
_api.PyModule_GetDef.argtypes = [py_object]
_api.PyModule_GetState.restype = POINTER(State)
_api.PyModule_GetState.argtypes = [py_object]

VISITOR = ctypes.CFUNCTYPE(c_int, c_void_p, c_void_p)
_CLEAR = ctypes.PYFUNCTYPE(c_int, py_object)
_TRAVERSE = ctypes.PYFUNCTYPE(c_int, py_object, VISITOR, c_void_p)


def definition(module):
    return _api.PyModule_GetDef(module).contents


def state(module):
    return _api.PyModule_GetState(module).contents


def clear(module):
    return _CLEAR(definition(module).m_clear)(module)


def traverse(module, visit):
    """Runs the traverse hook with visit(address) as the visitor; returns its result."""
    visitor = VISITOR(lambda address, arg: visit(address))
    return _TRAVERSE(definition(module).m_traverse)(module, visitor, None)
