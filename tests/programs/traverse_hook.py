"""What the traverse hook visits before and after a clear (argv: module name)."""
import importlib
import json
import sys

from libpostal_double import Double
from module_hooks import clear, state, traverse

# Loaded before the import, as in the other programs, so that the module
# starts from the same process state.
double = Double()
m = importlib.import_module('addrnorm.' + sys.argv[1])
error = state(m).error
seen = []


def visit(address):
    seen.append(address)
    return 0


first = traverse(m, visit)
stopped = traverse(m, lambda address: 7)
clear(m)
after_clear = []


def visit_after(address):
    after_clear.append(address)
    return 7


last = traverse(m, visit_after)
print(json.dumps([seen == [error], first, stopped, last, after_clear]))
