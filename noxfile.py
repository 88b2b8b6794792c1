"""Builds the modules against the libpostal test double and runs the suite,
once per CPython 3 interpreter found, each in a virtual environment of its own.

    python3 -m nox            # every interpreter found
    python3 -m nox -s tests-3.9
"""
import glob
import os
import subprocess

import nox

ROOT = os.path.dirname(os.path.abspath(__file__))
OLDEST = (3, 6)

nox.options.sessions = ["tests"]
nox.options.error_on_missing_interpreters = True
nox.options.reuse_existing_virtualenvs = True


def _pyenv_bins():
    """pyenv's shims for versions not selected fail, so put each version's own
    bin folder on PATH, where nox looks for pythonX.Y."""
    try:
        root = subprocess.run(["pyenv", "root"], stdout=subprocess.PIPE, universal_newlines=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return []
    return sorted(glob.glob(os.path.join(root, "versions", "3.*", "bin")))


def _version_of(python):
    try:
        out = subprocess.run([python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, universal_newlines=True,
                             timeout=30).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        return None
    return out or None


def interpreters():
    found = {}
    bins = _pyenv_bins()
    for folder in bins + os.environ.get("PATH", "").split(os.pathsep):
        for python in sorted(glob.glob(os.path.join(folder, "python3.*[0-9]"))):
            version = _version_of(python)
            if version and tuple(map(int, version.split("."))) >= OLDEST:
                found.setdefault(version, python)
    os.environ["PATH"] = os.pathsep.join(bins + [os.environ.get("PATH", "")])
    return sorted(found, key=lambda v: tuple(map(int, v.split("."))))


INTERPRETERS = interpreters()


def build_dir(session):
    return os.path.join(ROOT, "build", "py" + session.python)


def configure_and_build(session, *options):
    # 3.6 comes with a pip too old to read today's build files; this one is
    # the last release that runs there.
    if session.python == "3.6":
        session.install("pip==21.3.1")
    session.install("-r", os.path.join(ROOT, "tests", "requirements.txt"))
    build = build_dir(session)
    python = os.path.join(session.virtualenv.location, "bin", "python")
    session.run("cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DADDRNORM_TEST_DOUBLE=ON",
                "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DPython_EXECUTABLE=" + python, *options)
    session.run("cmake", "--build", build)
    return build


@nox.session(python=INTERPRETERS, venv_backend="venv")
def tests(session):
    """Build against the double and run the whole suite."""
    build = configure_and_build(session)
    session.run("ctest", "--test-dir", build, "--output-on-failure", "-V", *session.posargs)
