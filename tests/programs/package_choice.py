"""What `data info` says and which directory the modules receive, when the
package chooses it before the first set-up (argv: "import" to import
_expand directly, "call" to call the package's function)."""
import argparse
import contextlib
import io
import json
import os
import sys
import warnings

import addrnorm
from addrnorm.cli import data
from libpostal_double import Double

double = Double()
shown = io.StringIO()
with contextlib.redirect_stdout(shown):
    data.command_info(argparse.Namespace(dir=None))
warnings.simplefilter("error")
if sys.argv[1] == "import":
    import addrnorm._expand  # noqa: F401
else:
    addrnorm.expand_address("x")
print(json.dumps([double.directories(), os.environ.get("LIBPOSTAL_DATA_DIR"), shown.getvalue(),
                  double.compiled_in_directory()]))
