"""The addrnorm command when a run is cut short or its output cannot be
written: Ctrl-C, a missing input, a bad record, a full disk, a reader that
goes away. On the test double, made slow per call where a run must last."""
import os
import random
import signal
import stat
import subprocess
import sys
import time

import pytest

from addrnorm import cli
from shared import DEDUPE_RUNS

# Processes started and signalled on a clock: under valgrind each interpreter
# is too slow for "promptly" to mean anything, so the memcheck run leaves
# these out.
spawns = pytest.mark.pure_python

EARLIER = "an earlier run's output\n"


def write(path, text):
    path.write_text(text, encoding="utf-8")
    return str(path)


def start(argv, work_ns=0, env=None, **kwargs):
    env = dict(os.environ, ADDRNORM_DOUBLE_WORK_NS=str(work_ns), **(env or {}))
    kwargs.setdefault("stdout", subprocess.DEVNULL)
    return subprocess.Popen([sys.executable, "-m", "addrnorm"] + argv, env=env, stderr=subprocess.PIPE,
                            universal_newlines=True, **kwargs)


def end(process, group=False):
    """A test's clean-up: a process still running (the test failed) is
    killed, with its group when it leads one."""
    if process.poll() is None:
        if group:
            os.killpg(process.pid, signal.SIGKILL)
        else:
            process.kill()
        process.wait(timeout=60)


def group(pgid):
    """The processes of a process group, from /proc."""
    members = []
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as handle:
                fields = handle.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if int(fields[2]) == pgid:
            members.append(int(entry))
    return members


def leftovers(folder, keep):
    return sorted(name for name in os.listdir(str(folder)) if name not in keep)


# dupes forks its workers where the de-duplication runs (see shared);
# elsewhere, it stops at once, saying so (test_cli).
WITH_JOBS = [["expand", "-i"]] + ([["dupes"]] if DEDUPE_RUNS else [])


@spawns
@pytest.mark.parametrize("target", ["group", "parent"])
@pytest.mark.parametrize("argv", WITH_JOBS, ids=[argv[0] for argv in WITH_JOBS])
def test_ctrl_c_with_jobs_ends_promptly_leaving_nothing_behind(tmp_path, argv, target):
    big = write(tmp_path / "big.csv", "city,road\n" + "".join("C%d,R%d\n" % (n % 97, n) for n in range(20000)))
    out = write(tmp_path / "out", EARLIER)
    # 1 ms a call: the run would take about ten seconds on two workers.
    process = start(argv + [big, "--jobs", "2", "-o", out], work_ns=1000000, start_new_session=True)
    try:
        deadline = time.monotonic() + 20
        while len(group(process.pid)) < 3 and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        assert len(group(process.pid)) == 3, "the parent and its two workers"
        time.sleep(0.5)  # the workers well into their chunks
        if target == "group":
            os.killpg(process.pid, signal.SIGINT)  # as a terminal's Ctrl-C
        else:
            os.kill(process.pid, signal.SIGINT)
        _, errors = process.communicate(timeout=20)
    finally:
        end(process, group=True)
    assert (process.returncode, errors) == (130, "addrnorm: interrupted\n")
    assert group(process.pid) == [], "workers left running"
    assert (tmp_path / "out").read_text(encoding="utf-8") == EARLIER
    assert leftovers(tmp_path, {"big.csv", "out"}) == []


@pytest.mark.parametrize("argv", [["dupes", "nosuch.csv"], ["hash", "bad.csv"], ["expand", "-i", "bad.csv"]],
                         ids=["missing-input", "bad-record", "bad-line"])
def test_a_failed_run_leaves_the_output_file_as_it_was(tmp_path, monkeypatch, argv):
    monkeypatch.chdir(str(tmp_path))
    (tmp_path / "bad.csv").write_bytes(b"city,road\nX,R\nY\n\xff\n")
    out = write(tmp_path / "keep.csv", EARLIER)
    assert cli.main(argv + ["-o", out]) == 2
    assert (tmp_path / "keep.csv").read_text(encoding="utf-8") == EARLIER
    assert leftovers(tmp_path, {"bad.csv", "keep.csv"}) == []


