"""The forked worker processes of a run, each with a pipe of its own for its
chunks and one for its results, and no lock, queue or thread shared with the
parent: however a run ends (the reader gone, SIGTERM, Ctrl-C, a worker
killed, an error), the parent's shutdown only closes its pipes, signals the
workers and waits for them a bounded time, so it cannot hang.  A worker whose
parent is gone (killed outright) is ended by the kernel where it can be told
to (Linux), and otherwise finds its pipes closed and exits.
"""
import os
import pickle
import signal
import struct
import sys
import time
import traceback
from typing import List

from addrnorm.cli.errors import Terminated, WorkerLost

# How long a finished worker gets to exit by itself, and a stopped one to
# die of SIGTERM, before SIGKILL; and how long SIGKILL gets before the
# parent gives up waiting (the kernel then reaps the process at the parent's
# exit).  Seconds.
GRACE = 1.0
KILL_WAIT = 2.0


# The workers of the runs under way, so that the command can end them
# whatever becomes of the generators that started them (stop_workers).
_running: list = []

_LENGTH = struct.Struct("!Q")


class WorkerTraceback(Exception):
    """Where in a worker an error that ended the run was raised: the cause
    of the error the parent raises again, so that its traceback shows both."""

    def __str__(self):
        return "in a worker process:\n%s" % self.args[0].rstrip("\n")


class _Worker:
    def __init__(self, pid, tasks, results):
        self.pid, self.tasks, self.results = pid, tasks, results
        self.status = None

    def send(self, chunk):
        data = pickle.dumps(chunk, pickle.HIGHEST_PROTOCOL)
        try:
            _write(self.tasks, _LENGTH.pack(len(data)) + data)
        except BrokenPipeError:
            self.lost()

    def receive(self):
        header = _read(self.results, _LENGTH.size)
        if header is None:
            self.lost()
        data = _read(self.results, _LENGTH.unpack(header)[0])
        if data is None:
            self.lost()
        ok, value = pickle.loads(data)
        if not ok:
            error, text = value
            # The worker's own traceback, shown under the parent's.
            error.__cause__ = WorkerTraceback(text)
            raise error
        return value

    def lost(self):
        """The worker ended with its work undone: killed by SIGTERM, as a
        service stopping the job signals every process at once, the run is
        being stopped; anything else is an error of its own."""
        self.reap(time.monotonic() + GRACE)
        if self.status is not None and os.WIFSIGNALED(self.status):
            number = os.WTERMSIG(self.status)
            if number == signal.SIGTERM:
                raise Terminated()
            if number == signal.SIGINT:
                raise KeyboardInterrupt()
            raise WorkerLost("a worker process was killed by signal %d (%s)" % (number, signal.Signals(number).name))
        raise WorkerLost("a worker process ended before its work was done")

    def reap(self, deadline):
        """The worker's exit status, waiting for it until deadline at most."""
        while self.status is None:
            try:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
            except ChildProcessError:
                self.status = 0
                break
            if pid:
                self.status = status
                break
            if time.monotonic() >= deadline:
                break
            time.sleep(0.005)
        return self.status is not None


