"""addrnorm data download and info, against archives the tests make, served
from a loopback server, a file:// URL or a directory.  Every failure must
leave the data already installed as it was, with nothing left beside it."""
import errno
import os
import signal
import socket
import subprocess
import sys

import pytest

from addrnorm import cli
from addrnorm.data import archives as archive
from terminal import run_on_a_terminal
from tqdm import tqdm

from data_archives import (BASE, CLASSIFIER, PARSER as PARSER_ARCHIVE, SIGNATURES, Server, archive as make_archive,
                           data_files, lay_out, parser_files, release, snapshot, tar_gz)

# Under valgrind only the good download runs: it is the one path on which
# the modules set libpostal up from new data (in the check's child); the rest
# is the command's own Python, with children that valgrind would slow tenfold.
python_only = pytest.mark.pure_python

MARKERS = {"data_version": b"v1\n", "base_data_file_version": b"v1.0.0\n",
           "language_classifier_model_file_version": b"v1.0.0\n"}
PARSER = os.path.join("address_parser", "address_parser.dat")


@pytest.fixture(scope="module")
def files():
    """The data files: the real ones when ADDRNORM_REAL_DATA names them."""
    return data_files()


@pytest.fixture(scope="module")
def good(files):
    return release(files)


@pytest.fixture(scope="module")
def stand_ins():
    """Stand-in files, for the failures that never reach libpostal."""
    files = data_files(real=None)
    return files, release(files)


@pytest.fixture
def server(monkeypatch):
    monkeypatch.setattr(archive, "NETWORK_TIMEOUT", 15)
    monkeypatch.setenv("no_proxy", "127.0.0.1")  # a proxy of the machine's never sees the test's traffic
    serving = Server()
    yield serving
    serving.close()