def test_a_finished_run_replaces_the_output_keeping_its_permissions(tmp_path):
    out = write(tmp_path / "out.txt", EARLIER)
    os.chmod(out, 0o640)
    assert cli.main(["expand", "Main St", "-o", out]) == 0
    assert (tmp_path / "out.txt").read_text(encoding="utf-8") == "Main St\n\n"
    assert stat.S_IMODE(os.stat(out).st_mode) == 0o640
    fresh = str(tmp_path / "new.txt")
    assert cli.main(["expand", "Main St", "-o", fresh]) == 0
    umask = os.umask(0o22)
    os.umask(umask)
    assert stat.S_IMODE(os.stat(fresh).st_mode) == 0o666 & ~umask
    assert leftovers(tmp_path, {"out.txt", "new.txt"}) == []


def test_skipped_records_still_replace_the_output(tmp_path):
    (tmp_path / "bad.txt").write_bytes(b"Main St\n\xff\n")
    out = write(tmp_path / "out", EARLIER)
    assert cli.main(["expand", "-i", str(tmp_path / "bad.txt"), "--skip-bad", "-o", out]) == 1
    assert (tmp_path / "out").read_text(encoding="utf-8") == "Main St\n\n"


def test_a_full_disk_is_one_line_and_status_3(capsys):
    assert cli.main(["expand", "Main St", "-o", "/dev/full"]) == 3
    assert capsys.readouterr().err == "addrnorm: /dev/full: No space left on device\n"


def test_an_output_that_cannot_be_created_is_status_3(tmp_path, capsys):
    out = str(tmp_path / "no" / "such" / "out")
    assert cli.main(["expand", "Main St", "-o", out]) == 3
    assert capsys.readouterr().err == "addrnorm: %s: No such file or directory\n" % out


@pytest.mark.parametrize("argv, path, reason", [
    (["expand", "-i", "in.csv", "--bad-records"], "no/bad.tsv", "No such file or directory"),
    (["hash", "in.csv", "--bad-records"], "no/bad.tsv", "No such file or directory"),
    (["hash", "in.csv", "--bad-records"], ".", "Is a directory"),
    (["dupes", "in.csv", "--pairs"], "no/pairs.jsonl", "No such file or directory"),
    (["dupes", "in.csv", "--report"], "no/report.html", "No such file or directory"),
    (["dupes", "in.csv", "--model-out"], "no/model.json", "No such file or directory"),
    (["dupes", "in.csv", "--model-out"], ".", "Is a directory"),
], ids=lambda value: value[-1] if isinstance(value, list) else None)
def test_every_output_is_checked_before_the_work(tmp_path, monkeypatch, capsys, double, argv, path, reason):
    monkeypatch.chdir(str(tmp_path))
    (tmp_path / "in.csv").write_text("city,road\nX,R\n", encoding="utf-8")
    write(tmp_path / "prev", EARLIER)
    calls = double.counters()["calls"]
    assert cli.main(argv + [path, "-o", "prev"]) == 3
    assert capsys.readouterr().err == "addrnorm: %s: %s\n" % (path, reason)
    assert double.counters()["calls"] == calls, "the work was done first"
    assert (tmp_path / "prev").read_text(encoding="utf-8") == EARLIER
    assert leftovers(tmp_path, {"in.csv", "prev"}) == []


@spawns
def test_a_full_standard_output_is_one_line_and_status_3():
    with open("/dev/full", "w") as full:
        process = start(["expand", "Main St"], stdout=full)
        _, errors = process.communicate(timeout=60)
    assert (process.returncode, errors) == (3, "addrnorm: <stdout>: No space left on device\n")


@spawns
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_a_reader_that_goes_away_ends_the_run_quietly(tmp_path, jobs):
    many = write(tmp_path / "many.txt", "".join("%d Main St\n" % n for n in range(50000)))
    process = start(["expand", "-i", many, "--format", "jsonl", "--jobs", jobs], stdout=subprocess.PIPE)
    try:
        assert process.stdout.readline().startswith('{"line": 1, "input": "0 Main St"')
        process.stdout.close()  # as head does after its lines
        process.stdout = None  # Python 3.6's communicate would fail on it, closed
        _, errors = process.communicate(timeout=60)
    finally:
        end(process)
    assert (process.returncode, errors) == (128 + signal.SIGPIPE, "")


