import os
import shutil
import subprocess
import sys

from addrnorm import _wordclass
from shared import TOKEN_TYPES


def own_names(module):
    return [name for name in vars(module) if not (name.startswith("__") and name.endswith("__"))]


def test_the_namespace_is_the_table_in_order():
    assert [(name, getattr(_wordclass, name)) for name in own_names(_wordclass)] == TOKEN_TYPES
    assert all(type(getattr(_wordclass, name)) is int for name, _ in TOKEN_TYPES)
    assert not any(callable(getattr(_wordclass, name)) for name in dir(_wordclass) if not name.startswith("__"))
    assert _wordclass.__doc__ is None and not hasattr(_wordclass, "Error")


def test_the_table_itself():
    # The values ascend with holes where libpostal has none, 0 to 500.
    values = [value for _, value in TOKEN_TYPES]
    assert len(set(values)) == len(values) == 43 and values == sorted(values)
    assert len({name for name, _ in TOKEN_TYPES}) == 43


def test_import_without_libpostal(tmp_path):
    # The module alone, on a path where neither libpostal nor its double can be found.
    shutil.copy(_wordclass.__file__, str(tmp_path))
    # Nothing of the test set-up but how the interpreter itself is run.
    kept = ("PATH", "PYTHONMALLOC", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")
    env = dict({name: os.environ[name] for name in kept if name in os.environ}, LD_LIBRARY_PATH="")
    out = subprocess.run(
        [sys.executable, "-S", "-c", "import sys; sys.path.insert(0, %r); import _wordclass, json; "
         "print(json.dumps([[n, getattr(_wordclass, n)] for n in vars(_wordclass) if not n.startswith('__')]))"
         % str(tmp_path)],
        env=env, cwd=str(tmp_path), stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True,
        timeout=60)
    assert out.returncode == 0, out.stderr
    assert [tuple(pair) for pair in __import__("json").loads(out.stdout)] == TOKEN_TYPES
