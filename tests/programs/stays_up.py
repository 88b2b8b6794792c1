"""Two instances, the first replaced by the second (argv: first and second
module names): whether the library stays up while either lives."""
import gc
import importlib
import json
import sys

import addrnorm
from libpostal_double import Double
from library_calls import CALL
from module_hooks import clear

double = Double()
first, second = sys.argv[1], sys.argv[2]
old = importlib.import_module('addrnorm.' + first)
del sys.modules['addrnorm.' + first]
delattr(addrnorm, first)
new = importlib.import_module('addrnorm.' + second)
assert new is not old
clear(old)
up_after_first = double.library_up()
CALL[second](new)
del old
gc.collect()
clear(new)
print(json.dumps([up_after_first, double.library_up(), double.counters()]))
