"""Where libpostal's data is read from: LIBPOSTAL_DATA_DIR, addrnorm's own
data directory, libpostal's compiled-in one; each in a fresh interpreter,
whose environment the test sets."""
import os
import textwrap

import pytest

from addrnorm import cli
from data_archives import SIGNATURES, data_files
from heap import UNDER_VALGRIND

# Under valgrind every interpreter is slow; the two modules share the set-up
# code, so one of them stands for both there.
MODULES = ["_expand"] if UNDER_VALGRIND else ["_expand", "_kinhash", "_duplicate"]
CLASSIFIER = "language_classifier/language_classifier.dat"
NUMEX = "numex/numex.dat"
MARKERS = {"data_version": b"v1\n", "base_data_file_version": b"v1.0.0\n",
           "language_classifier_model_file_version": b"v1.0.0\n"}


def without_package_choice(code):
    """The code, run with the package's finder taken out, so that the module
    alone reads the variable."""
    return ("import addrnorm\n"
            "sys.meta_path[:] = [f for f in sys.meta_path if not getattr(f, 'chooses_for_addrnorm', 0)]\n" +
            textwrap.dedent(code))


def stand_in(folder, without=(), damaged=()):
    """A data directory of stand-in files that the double sets up from."""
    for name, signature in SIGNATURES.items():
        if name in without:
            continue
        path = os.path.join(str(folder), *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write((b"\0\0\0\0" if name in damaged else signature) + b" stand-in\n")
    return str(folder)


@pytest.fixture
def env(monkeypatch, tmp_path):
    """The children's environment: no variable, and an own data directory
    under the test's folder (empty until a test fills it)."""
    monkeypatch.setenv("XDG_DATA_HOME", str(tmp_path / "xdg"))
    monkeypatch.delenv("LIBPOSTAL_DATA_DIR", raising=False)
    return monkeypatch


@pytest.mark.parametrize("name", MODULES)
@pytest.mark.parametrize("value", ["a directory", "", None], ids=["set", "empty", "unset"])
def test_the_modules_set_up_from_the_variable_when_it_is_set(python, env, tmp_path, name, value):
    folder = stand_in(tmp_path / "data")
    if value is not None:
        env.setenv("LIBPOSTAL_DATA_DIR", folder if value else "")
    result = python(program="module_set_up.py", args=[name])
    expected = folder if value else None
    assert result == [[expected, expected], 1, 1, True]


@pytest.mark.parametrize("without, imports, classifier", [([NUMEX], False, False), ([CLASSIFIER], True, False)],
                         ids=["without-numex", "without-classifier"])
def test_a_directory_without_a_file(python, env, tmp_path, without, imports, classifier):
    # Like libpostal: a missing base file fails the set-up; a missing
    # classifier does not, and the library runs without one.
    env.setenv("LIBPOSTAL_DATA_DIR", stand_in(tmp_path / "data", without))
    result = python(without_package_choice("""
        try:
            import addrnorm._expand
            imported = True
        except TypeError as error:
            imported = str(error)
        print(json.dumps([imported, double.library_up(), double.classifier_loaded(), double.counters()]))
    """))
    imported, up, loaded, counters = result
    assert imported is True if imports else imported == "Error loading libpostal"
    assert up == imports and loaded == classifier
    assert (counters["setup"], counters["classifier_setup"]) == (1, 1 if imports else 0)


@pytest.mark.parametrize("first_ok", [True, False], ids=["first-succeeds", "first-fails"])
def test_the_first_successful_set_up_decides_the_directory(python, env, tmp_path, first_ok):
    first = stand_in(tmp_path / "first", without=() if first_ok else [NUMEX])
    second = stand_in(tmp_path / "second")
    result = python(program="first_set_up_decides.py", args=[first, second])
    assert result == [[first, first] if first_ok else [second, second], 2, 1 if first_ok else 0]


# The package's choice: (variable, own directory's state, how the modules are
# imported) -> the directory the double receives, and `data info`'s reason.
CHOICES = [
    ("variable-over-own", "set", "complete", "call", "variable", "named by LIBPOSTAL_DATA_DIR"),
    ("own-when-complete", None, "complete", "call", "own", "addrnorm's own data directory"),
    ("own-on-direct-import", None, "complete", "import", "own", "addrnorm's own data directory"),
    ("empty-variable", "", "complete", "call", "own", "addrnorm's own data directory"),
    ("own-incomplete", None, "no classifier", "call", None, "libpostal's compiled-in directory"),
    ("no-own", None, "absent", "import", None, "libpostal's compiled-in directory"),
]
if UNDER_VALGRIND:
    # The choice is the package's Python; the modules see a directory or
    # none, which these three cover.
    CHOICES = [row for row in CHOICES if row[0] in ("variable-over-own", "own-when-complete", "no-own")]


@pytest.mark.parametrize("variable, own, how, expected, reason", [row[1:] for row in CHOICES],
                         ids=[row[0] for row in CHOICES])
def test_the_package_chooses_the_directory_before_the_first_set_up(python, env, tmp_path, variable, own, how,
                                                                    expected, reason):
    folders = {"variable": stand_in(tmp_path / "named"), "own": str(tmp_path / "xdg" / "addrnorm")}
    if own != "absent":
        stand_in(folders["own"], without=[CLASSIFIER] if own == "no classifier" else [])
    if variable is not None:
        env.setenv("LIBPOSTAL_DATA_DIR", folders["variable"] if variable else "")
    result = python(program="package_choice.py", args=[how])
    directories, variable_after, info, compiled_in = result
    chosen = folders.get(expected)
    assert directories == [chosen, chosen]
    # The package sets the variable for its own process only when it was unset.
    assert variable_after == (chosen if expected else None) or (variable_after == variable == "")
    assert info.splitlines()[0] == "directory: %s (%s)" % (chosen or compiled_in, reason + (
        ", the --datadir libpostal was built with" if expected is None else ""))


LOAD_ERRORS = [
    ("variable-missing-file", dict(without=[NUMEX]), True, True,
     ["with the data directory {dir} (named by LIBPOSTAL_DATA_DIR)", "Missing there: numex/numex.dat.",
      "run 'addrnorm data download --dir {dir}'"]),
    ("variable-damaged-file", dict(damaged=["address_expansions/address_dictionary.dat"]), True, True,
     ["Its data files are all there, so one of them is damaged", "run 'addrnorm data download --dir {dir} --force'"]),
    ("compiled-in", None, False, False,
     ["with the data directory {compiled_in} (libpostal's compiled-in directory", "Missing there: "
      "address_expansions/address_dictionary.dat, numex/numex.dat", "run 'addrnorm data download' (it fetches "
      "libpostal's data files into addrnorm's own data directory, {own}, which is read first)"]),
]


@pytest.mark.parametrize("folder, named, setup_ok, says", [row[1:] for row in LOAD_ERRORS],
                         ids=[row[0] for row in LOAD_ERRORS])
def test_a_load_error_names_the_directory_the_missing_files_and_the_fix(python, env, tmp_path, folder, named,
                                                                       setup_ok, says):
    directory = stand_in(tmp_path / "data", **folder) if folder is not None else None
    if named:
        env.setenv("LIBPOSTAL_DATA_DIR", directory)
    result = python(program="load_error.py", args=[int(setup_ok)])
    message, cause, compiled_in = result
    assert message.startswith("Error loading libpostal: ") and cause == "Error loading libpostal"
    for part in says:
        assert part.format(dir=directory, compiled_in=compiled_in, own=tmp_path / "xdg" / "addrnorm") in message


@pytest.mark.parametrize("without, warned", [([CLASSIFIER], 1), ([], 0)], ids=["no-classifier", "complete"])
def test_a_missing_classifier_is_warned_of_once_at_the_first_set_up(python, env, tmp_path, without, warned):
    folder = stand_in(tmp_path / "data", without)
    env.setenv("LIBPOSTAL_DATA_DIR", folder)
    result = python("""
        import warnings
        import addrnorm
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter('always')
            before = len(caught)
            addrnorm.expand_address('x')
            addrnorm.near_dupe_hashes(['city'], ['x'])
        print(json.dumps([before, [(w.category.__name__, str(w.message), w.filename) for w in caught]]))
    """)
    before, caught = result
    assert before == 0 and len(caught) == warned
    if warned:
        category, message, where = caught[0]
        # Told at the user's call (code given with -c: 3.6 names it so), not
        # inside the import machinery.
        assert category == "UserWarning" and where in ("<string>", "-c")
        assert CLASSIFIER in message and folder in message
        assert "expansions without `languages` will be poorer" in message


INFO = [
    ("complete", [], 0, ["complete"]),
    ("no-classifier", ["language_classifier/language_classifier.dat"], 1,
     ["missing: language_classifier/language_classifier.dat", "to fetch them: addrnorm data download --dir "]),
    ("no-markers", list(MARKERS), 0, ["markers: data_version missing", "complete"]),
]


@pytest.mark.parametrize("name, removed, status, says", INFO, ids=[row[0] for row in INFO])
def test_info_lists_the_files_their_sizes_and_what_is_missing(tmp_path, capsys, name, removed, status, says):
    files = data_files(real=None)
    for item, body in list(files.items()) + list(MARKERS.items()):
        if item not in removed:
            path = tmp_path.joinpath("data", *item.split("/"))
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(body)
    assert cli.main(["data", "info", "--dir", str(tmp_path / "data")]) == status
    out = capsys.readouterr().out
    assert out.splitlines()[0] == "directory: %s (given with --dir)" % (tmp_path / "data")
    for item, body in files.items():
        expected = "missing" if item in removed else "%10d bytes" % len(body)
        assert any(line.split()[:1] == [item] and expected in line for line in out.splitlines()), out
    for line in says:
        assert line in out
