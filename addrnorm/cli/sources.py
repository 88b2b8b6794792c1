"""The addrnorm command's input as lines of text: from a file or standard
input, gzip-compressed or not, in any encoding Python knows."""
import codecs
import gzip
import io
import os
import stat
import sys
import zlib

from addrnorm.cli.errors import InputError

_GZIP_MAGIC = b"\x1f\x8b"


def check_encoding(encoding):
    """The name messages use for an encoding; an unknown one is an InputError."""
    try:
        name = codecs.lookup(encoding).name
    except LookupError:
        raise InputError("--encoding: no encoding %r" % encoding) from None
    return "UTF-8" if name == "utf-8" else encoding


class Source:
    """An input opened for reading: a name for messages, its size in bytes
    when known, its lines as text, and how far the reading has got."""

    def __init__(self, stream, name, encoding="utf-8"):
        if not hasattr(stream, "peek"):
            stream = io.BufferedReader(stream)
        self.name, self.raw = name, stream
        self.encoding = check_encoding(encoding)
        self.size = _regular_size(stream)
        # Compressed input is told by its first bytes, not by its name, so
        # that standard input may be compressed too.
        self.compressed = stream.peek(2)[:2] == _GZIP_MAGIC
        binary = gzip.GzipFile(fileobj=stream, mode="rb") if self.compressed else stream
        # Undecodable bytes are kept as surrogates, so that the record they
        # are in is refused, not the file; lines end at "\n" alone, as a
        # bare "\r" may be data inside a quoted CSV field.
        self.text = io.TextIOWrapper(binary, encoding=encoding, errors="surrogateescape", newline="\n")

    def lines(self):
        """(line number, text without its line break) per line; a byte-order
        mark at the start is not part of the first line."""
        number = 0
        try:
            for number, line in enumerate(self.text, 1):
                if number == 1 and line.startswith("\ufeff"):
                    line = line[1:]
                yield number, line.rstrip("\r\n")
        except UnicodeDecodeError as error:
            raise InputError("%s: line %d: not %s: %s" % (
                self.name, number + 1, self.encoding, error.reason)) from error
        except (OSError, EOFError, zlib.error) as error:
            what = "gzip data: " if self.compressed else ""
            raise InputError("%s: line %d: %s%s" % (self.name, number + 1, what, error)) from error

    def position(self):
        """The bytes read so far of the file (compressed, if it is)."""
        try:
            return self.raw.tell()
        except (OSError, ValueError):
            return None


def _regular_size(stream):
    try:
        status = os.fstat(stream.fileno())
    except (OSError, AttributeError, io.UnsupportedOperation):
        return None
    return status.st_size if stat.S_ISREG(status.st_mode) else None


def open_input(path, encoding="utf-8"):
    """A Source; "-" is standard input."""
    check_encoding(encoding)
    if path == "-":
        if sys.stdin is None:
            # Started with standard input closed (<&-).
            raise InputError("<stdin>: standard input is closed")
        return Source(sys.stdin.buffer, "<stdin>", encoding)
    try:
        return Source(open(path, "rb"), path, encoding)
    except OSError as error:
        raise InputError("%s: %s" % (path, error.strerror)) from error
