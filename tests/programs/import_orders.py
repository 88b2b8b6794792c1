"""Imports, calls, clears and re-imports the modules the arguments name,
twice, in that order, recording whether the library stays up while a
library module lives."""
import importlib
import json
import sys

import addrnorm
from libpostal_double import Double
from module_hooks import clear

double = Double()
calls = {'_expand': lambda m: m.expand_address('x'),
         '_kinhash': lambda m: m.near_dupe_hashes(['city'], ['x']),
         '_duplicate': lambda m: m.is_name_duplicate_fuzzy(['x'], [1.0], ['x'], [1.0]),
         '_parser': lambda m: m.parse_address('x'),
         '_wordclass': lambda m: m.TOKEN_TYPE_WORD}
order = sys.argv[1:]
up_while_live = []
for round in range(2):
    # By import name: a re-imported single-phase module is named by its
    # definition alone.
    live = [(name, importlib.import_module('addrnorm.' + name)) for name in order]
    for name, module in live:
        calls[name](module)
    for name in order:
        del sys.modules['addrnorm.' + name]
        delattr(addrnorm, name)
    for index, (name, module) in enumerate(live):
        clear(module)
        rest = [(n, m) for n, m in live[index + 1:] if n != '_wordclass']
        up_while_live.append(double.library_up() or not rest)
        for other_name, other in rest:
            calls[other_name](other)
print(json.dumps([all(up_while_live), double.library_up(), double.counters()]))
