"""libpostal's own messages, kept out of the command's output.

libpostal prints warnings straight to the process's standard error (file
descriptor 2) from inside a call, in terminal colours, one per odd input (for
instance invalid UTF-8 left after decoding an HTML entity).  Over a file of a
million records they would break the progress bar and bury the command's own
lines.  While the command runs, descriptor 2 goes to a temporary file, and
Python's ``sys.stderr`` to the real standard error; at the end, the messages
are told in one summary, without the colour codes.  Worker processes forked
meanwhile inherit both, so their messages are counted too.
"""
import collections
import os
import re
import sys
import tempfile
import typing
from typing import List, Optional

# Terminal control sequences: colours and the like.
_CONTROL = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")
SHOWN = 3


def _on_descriptor_2(stream):
    try:
        return stream.fileno() == 2
    except (AttributeError, OSError, ValueError):
        return False


class LibraryMessages:
    """Context manager: diverts descriptor 2 while the body runs; ``summary()``
    afterwards gives the lines to print (none when libpostal said nothing)."""

    def __init__(self):
        self.messages: List[str] = []
        self._saved: Optional[int] = None
        # (typing's IO classes as typing.*: stubtest would take them for
        # this module's own, and they differ between interpreters.)
        self._file: Optional[typing.IO[bytes]] = None
        self._stderr: Optional[typing.TextIO] = None

    def __enter__(self):
        sys.stderr.flush()
        self._file = tempfile.TemporaryFile()
        self._stderr = sys.stderr
        try:
            self._saved = os.dup(2)
            # Python's own writes keep going to where standard error went; a
            # sys.stderr that is not descriptor 2 (replaced by a caller) is
            # not touched by the diversion at all.
            if _on_descriptor_2(sys.stderr):
                sys.stderr = os.fdopen(os.dup(self._saved), "w", errors="backslashreplace", buffering=1,
                                       encoding=getattr(self._stderr, "encoding", None) or "utf-8")
        except OSError:
            # Out of descriptors: nothing is diverted, and nothing is kept open.
            if self._saved is not None:
                os.close(self._saved)
                self._saved = None
            self._file.close()
            raise
        os.dup2(self._file.fileno(), 2)
        return self

    def __exit__(self, *exc_info):
        # Set by __enter__, which leaves nothing set when it fails.
        assert self._saved is not None and self._file is not None
        diverted, sys.stderr = sys.stderr, self._stderr
        try:
            diverted.flush()
        finally:
            if diverted is not self._stderr:
                diverted.close()
            os.dup2(self._saved, 2)
            os.close(self._saved)
        self._file.seek(0)
        text = self._file.read().decode("utf-8", "backslashreplace")
        self._file.close()
        self.messages = [line.strip() for line in _CONTROL.sub("", text).splitlines() if line.strip()]
        return False

    def summary(self):
        if not self.messages:
            return []
        counts = collections.Counter(self.messages)
        lines = ["addrnorm: libpostal printed %d message%s (%d distinct) while running:" % (
            len(self.messages), "" if len(self.messages) == 1 else "s", len(counts))]
        for message, count in counts.most_common(SHOWN):
            lines.append("  %s%s" % (message, "" if count == 1 else "  (x%d)" % count))
        if len(counts) > SHOWN:
            lines.append("  ... and %d more distinct" % (len(counts) - SHOWN))
        return lines
