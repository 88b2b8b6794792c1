"""Sets _expand up from one directory, clears it, and sets it up again with
LIBPOSTAL_DATA_DIR naming another (argv: the first, the second); the
package's choice is taken out, so that the module alone reads the variable."""
import json
import os
import sys

import addrnorm
from libpostal_double import Double
from module_hooks import clear

double = Double()
sys.meta_path[:] = [f for f in sys.meta_path if not getattr(f, "chooses_for_addrnorm", 0)]
os.environ["LIBPOSTAL_DATA_DIR"] = sys.argv[1]
try:
    import addrnorm._expand as m
    clear(m)
    del m, sys.modules["addrnorm._expand"], addrnorm._expand
except TypeError:
    pass
os.environ["LIBPOSTAL_DATA_DIR"] = sys.argv[2]
import addrnorm._expand  # noqa: E402,F401
print(json.dumps([double.directories(), double.counters()["setup"], double.counters()["teardown"]]))
