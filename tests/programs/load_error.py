"""The package's error when libpostal's set-up fails (argv: whether the
double's set-up itself succeeds, 0 or 1)."""
import json
import sys

import addrnorm
from libpostal_double import Double

double = Double()
double.set_setup_results(bool(int(sys.argv[1])), True)
try:
    addrnorm.expand_address("x")
except addrnorm.LibpostalLoadError as error:
    print(json.dumps([str(error), str(error.__cause__), double.compiled_in_directory()]))
