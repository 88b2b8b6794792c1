import os
import shutil
import subprocess
import sys

from addrnorm import _wordclass

TOKEN_TYPES = [
    ("TOKEN_TYPE_END", 0), ("TOKEN_TYPE_WORD", 1), ("TOKEN_TYPE_ABBREVIATION", 2),
    ("TOKEN_TYPE_IDEOGRAPHIC_CHAR", 3), ("TOKEN_TYPE_HANGUL_SYLLABLE", 4), ("TOKEN_TYPE_ACRONYM", 5),
    ("TOKEN_TYPE_PHRASE", 10), ("TOKEN_TYPE_EMAIL", 20), ("TOKEN_TYPE_URL", 21), ("TOKEN_TYPE_US_PHONE", 22),
    ("TOKEN_TYPE_INTL_PHONE", 23), ("TOKEN_TYPE_NUMERIC", 50), ("TOKEN_TYPE_ORDINAL", 51),
    ("TOKEN_TYPE_ROMAN_NUMERAL", 52), ("TOKEN_TYPE_IDEOGRAPHIC_NUMBER", 53), ("TOKEN_TYPE_PERIOD", 100),
    ("TOKEN_TYPE_EXCLAMATION", 101), ("TOKEN_TYPE_QUESTION_MARK", 102), ("TOKEN_TYPE_COMMA", 103),
    ("TOKEN_TYPE_COLON", 104), ("TOKEN_TYPE_SEMICOLON", 105), ("TOKEN_TYPE_PLUS", 106),
    ("TOKEN_TYPE_AMPERSAND", 107), ("TOKEN_TYPE_AT_SIGN", 108), ("TOKEN_TYPE_POUND", 109),
    ("TOKEN_TYPE_ELLIPSIS", 110), ("TOKEN_TYPE_DASH", 111), ("TOKEN_TYPE_BREAKING_DASH", 112),
    ("TOKEN_TYPE_HYPHEN", 113), ("TOKEN_TYPE_PUNCT_OPEN", 114), ("TOKEN_TYPE_PUNCT_CLOSE", 115),
    ("TOKEN_TYPE_DOUBLE_QUOTE", 119), ("TOKEN_TYPE_SINGLE_QUOTE", 120), ("TOKEN_TYPE_OPEN_QUOTE", 121),
    ("TOKEN_TYPE_CLOSE_QUOTE", 122), ("TOKEN_TYPE_SLASH", 124), ("TOKEN_TYPE_BACKSLASH", 125),
    ("TOKEN_TYPE_GREATER_THAN", 126), ("TOKEN_TYPE_LESS_THAN", 127), ("TOKEN_TYPE_OTHER", 200),
    ("TOKEN_TYPE_WHITESPACE", 300), ("TOKEN_TYPE_NEWLINE", 301), ("TOKEN_TYPE_INVALID_CHAR", 500),
]


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
        env=env, cwd=str(tmp_path), stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    assert out.returncode == 0, out.stderr
    assert [tuple(pair) for pair in __import__("json").loads(out.stdout)] == TOKEN_TYPES