class Workers:
    """jobs forked workers, each running serve on every chunk it is sent;
    stop() ends them, however often it is called."""

    def __init__(self, jobs, serve):
        self.started: List[_Worker] = []
        # SIGINT and SIGTERM stay blocked from each fork until the worker has
        # set its own handlers, so that a signal in between neither reaches
        # the worker with the parent's handler nor is lost for the parent.
        mask = signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT, signal.SIGTERM])
        try:
            _running.append(self)
            parent = os.getpid()
            for _ in range(jobs):
                tasks_read, tasks_write = os.pipe()
                results_read, results_write = os.pipe()
                # Flushed before the fork, so that no worker writes the
                # parent's buffered messages again.
                if sys.stderr is not None:
                    sys.stderr.flush()
                pid = os.fork()
                if pid == 0:
                    _worker(parent, serve, tasks_read, results_write,
                            [fd for worker in self.started for fd in (worker.tasks, worker.results)] +
                            [tasks_write, results_read])
                os.close(tasks_read)
                os.close(results_write)
                self.started.append(_Worker(pid, tasks_write, results_read))
        except BaseException:
            self.stop()
            raise
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, mask)

    def stop(self, finished=False):
        """Closes the pipes; a finished worker then exits by itself, others
        get SIGTERM. SIGKILL for any still there after GRACE; each waited for
        KILL_WAIT at most. Neither blocks nor takes a lock: a second Ctrl-C or
        a SIGTERM meanwhile cannot cut it short, as it is over in moments."""
        if self not in _running:
            return
        _running.remove(self)
        for worker in self.started:
            for fd in (worker.tasks, worker.results):
                try:
                    os.close(fd)
                except OSError:
                    pass
            if not finished:
                _signal(worker, signal.SIGTERM)
        deadline = time.monotonic() + GRACE
        for worker in self.started:
            if not worker.reap(deadline):
                _signal(worker, signal.SIGKILL)
        deadline = time.monotonic() + KILL_WAIT
        for worker in self.started:
            worker.reap(deadline)


def _signal(worker, number):
    if worker.status is None:
        try:
            os.kill(worker.pid, number)
        except ProcessLookupError:
            pass


def _worker(parent, serve, tasks, results, inherited):
    """A forked worker's life: chunks in, results out, until its pipe closes
    or its parent goes; never returns into the parent's code."""
    status = 0
    try:
        for fd in inherited:
            os.close(fd)
        # Only the parent decides what Ctrl-C means (it reaches the whole
        # process group); SIGTERM ends a worker at once, wherever it is.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_DFL)
        _die_with(parent)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, [signal.SIGINT, signal.SIGTERM])
        # The output is the parent's: a worker holding it open would keep a
        # reader waiting for its end after the parent has gone.
        null = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1):
            # (A parent started with them closed may have given their
            # numbers to this worker's pipes.)
            if fd not in (tasks, results, null):
                os.dup2(null, fd)
        if null > 1:
            os.close(null)
        while True:
            header = _read(tasks, _LENGTH.size)
            if header is None:
                break
            chunk = pickle.loads(_read(tasks, _LENGTH.unpack(header)[0]))
            try:
                reply: tuple = (True, serve(chunk))
            except Exception as error:  # noqa: BLE001 - handed to the parent, which raises it
                reply = (False, (error, traceback.format_exc()))
            try:
                data = pickle.dumps(reply, pickle.HIGHEST_PROTOCOL)
            except Exception as error:  # noqa: BLE001
                data = pickle.dumps((False, (RuntimeError(str(error)), traceback.format_exc())),
                                    pickle.HIGHEST_PROTOCOL)
            _write(results, _LENGTH.pack(len(data)) + data)
    except BaseException:
        # The parent gone (a broken pipe), or stopping the run: nothing to
        # say, the parent says it.
        status = 1
    finally:
        os._exit(status)


def _die_with(parent):
    """Asks the kernel for SIGKILL when the parent dies (Linux); and exits
    if it has already gone."""
    if sys.platform.startswith("linux"):
        try:
            import ctypes

            PR_SET_PDEATHSIG = 1
            ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, int(signal.SIGKILL), 0, 0, 0)
        except (OSError, AttributeError):
            pass
    if os.getppid() != parent:
        os._exit(1)


def _write(fd, data):
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


def _read(fd, size):
    """size bytes, or None at the end of the pipe."""
    parts = []
    while size:
        part = os.read(fd, min(size, 1 << 20))
        if not part:
            return None
        parts.append(part)
        size -= len(part)
    return b"".join(parts)



def stop_all():
    """Ends the workers of every run still under way."""
    while _running:
        _running[-1].stop()
