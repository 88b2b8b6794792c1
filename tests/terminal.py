"""Runs the addrnorm command with its standard error on a pseudo-terminal, as
a user at a terminal sees it, and gives back what the terminal showed."""
import fcntl
import os
import pty
import select
import struct
import subprocess
import sys
import termios
import time


def run_on_a_terminal(argv, columns=80, stdout=subprocess.PIPE, env=None, timeout=600):
    """(the finished process, the bytes shown on standard error)."""
    master, slave = pty.openpty()
    # A terminal of 24 rows, as a real one reports its size.
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    process = subprocess.run([sys.executable, "-m", "addrnorm"] + list(argv), env=env, stdout=stdout, stderr=slave,
                             timeout=timeout)
    os.close(slave)
    shown = b""
    # Bounded: a process left behind holding the terminal (a worker that
    # outlived the command) must fail the test, not hang it.
    deadline = time.monotonic() + 60
    try:
        while select.select([master], [], [], max(0, deadline - time.monotonic()))[0]:
            chunk = os.read(master, 4096)
            if not chunk:
                break
            shown += chunk
        else:
            raise AssertionError("the terminal was still held open 60 s after the command ended")
    except OSError:
        pass  # the terminal is gone once the process has ended and all is read
    finally:
        os.close(master)
    return process, shown
