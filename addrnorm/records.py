"""What can go wrong with the addrnorm command's records, its input and its
output: the exceptions the readers (addrnorm.readers), the writers
(addrnorm.writers) and the calls raise, and the status each one leads to.
"""


class InputError(Exception):
    """A problem with the input as a whole, or with the command line: the run
    stops with status 2."""


class BadRecord(Exception):
    """One record that cannot be used; skippable with --skip-bad."""


class OutputError(Exception):
    """The output cannot be written (a full disk, no permission): status 3."""
