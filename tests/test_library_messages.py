"""libpostal's messages on descriptor 2 are diverted while the command runs and
told afterwards in one clean summary; the command's own lines still reach
standard error."""
import os
import sys

import pytest

from addrnorm.cli.library_messages import LibraryMessages

RED_WARNING = b"\x1b[1;31mERR\x1b[0m  Invalid UTF-8 in string\n   at normalize (normalize.c:123)\n"


def from_a_forked_worker(data):
    pid = os.fork()
    if pid == 0:
        os.write(2, data)
        os._exit(0)
    os.waitpid(pid, 0)


@pytest.mark.parametrize("writes, expected", [
    ([], []),
    ([RED_WARNING], ["addrnorm: libpostal printed 2 messages (2 distinct) while running:",
                     "  ERR  Invalid UTF-8 in string", "  at normalize (normalize.c:123)"]),
    ([b"\x1b[33mwarn\x1b[0m a\n"] * 3 + [b"b\n", b"c\n", b"d\n"],
     ["addrnorm: libpostal printed 6 messages (4 distinct) while running:",
      "  warn a  (x3)", "  b", "  c", "  ... and 1 more distinct"]),
], ids=["silent", "colours stripped", "counted and cut"])
def test_summary_tells_what_libpostal_printed(writes, expected):
    with LibraryMessages() as messages:
        for data in writes:
            os.write(2, data)
    assert messages.summary() == expected


def test_forked_workers_are_counted_and_python_output_passes(capfd):
    before = os.fstat(2)
    with LibraryMessages() as messages:
        sys.stderr.write("addrnorm: our own line\n")
        from_a_forked_worker(RED_WARNING)
        os.write(2, RED_WARNING)
    captured = capfd.readouterr().err
    assert "our own line" in captured and "Invalid UTF-8" not in captured
    assert len(messages.messages) == 4
    assert "\x1b" not in "".join(messages.summary())
    after = os.fstat(2)
    assert (after.st_dev, after.st_ino) == (before.st_dev, before.st_ino)


def test_an_error_inside_restores_standard_error():
    stderr, before = sys.stderr, os.fstat(2)
    with pytest.raises(KeyError):
        with LibraryMessages():
            os.write(2, b"lost in the failure\n")
            raise KeyError("boom")
    after = os.fstat(2)
    assert sys.stderr is stderr
    assert (after.st_dev, after.st_ino) == (before.st_dev, before.st_ino)


@pytest.mark.parametrize("failing_dup", [1, 2], ids=["saving", "for-python"])
def test_out_of_descriptors_diverts_nothing_and_keeps_nothing_open(monkeypatch, failing_dup):
    real_dup, calls = os.dup, []

    def dup_failing_at(fd):
        calls.append(fd)
        if len(calls) == failing_dup:
            raise OSError(24, "Too many open files")
        return real_dup(fd)

    # A sys.stderr on descriptor 2, as the command has, so that both dups run.
    stderr = os.fdopen(2, "w", closefd=False)
    monkeypatch.setattr(sys, "stderr", stderr)
    before, open_before = os.fstat(2), sorted(os.listdir("/proc/self/fd"))
    monkeypatch.setattr(os, "dup", dup_failing_at)
    with pytest.raises(OSError):
        with LibraryMessages():
            pass
    monkeypatch.setattr(os, "dup", real_dup)
    after = os.fstat(2)
    assert len(calls) == failing_dup
    assert (after.st_dev, after.st_ino) == (before.st_dev, before.st_ino) and sys.stderr is stderr
    assert sorted(os.listdir("/proc/self/fd")) == open_before