@pytest.fixture
def target(tmp_path):
    """A data directory, alone in its folder, holding earlier data of an older
    release and the parser's data, which no download touches."""
    folder = tmp_path / "home" / "data"
    for name, marker in MARKERS.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(marker.replace(b"v1", b"v0.9"))
    for name in list(SIGNATURES) + ["address_parser/address_parser.dat"]:
        path = folder.joinpath(*name.split("/"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"earlier " + name.encode())
    return folder


def data(*argv):
    return cli.main(["data"] + list(argv))


def one_line(capsys):
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and err.startswith("addrnorm: "), err
    return err


def test_a_good_download_installs_checked_data_and_its_markers(server, good, files, target, capsys):
    server.archives.update(good)
    assert data("download", "--dir", str(target), "--from", server.url) == 0
    assert "installed in %s" % target in one_line(capsys)
    assert server.requests == ["/v1.0.0/" + BASE, "/v1.0.0/" + CLASSIFIER]
    got = snapshot(str(target))
    assert {name: got[os.path.join(*name.split("/"))] for name in files} == files
    assert {name: got[name] for name in MARKERS} == MARKERS
    assert got[PARSER] == b"earlier address_parser/address_parser.dat"
    assert sorted(os.listdir(str(target.parent))) == ["data"]

    # Up to date: nothing is fetched; --force fetches it again.
    assert data("download", "--dir", str(target), "--from", server.url) == 0
    assert "up to date" in one_line(capsys) and len(server.requests) == 2
    assert data("download", "--dir", str(target), "--from", server.url, "--force") == 0
    assert "installed" in one_line(capsys) and len(server.requests) == 4
    assert snapshot(str(target)) == got


# Under valgrind every check is a slow child; both forms end in the same file reader.
@python_only
@pytest.mark.parametrize("form", ["directory", "file-url"])
def test_a_directory_or_a_file_url_is_a_source(tmp_path, good, files, form, capsys):
    folder = lay_out(str(tmp_path / "mirror"), good)
    source = folder if form == "directory" else "file://" + folder
    assert data("download", "--dir", str(tmp_path / "data"), "--from", source) == 0
    one_line(capsys)
    assert (tmp_path / "data" / "numex" / "numex.dat").read_bytes() == files["numex/numex.dat"]


def flipped(body):
    """The archive with bytes in its middle changed, as a damaged transfer would."""
    changed = bytearray(body)
    for at in range(len(changed) // 2, len(changed) // 2 + 64):
        changed[at] ^= 0x55
    return bytes(changed)


def bad_checksum(body):
    """The archive with its gzip trailer's checksum wrong: only a reader that
    reads to the very end sees it."""
    return body[:-8] + bytes([body[-8] ^ 0xFF]) + body[-7:]


def closed_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def unsigned():
    """A base archive whose dictionary lacks its signature: libpostal refuses
    it at set-up, after loading the other two (the real ones, when given)."""
    files = dict(data_files(), **{"address_expansions/address_dictionary.dat": b"\0\0\0\0 no signature\n"})
    return {BASE: make_archive(BASE, files)}


# Each: how the server is set up (server, files, good archives, test folder)
# and what --from is, then the exit status and the message.
FAILURES = [
    ("cut-mid-body", lambda s, f, g, t: s.cut.update({BASE: len(g[BASE]) // 2}), 1, "truncated"),
    ("classifier-cut", lambda s, f, g, t: s.cut.update({CLASSIFIER: len(g[CLASSIFIER]) // 3}), 1, "truncated"),
    ("corrupt-gzip", lambda s, f, g, t: s.archives.update({BASE: flipped(g[BASE])}), 1, "corrupt"),
    ("gzip-checksum", lambda s, f, g, t: s.archives.update({CLASSIFIER: bad_checksum(g[CLASSIFIER])}), 1,
     "CRC check failed"),
    ("parent-member", lambda s, f, g, t: s.archives.update(release(f, [("../evil", b"x")])), 1,
     "refused member ../evil: it leaves the directory"),
    ("nested-parent-member", lambda s, f, g, t: s.archives.update(release(f, [("numex/../../evil", b"x")])), 1,
     "leaves the directory"),
    ("absolute-member", lambda s, f, g, t: s.archives.update(release(f, [(t + "/evil", b"x")])), 1,
     "an absolute path"),
    ("symlink-member", lambda s, f, g, t: s.archives.update(release(f, [("numex/evil", "symlink", t + "/evil")])),
     1, "refused member numex/evil: a link"),
    ("hardlink-member", lambda s, f, g, t: s.archives.update(
        release(f, [("numex/evil", "hardlink", "numex/numex.dat")])), 1, "a link"),
    ("extra-top-folder", lambda s, f, g, t: s.archives.update({BASE: tar_gz(
        [("libpostal_data/" + name, body) for name, body in f.items()])}), 1, "unexpected layout"),
    ("missing-member", lambda s, f, g, t: s.archives.update(release(f, base_only=[
        "address_expansions/address_dictionary.dat", "transliteration/transliteration.dat"])), 1,
     "the archives lack numex/numex.dat"),
    ("failing-check", lambda s, f, g, t: s.archives.update(unsigned()), 1,
     "libpostal could not use the new data"),
    ("not-found", lambda s, f, g, t: s.archives.pop(CLASSIFIER), 2, "language_classifier.tar.gz: HTTP 404"),
    ("unreachable", lambda s, f, g, t: "http://127.0.0.1:%d" % closed_port(), 2, "unreachable"),
    ("other-scheme", lambda s, f, g, t: "ftp://127.0.0.1/", 2, "--from takes an http(s) URL"),
    ("no-such-directory", lambda s, f, g, t: t + "/nowhere", 2, "No such file or directory"),
]


@python_only
@pytest.mark.parametrize("name, arrange, status, message", FAILURES, ids=[row[0] for row in FAILURES])
def test_a_failed_download_leaves_the_earlier_data_untouched(server, stand_ins, target, tmp_path, capsys, name,
                                                              arrange, status, message):
    files, good = stand_ins
    server.archives.update(good)
    source = arrange(server, files, good, str(tmp_path))
    before = snapshot(str(tmp_path / "home"))
    assert data("download", "--dir", str(target), "--from", source if isinstance(source, str) else server.url) == status
    assert message in one_line(capsys)
    assert snapshot(str(tmp_path / "home")) == before
    assert not (tmp_path / "evil").exists()


class FullDisk:
    """A file that takes only so many bytes before the disk is full."""

    room = 100

    def __init__(self, path, mode):
        self.file = open(path, mode)

    def write(self, data):
        if len(data) > FullDisk.room:
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC), self.file.name)
        FullDisk.room -= len(data)
        return self.file.write(data)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.file.close()


@python_only
def test_a_full_disk_leaves_the_earlier_data_untouched(server, stand_ins, target, tmp_path, capsys, monkeypatch):
    server.archives.update(stand_ins[1])
    monkeypatch.setattr(FullDisk, "room", 100)
    monkeypatch.setattr(archive, "open", FullDisk, raising=False)
    before = snapshot(str(tmp_path / "home"))
    assert data("download", "--dir", str(target), "--from", server.url) == 1
    err = one_line(capsys)
    assert "cannot write " in err and "No space left on device" in err
    assert snapshot(str(tmp_path / "home")) == before


@python_only
def test_a_terminated_download_cleans_up(server, stand_ins, target, tmp_path):
    _, good = stand_ins
    server.archives.update(good)
    server.stall[BASE] = len(good[BASE]) // 2
    before = snapshot(str(tmp_path / "home"))
    process = subprocess.Popen([sys.executable, "-m", "addrnorm", "data", "download", "--dir", str(target), "--from",
                                server.url], stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    try:
        assert server.stalling.wait(120), "the download never started"
        process.send_signal(signal.SIGTERM)
        _, err = process.communicate(timeout=120)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait(timeout=60)
    assert process.returncode == 128 + signal.SIGTERM
    assert err == "addrnorm: data download: interrupted by signal %d\n" % signal.SIGTERM
    assert snapshot(str(tmp_path / "home")) == before


@python_only
def test_progress_with_sizes_on_a_terminal_into_the_own_directory(tmp_path, good):
    source = lay_out(str(tmp_path / "mirror"), good)
    env = dict(os.environ, XDG_DATA_HOME=str(tmp_path / "xdg"))
    env.pop("LIBPOSTAL_DATA_DIR", None)
    process, shown = run_on_a_terminal(["data", "download", "--from", source], columns=100, env=env)
    assert process.returncode == 0, shown
    assert b"libpostal_data.tar.gz: 100%" in shown and b"language_classifier.tar.gz: 100%" in shown, shown
    for name in (BASE, CLASSIFIER):
        assert tqdm.format_sizeof(len(good[name])).encode() in shown, shown
    assert b"installed in " + str(tmp_path / "xdg" / "addrnorm").encode() in shown
    assert not (tmp_path / "xdg" / "addrnorm" / "address_parser").exists()
    assert (tmp_path / "xdg" / "addrnorm" / "data_version").read_bytes() == b"v1\n"


# The parser's model, on request only.

def parser_release(files, parser):
    return dict(release(files), **{PARSER_ARCHIVE: make_archive(PARSER_ARCHIVE, parser, only=list(parser))})


def test_with_parser_the_model_is_fetched_checked_and_replaces_the_old(server, files, target, capsys):
    parser = parser_files()
    server.archives.update(parser_release(files, parser))
    (target / "address_parser" / "address_parser_crf.dat").write_bytes(b"earlier model")
    assert data("download", "--parser", "--dir", str(target), "--from", server.url) == 0
    said = one_line(capsys)
    assert "8 files" in said and "checked by expanding and parsing an address" in said
    assert server.requests == ["/v1.0.0/" + name for name in (BASE, CLASSIFIER, PARSER_ARCHIVE)]
    got = snapshot(str(target))
    assert {name: got[os.path.join(*name.split("/"))] for name in parser} == parser
    assert got["parser_model_file_version"] == b"v1.0.0\n"
    # The whole old folder goes: a file the release does not hold with it.
    assert PARSER not in got
    assert sorted(os.listdir(str(target.parent))) == ["data"]
    # Up to date with the parser; without --parser, the base alone is asked
    # about, and the parser's files are kept.
    assert data("download", "--parser", "--dir", str(target), "--from", server.url) == 0
    assert "up to date" in one_line(capsys) and len(server.requests) == 3
    assert data("download", "--dir", str(target), "--from", server.url, "--force") == 0
    one_line(capsys)
    assert server.requests[3:] == ["/v1.0.0/" + BASE, "/v1.0.0/" + CLASSIFIER]
    assert snapshot(str(target)) == got


@python_only
@pytest.mark.parametrize("change, message", [
    ({"address_parser/address_parser_vocab.trie": b"\0\0\0\0 no signature"}, "libpostal could not use the new data"),
    ({"address_parser/address_parser_phrases.dat": None}, "the archives lack address_parser/address_parser_phrases.dat"),
], ids=["unsigned", "missing"])
def test_a_bad_parser_archive_leaves_the_data_as_it_was(server, files, target, capsys, change, message):
    parser = {name: body for name, body in dict(parser_files(), **change).items() if body is not None}
    server.archives.update(parser_release(files, parser))
    before = snapshot(str(target))
    assert data("download", "--parser", "--dir", str(target), "--from", server.url) == 1
    assert message in one_line(capsys)
    assert snapshot(str(target)) == before and sorted(os.listdir(str(target.parent))) == ["data"]


@python_only
def test_info_tells_whether_parsing_is_available(tmp_path, capsys):
    folder = tmp_path / "data"
    for name, body in list(data_files(real=None).items()) + list(parser_files().items()):
        folder.joinpath(*name.split("/")).parent.mkdir(parents=True, exist_ok=True)
        folder.joinpath(*name.split("/")).write_bytes(body)
    assert data("info", "--dir", str(folder)) == 0
    out = capsys.readouterr().out
    for name, body in parser_files().items():
        assert any(line.split()[:1] == [name] and "%10d bytes" % len(body) in line for line in out.splitlines()), out
    assert out.splitlines()[-1] == "parsing: available"
    os.remove(str(folder.joinpath("address_parser", "address_parser_vocab.trie")))
    # The parser is opt-in: without it the data is still complete.
    assert data("info", "--dir", str(folder)) == 0
    out = capsys.readouterr().out
    assert "complete" in out.splitlines()
    assert out.splitlines()[-1] == ("parsing: not available (the parser's files are missing; 'addrnorm data download "
                                    "--parser --dir %s' fetches them, 570 MB)" % folder)
