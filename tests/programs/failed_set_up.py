"""A failed set-up (argv: setup ok 0/1, classifier ok 0/1, module name):
the import's error and what the double holds after it and after collection."""
import gc
import json
import sys

from libpostal_double import Double

double = Double()
setup, classifier, name = bool(int(sys.argv[1])), bool(int(sys.argv[2])), sys.argv[3]
double.set_setup_results(setup, classifier)
message = None
try:
    __import__('addrnorm.' + name)
except TypeError as error:
    message = str(error)
after_import = double.counters()
gc.collect()
print(json.dumps([message, after_import, double.counters(), double.library_up(), 'addrnorm.' + name in sys.modules]))
