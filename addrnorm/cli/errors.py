"""What can go wrong with the addrnorm command's input and output as a whole:
the exceptions the readers (addrnorm.cli.readers), the writers
(addrnorm.cli.writers) and the workers raise, and the status each one leads
to.  A single bad record is addrnorm.errors.BadRecord.
"""


class InputError(Exception):
    """A problem with the input as a whole, or with the command line: the run
    stops with status 2."""


class OutputError(Exception):
    """The output cannot be written (a full disk, no permission): status 3."""


class WorkerLost(Exception):
    """A worker process ended with its work undone (killed by another signal
    than SIGTERM, or out of memory): status 2, as the run cannot go on."""


class Terminated(BaseException):
    """SIGTERM, how services and schedulers stop a job: the run stops at
    once, as for Ctrl-C, with status 143 (128 + SIGTERM).  A BaseException,
    so that nothing that catches errors takes it for one."""
