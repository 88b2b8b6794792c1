"""The error of a record that cannot be used, wherever records become
libpostal's calls: the command's readers and workers and the
de-duplication's features raise it.  With the value policy's Refused
(addrnorm.values), it is the only error a worker takes for a record's own
fault (skipped with --skip-bad); any other is a fault of the code and ends
the run.

Also the one error of parallel sequences of different lengths, whichever
extension module is given them.
"""


class BadRecord(Exception):
    """One record that cannot be used; skippable with --skip-bad."""


class LengthMismatchError(TypeError, ValueError):
    """Parallel sequences (labels and values, tokens and scores) of different
    lengths, raised by every extension module for that mistake: a TypeError,
    as _kinhash has always raised it, and a ValueError, as _duplicate has."""
