"""The error of a record that cannot be used, wherever records become
libpostal's calls: the command's readers and workers and the
de-duplication's features raise it.  With the value policy's Refused
(addrnorm.values), it is the only error a worker takes for a record's own
fault (skipped with --skip-bad); any other is a fault of the code and ends
the run.
"""


class BadRecord(Exception):
    """One record that cannot be used; skippable with --skip-bad."""
