"""The package's error for a failed set-up (argv: setup ok 0/1, classifier ok 0/1)."""
import json
import sys

import addrnorm
from libpostal_double import Double

double = Double()
double.set_setup_results(bool(int(sys.argv[1])), bool(int(sys.argv[2])))
try:
    addrnorm.expand_address('x')
except addrnorm.LibpostalLoadError as error:
    print(json.dumps([str(error), isinstance(error, TypeError), str(error.__cause__),
                      type(error.__cause__) is addrnorm.LibpostalLoadError]))