def test_skip_bad_lists_a_few_and_bad_records_lists_all(tmp_path, capsys):
    lines = ["city,road"] + ["X%d,R" % n if n % 2 else "only%d" % n for n in range(50)]
    source = write(tmp_path / "in.csv", "\n".join(lines) + "\n")
    listing = tmp_path / "bad.tsv"
    out = str(tmp_path / "out")
    assert cli.main(["hash", source, "--skip-bad", "-o", out]) == 1
    shown = capsys.readouterr().err.splitlines()
    assert shown.pop(0) == "addrnorm: 25 records, 50 keys, 0 records without keys, 25 bad records skipped"
    assert shown[0] == "addrnorm: skipped 25 bad records:"
    assert shown[1] == "  %s: line 2: 1 columns where the header has 2" % source
    assert len(shown) == 1 + 10 + 1 and shown[-1].startswith("  ... and 15 more")
    assert not listing.exists()
    # --bad-records skips as --skip-bad does, without it too.
    assert cli.main(["hash", source, "--bad-records", str(listing), "-o", out]) == 1
    assert "all in %s" % listing in capsys.readouterr().err
    assert listing.read_text(encoding="utf-8").splitlines() == [
        "%s\t%d\t1 columns where the header has 2" % (source, n + 2) for n in range(0, 50, 2)]
    # A run with nothing to skip leaves an empty list, not an earlier one.
    good = write(tmp_path / "good.csv", "city\nX\n")
    assert cli.main(["hash", good, "--bad-records", str(listing), "-o", out]) == 0
    assert listing.read_text(encoding="utf-8") == ""


def wait_for(condition, what, limit=20):
    deadline = time.monotonic() + limit
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.02)


def part_files(folder):
    return [name for name in os.listdir(str(folder)) if name.endswith(".part")]


# Each command reading from standard input, which the test keeps open: the
# run is under way (the workers at their chunks, the parent waiting for
# more) when SIGTERM comes.
TERMINATED = [
    (["expand"], "%d Main St\n"),
    (["parse"], "%d Main St\n"),
    (["language"], "%d Main St\n"),
    (["tokens"], "%d Main St\n"),
    (["hash", "-", "--input-format", "csv"], "C%d,R\n"),
] + ([(["dupes", "-", "--input-format", "csv"], "C%d,R\n")] if DEDUPE_RUNS else [])
SIGTERM_CASES = [(argv, lines, jobs, "parent") for argv, lines in TERMINATED for jobs in ("1", "2")] + [
    (["expand"], "%d Main St\n", "2", "group"), (["hash", "-", "--input-format", "csv"], "C%d,R\n", "2", "group")]


@spawns
@pytest.mark.parametrize("argv, lines, jobs, target", SIGTERM_CASES,
                         ids=["%s-j%s-%s" % (case[0][0], case[2], case[3]) for case in SIGTERM_CASES])
def test_sigterm_ends_every_command_leaving_nothing_behind(tmp_path, argv, lines, jobs, target):
    out = write(tmp_path / "out", EARLIER)
    reading, feeding = os.pipe()
    # 1 ms a call: the workers are busy with their chunks.
    process = start(argv + ["--jobs", jobs, "-o", out], work_ns=1000000, stdin=reading, start_new_session=True)
    os.close(reading)
    try:
        header = "city,road\n" if "csv" in argv else ""
        os.write(feeding, (header + "".join(lines % n for n in range(2000))).encode("utf-8"))
        processes = 1 if jobs == "1" else 3
        wait_for(lambda: part_files(tmp_path) and len(group(process.pid)) == processes or process.poll() is not None,
                 "the run never got under way")
        time.sleep(0.2)
        if target == "group":
            os.killpg(process.pid, signal.SIGTERM)  # as systemd stops a service
        else:
            os.kill(process.pid, signal.SIGTERM)  # as timeout(1) stops a command
        _, errors = process.communicate(timeout=30)
    finally:
        os.close(feeding)
        end(process, group=True)
    assert (process.returncode, errors) == (128 + signal.SIGTERM, "addrnorm: terminated\n")
    assert group(process.pid) == [], "workers left running"
    assert (tmp_path / "out").read_text(encoding="utf-8") == EARLIER
    assert leftovers(tmp_path, {"out"}) == []


