"""The clear hook run three times on one module (argv: module name)."""
import importlib
import json
import sys

from libpostal_double import Double
from module_hooks import clear, state

double = Double()
m = importlib.import_module('addrnorm.' + sys.argv[1])
had_error = state(m).error is not None
runs = []
for _ in range(3):
    runs.append([clear(m), double.counters()['teardown'], state(m).error, state(m).library_share])
print(json.dumps([had_error, runs, double.counters()]))
