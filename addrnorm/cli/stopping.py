"""How the addrnorm command is stopped from outside: SIGTERM (how timeout,
systemd, Kubernetes and schedulers stop a job) raises Terminated in the main
thread, as Ctrl-C raises KeyboardInterrupt, so that the run unwinds through
the same clean-up; once the clean-up has begun, both signals are ignored, so
that a second one cannot cut it short and leave a temporary file or a
worker behind."""
import signal

from addrnorm.cli.errors import Terminated

STOPPING = (signal.SIGINT, signal.SIGTERM)


def _in_main_thread(call, *arguments):
    try:
        return call(*arguments)
    except ValueError:  # signal handlers can only be set from the main thread
        return None


class Stops:
    """Context manager around a run: SIGTERM raises Terminated while the
    run goes on; after hold(), SIGINT and SIGTERM are ignored; on leaving,
    the handlers are as they were."""

    def __init__(self):
        self.previous = {}

    def __enter__(self):
        self._set(signal.SIGTERM, self._terminate)
        return self

    def __exit__(self, *exception):
        for number, handler in self.previous.items():
            _in_main_thread(signal.signal, number, handler)
        self.previous.clear()
        return False

    def hold(self):
        for number in STOPPING:
            self._set(number, signal.SIG_IGN)

    def _set(self, number, handler):
        previous = _in_main_thread(signal.signal, number, handler)
        if previous is not None:
            self.previous.setdefault(number, previous)

    def _terminate(self, number, frame):
        self.hold()
        raise Terminated()