@spawns
def test_workers_end_when_their_parent_is_killed_outright(tmp_path):
    many = write(tmp_path / "many.txt", "".join("%d Main St\n" % n for n in range(2000)))
    # 20 ms a call: a chunk would keep a worker busy for seconds.
    process = start(["expand", "-i", many, "--jobs", "2"], work_ns=20000000, start_new_session=True)
    try:
        wait_for(lambda: len(group(process.pid)) == 3, "the parent and its two workers")
        time.sleep(0.2)
        process.kill()
        process.wait(timeout=30)
        wait_for(lambda: group(process.pid) == [], "workers outlived their parent", limit=3)
        process.communicate(timeout=30)
    finally:
        end(process, group=True)


@spawns
def test_reader_gone_and_sigterm_never_hang_the_workers_shutdown(tmp_path):
    """Many runs of --jobs 2 stopped at random moments of their work: each
    ends, and ends as it should."""
    many = write(tmp_path / "many.txt", "".join("%d Main St\n" % n for n in range(50000)))
    chance = random.Random(25)
    for attempt in range(12):
        process = start(["expand", "-i", many, "--format", "jsonl", "--jobs", "2"], stdout=subprocess.PIPE,
                        start_new_session=True)
        try:
            assert process.stdout.readline().startswith('{"line": 1,')
            time.sleep(chance.uniform(0, 0.05))
            if attempt % 2:
                process.stdout.close()  # the reader goes away
                process.stdout = None
                expected = (128 + signal.SIGPIPE, "")
            else:
                process.send_signal(signal.SIGTERM)
                expected = (128 + signal.SIGTERM, "addrnorm: terminated\n")
            _, errors = process.communicate(timeout=60)
        finally:
            end(process, group=True)
        assert (process.returncode, errors) == expected, "attempt %d" % attempt
        assert group(process.pid) == [], "attempt %d: workers left running" % attempt


# Without libpostal's data, each command in each mode.
SET_UP_FAILS = [["expand", "-i", "in.csv"], ["hash", "in.csv"]] + ([["dupes", "in.csv"]] if DEDUPE_RUNS else [])


@spawns
@pytest.mark.parametrize("mode", [[], ["--jobs", "2"], ["--skip-bad"], ["--bad-records", "bad.tsv"]],
                         ids=["j1", "j2", "skip-bad", "bad-records"])
@pytest.mark.parametrize("argv", SET_UP_FAILS, ids=[argv[0] for argv in SET_UP_FAILS])
def test_a_set_up_that_fails_stops_the_run_before_any_output(tmp_path, argv, mode):
    (tmp_path / "in.csv").write_text("city,road\nX,R\nY,S\n", encoding="utf-8")
    (tmp_path / "empty").mkdir()
    write(tmp_path / "prev", EARLIER)
    write(tmp_path / "bad.tsv", EARLIER)
    process = start(argv + mode + ["-o", "prev"], cwd=str(tmp_path), env={"LIBPOSTAL_DATA_DIR": str(tmp_path / "empty")})
    _, errors = process.communicate(timeout=60)
    assert process.returncode == 2, errors
    assert errors.startswith("addrnorm: Error loading libpostal: its set-up failed with the data directory %s" % (
        tmp_path / "empty")) and errors.count("\n") == 1, errors
    for name in ("prev", "bad.tsv"):
        assert (tmp_path / name).read_text(encoding="utf-8") == EARLIER
    assert leftovers(tmp_path, {"in.csv", "empty", "prev", "bad.tsv"}) == []
