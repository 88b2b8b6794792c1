"""Reading upstream's release archives: from an http(s) URL, a file:// URL or
a directory, streamed into a folder member by member, refusing any member
that could land outside it and any layout other than the one expected."""
import errno
import gzip
import os
import shutil
import sys
import tarfile
import typing
import zlib

from addrnorm.datadir import RELEASE

NETWORK_TIMEOUT = 60
# Errors of the disk being written, told apart from a broken download.
WRITE_ERRORS = {errno.ENOSPC, errno.EDQUOT, errno.EROFS, errno.EACCES, errno.EPERM}
CHUNK = 1 << 16


class Failure(Exception):
    """Ends the command with a one-line message and an exit status."""

    def __init__(self, message, status=1):
        Exception.__init__(self, message)
        self.status = status


def scheme_of(source):
    """The source's URL scheme ("" for a directory); any other form is a usage error."""
    scheme = source.split("://", 1)[0].lower() if "://" in source else ""
    if scheme not in ("", "file", "http", "https"):
        raise Failure("--from takes an http(s) URL, a file:// URL or a directory, not %s" % source, 2)
    return scheme


def open_archive(source, name):
    """(stream, size or None, where) of one archive; unreachable: status 2."""
    scheme = scheme_of(source)
    if scheme in ("http", "https"):
        import urllib.error
        import urllib.request

        url = "%s/%s/%s" % (source.rstrip("/"), RELEASE, name)
        try:
            response = urllib.request.urlopen(url, timeout=NETWORK_TIMEOUT)
        except urllib.error.HTTPError as error:
            error.close()
            raise Failure("%s: HTTP %d %s" % (url, error.code, error.reason), 2) from error
        except (urllib.error.URLError, OSError) as error:
            raise Failure("%s: unreachable: %s" % (url, getattr(error, "reason", error)), 2) from error
        length = response.headers.get("Content-Length", "")
        return response, int(length) if length.isdigit() else None, url
    if scheme == "file":
        import urllib.parse
        import urllib.request

        folder = urllib.request.url2pathname(urllib.parse.urlparse(source).path)
    else:
        folder = source
    path = os.path.join(folder, RELEASE, name)
    try:
        stream = open(path, "rb")
    except OSError as error:
        raise Failure("%s: %s" % (path, error.strerror), 2) from error
    return stream, os.fstat(stream.fileno()).st_size, path


class Counted:
    """Reads through a stream, counting the bytes (and showing them on a bar)."""

    def __init__(self, stream, bar):
        self.stream, self.bar, self.count = stream, bar, 0

    def read(self, size=-1):
        data = self.stream.read(size)
        self.count += len(data)
        if self.bar is not None:
            self.bar.update(len(data))
        return data


def member_path(member, folders):
    """The member's path inside the data directory, or None for a folder that
    needs no making; refuses anything that could land outside it."""
    name = member.name
    parts = [part for part in name.replace("\\", "/").split("/") if part not in ("", ".")]
    if name.startswith(("/", "\\")) or (len(name) > 1 and name[1] == ":"):
        raise Failure("refused member %s: an absolute path" % name)
    if ".." in parts:
        raise Failure("refused member %s: it leaves the directory" % name)
    if member.issym() or member.islnk():
        raise Failure("refused member %s: a link" % name)
    if not (member.isfile() or member.isdir()):
        raise Failure("refused member %s: not a file or folder" % name)
    if not parts:
        return None
    if parts[0] not in folders:
        raise Failure("unexpected layout: member %s is outside %s" % (name, ", ".join(folders)))
    return os.path.join(*parts)


def extract(stream, folders, into):
    """Unpacks a gzipped tar stream into the folder, member by member."""
    # A binary file, which older releases of the standard library's stubs do
    # not count as IO[bytes].
    unpacked = typing.cast(typing.IO[bytes], gzip.GzipFile(fileobj=stream, mode="rb"))
    seen = set()
    with tarfile.open(fileobj=unpacked, mode="r|") as archive:
        for member in archive:
            relative = member_path(member, folders)
            if relative is None:
                continue
            target = os.path.join(into, relative)
            if member.isdir():
                os.makedirs(target, exist_ok=True)
                continue
            if relative in seen:
                raise Failure("unexpected layout: member %s appears twice" % member.name)
            seen.add(relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            content = archive.extractfile(member)
            assert content is not None  # member_path lets only files and folders through
            with open(target, "wb") as out:
                shutil.copyfileobj(content, out, CHUNK)
    # The gzip trailer's checksum and length are checked at the very end.
    while unpacked.read(CHUNK):
        pass


def fetch(source, name, folders, into, progress):
    import http.client

    stream, size, where = open_archive(source, name)
    bar = None
    if progress:
        from tqdm import tqdm

        bar = tqdm(total=size, unit="B", unit_scale=True, desc=name, file=sys.stderr)
    counted = Counted(stream, bar)
    try:
        extract(counted, folders, into)
        if size is not None and counted.count != size:
            raise Failure("%s: got %d of %d bytes" % (where, counted.count, size))
    except OSError as error:
        if error.errno in WRITE_ERRORS:
            raise Failure("cannot write %s: %s" % (error.filename or into, error.strerror)) from error
        raise Failure("%s: interrupted, truncated or corrupt: %s" % (where, error)) from error
    except (EOFError, zlib.error, tarfile.TarError, http.client.HTTPException) as error:
        raise Failure("%s: interrupted, truncated or corrupt: %s" % (
            where, error or error.__class__.__name__)) from error
    finally:
        stream.close()
        if bar is not None:
            bar.close()
