"""Run by the bundled sessions from outside the source tree, against an addrnorm
installed with the libpostal that its own build made:

    python bundled_check.py [--data DIR]

Checks what the dynamic linker sees (one libpostal.so.1 inside the package,
found by $ORIGIN by each library module; none for _wordclass), that without data the package fails
with its hint, and, given real data, that the bundled library is libpostal
itself and expands."""
import argparse
import os
import re
import subprocess
import sys
import tempfile

import addrnorm

PACKAGE = os.path.dirname(os.path.abspath(addrnorm.__file__))
BUNDLED = os.path.join(PACKAGE, "libpostal.so.1")
ADDRESS = "781 Franklin Ave Crown Hts Brooklyn NY"


def output(*command, env=None):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True,
                          env=env, timeout=300).stdout


def module_file(name):
    found = [f for f in os.listdir(PACKAGE) if f.startswith(name + ".") and f.endswith(".so")]
    assert len(found) == 1, (name, os.listdir(PACKAGE))
    return os.path.join(PACKAGE, found[0])


def dynamic_section(path):
    entries = {}
    for line in output("readelf", "-d", path).splitlines():
        match = re.search(r"\((\w+)\)\s+.*\[(.*)\]", line)
        if match:
            entries.setdefault(match.group(1), []).append(match.group(2))
    return entries


def check_linkage():
    assert "site-packages" in PACKAGE, "imported from " + PACKAGE
    assert os.path.isfile(BUNDLED) and not os.path.islink(BUNDLED), "no libpostal.so.1 file in " + PACKAGE
    assert sorted(f for f in os.listdir(PACKAGE) if "libpostal" in f) == ["libpostal.so.1"], os.listdir(PACKAGE)
    assert "libpostal_setup_datadir" in output("nm", "-D", "--defined-only", BUNDLED)
    for name, links in (("_expand", True), ("_kinhash", True), ("_duplicate", True), ("_parser", True),
                        ("_wordclass", False)):
        path = module_file(name)
        entries = dynamic_section(path)
        assert ("libpostal.so.1" in entries.get("NEEDED", [])) == links, (name, entries)
        assert "RPATH" not in entries, (name, entries)
        assert entries.get("RUNPATH") == (["$ORIGIN"] if links else None), (name, entries)
        exported = output("nm", "-D", "--defined-only", path).split()
        assert [s for s in exported if s.startswith("PyInit")] == ["PyInit_" + name], (name, exported)
        resolved = re.search(r"libpostal\.so\.1 => (\S+)", output("ldd", path))
        if links:
            assert resolved and os.path.realpath(resolved.group(1)) == os.path.realpath(BUNDLED), (name, resolved)
        else:
            assert resolved is None, (name, resolved)
    print("linkage: _expand, _kinhash, _duplicate and _parser load", BUNDLED, "by $ORIGIN; _wordclass links no "
          "libpostal")


def child(code, **env):
    environment = dict(os.environ)
    environment.pop("LIBPOSTAL_DATA_DIR", None)
    environment.update(env)
    return subprocess.run([sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, env=environment, timeout=300)


def check_without_data():
    with tempfile.TemporaryDirectory() as empty:
        process = child("import addrnorm\naddrnorm.expand_address('x')", XDG_DATA_HOME=empty)
    assert process.returncode != 0, process.stdout
    last = process.stderr.strip().splitlines()[-1]
    assert last.startswith("addrnorm.LibpostalLoadError: Error loading libpostal"), process.stderr
    assert "addrnorm data download" in last, last
    print("without data:", last[:160], "...")


def check_with_data(data):
    # Set up through the bundled library's own entry points, which only
    # libpostal itself has (the modules then find it already set up); and
    # as users do, through LIBPOSTAL_DATA_DIR.
    through_ctypes = (
        "import ctypes, json\n"
        "lib = ctypes.CDLL(%r)\n"
        "assert lib.libpostal_setup_datadir(%r.encode())\n"
        "assert lib.libpostal_setup_language_classifier_datadir(%r.encode())\n"
        "from addrnorm import _expand\n"
        "print(json.dumps(_expand.expand_address(%r)))\n" % (BUNDLED, data, data, ADDRESS))
    through_variable = "import json, addrnorm\nprint(json.dumps(addrnorm.expand_address(%r)))\n" % ADDRESS
    for how, code, env in (("libpostal_setup_datadir", through_ctypes, {}),
                           ("LIBPOSTAL_DATA_DIR", through_variable, {"LIBPOSTAL_DATA_DIR": data})):
        with tempfile.TemporaryDirectory() as empty:
            process = child(code, XDG_DATA_HOME=empty, **env)
        assert process.returncode == 0, process.stderr
        assert "781 franklin avenue crown heights brooklyn new york" in process.stdout, (how, process.stdout)
        print("with data, through %s:" % how, process.stdout.strip())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--data", help="a directory of libpostal's real data")
    args = parser.parse_args()
    check_linkage()
    check_without_data()
    if args.data:
        check_with_data(os.path.abspath(args.data))


if __name__ == "__main__":
    main()
