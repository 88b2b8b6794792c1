"""The module's exception class as its state holds it (argv: module name)."""
import ctypes
import importlib
import json
import sys

from libpostal_double import Double
from module_hooks import state

# Loaded before the import, as in the other programs, so that the module
# starts from the same process state.
double = Double()
m = importlib.import_module('addrnorm.' + sys.argv[1])
error = ctypes.cast(state(m).error, ctypes.py_object).value
print(json.dumps([error.__name__, error.__module__, error.__bases__ == (Exception,), hasattr(m, 'Error')]))
