"""An import after a failed one (argv: module name), then a call and a clear."""
import importlib
import json
import sys

from libpostal_double import Double
from library_calls import CALL
from module_hooks import clear

double = Double()
name = sys.argv[1]
double.set_setup_results(False, True)
try:
    importlib.import_module('addrnorm.' + name)
except TypeError:
    pass
double.set_setup_results(True, True)
m = importlib.import_module('addrnorm.' + name)
CALL[name](m)
up = double.library_up()
clear(m)
print(json.dumps([up, double.library_up(), double.counters()]))
