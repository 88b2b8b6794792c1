"""What the suite on the real libpostal shares: the check that the data and
the library are the real ones, child interpreters under a time limit, and the
memory figures of a process."""
import json
import os
import subprocess
import sys
import textwrap

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)

# The files libpostal's expansion, near-duplicate hashing and language
# classifier read at set-up; the address parser is not needed.
DATA_FILES = (
    "address_expansions/address_dictionary.dat",
    "numex/numex.dat",
    "transliteration/transliteration.dat",
    "language_classifier/language_classifier.dat",
)
# Exported by the test double only: a libpostal that has them is not the real one.
DOUBLE_CONTROLS = ("double_counters", "double_reset", "double_set_result")

# Run in a child: sets libpostal up, expands, and names the libpostal loaded.
_PROBE = r"""
import ctypes, json, sys
import addrnorm
from addrnorm import _expand
result = _expand.expand_address("30 W 26th St", languages=["en"])
paths = sorted({line.split(None, 5)[5].strip() for line in open("/proc/self/maps")
                if len(line.split(None, 5)) == 6 and "/libpostal.so" in line})
library = ctypes.CDLL(paths[0]) if paths else None
print(json.dumps({
    "package": addrnorm.__file__, "libpostal": paths, "result": result,
    "setup_datadir": library is not None and hasattr(library, "libpostal_setup_datadir"),
    "controls": [name for name in %r if library is not None and hasattr(library, name)],
}))
"""


def data_directory_problem(directory):
    if not directory:
        return ("LIBPOSTAL_DATA_DIR is not set: the suite on the real libpostal needs it to name a directory "
                "holding libpostal's data (%s)" % ", ".join(DATA_FILES))
    gone = [name for name in DATA_FILES if not os.path.isfile(os.path.join(directory, name))
            or os.path.getsize(os.path.join(directory, name)) == 0]
    if gone:
        return "LIBPOSTAL_DATA_DIR=%s lacks libpostal's data files: %s" % (directory, ", ".join(gone))
    return None


def environment_problem():
    """None when the data is there and addrnorm runs on the real libpostal;
    else what is missing, in words."""
    directory = os.environ.get("LIBPOSTAL_DATA_DIR")
    problem = data_directory_problem(directory)
    if problem:
        return problem
    child = run_python(_PROBE % (DOUBLE_CONTROLS,), timeout=300)
    if child.returncode != 0:
        return ("addrnorm could not set libpostal up from LIBPOSTAL_DATA_DIR=%s (exit %d):\n%s" % (
            directory, child.returncode, child.stderr[-2000:]))
    probe = json.loads(child.stdout.strip().splitlines()[-1])
    where = "addrnorm imported from %s loads %s" % (probe["package"], probe["libpostal"] or "no libpostal")
    if not probe["libpostal"] or not probe["setup_datadir"] or probe["controls"]:
        return ("%s, which is not the real libpostal (libpostal_setup_datadir %s, test double controls %s): "
                "put a build against the real libpostal first on PYTHONPATH" % (
                    where, "present" if probe["setup_datadir"] else "missing", probe["controls"] or "none"))
    if "30 west 26th street" not in (probe["result"] or []):
        return "%s, but its expansion of '30 W 26th St' is %r: the data looks wrong" % (where, probe["result"])
    return None


def child_env(**extra):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [HERE, env.get("PYTHONPATH", "")]))
    env.update(extra)
    return env


def run_python(code, timeout=120, args=(), env=None, stdin=None):
    """Runs code in a fresh interpreter; a child that outlives its time is
    killed and reported as a TimeoutExpired.  libpostal's warnings on
    standard error may carry bytes that are not UTF-8: they are escaped."""
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)] + list(args), env=env or child_env(),
                          input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          encoding="utf-8", errors="backslashreplace")


def last_json(child, what):
    """The JSON a child printed on its last line, or an AssertionError saying how it ended."""
    assert child.returncode == 0, "%s: exit %d\n%s" % (what, child.returncode, child.stderr[-3000:])
    lines = child.stdout.strip().splitlines()
    assert lines, "%s printed nothing\n%s" % (what, child.stderr[-3000:])
    return json.loads(lines[-1])


def memory_kib(pid="self"):
    """A process's resident and private memory in KiB, from smaps_rollup:
    {"rss", "private", "shared"}."""
    fields = {}
    with open("/proc/%s/smaps_rollup" % pid) as rollup:
        for line in rollup:
            parts = line.split()
            if len(parts) >= 2 and parts[0].endswith(":") and parts[1].isdigit():
                fields[parts[0][:-1]] = int(parts[1])
    return {"rss": fields["Rss"], "private": fields["Private_Clean"] + fields["Private_Dirty"],
            "shared": fields["Shared_Clean"] + fields["Shared_Dirty"]}


def rss_kib(pid="self"):
    with open("/proc/%s/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for process %s" % pid)
