"""Imports one module with the package's choice of directory taken out, so
that the module alone reads LIBPOSTAL_DATA_DIR (argv: the module's name)."""
import json
import sys

import addrnorm  # noqa: F401 (puts the package's finder in place, to be taken out)
from libpostal_double import Double

double = Double()
sys.meta_path[:] = [f for f in sys.meta_path if not getattr(f, "chooses_for_addrnorm", 0)]
__import__("addrnorm." + sys.argv[1])
print(json.dumps([double.directories(), double.counters()["setup"], double.counters()["classifier_setup"],
                  double.classifier_loaded()]))
