"""A new user's first day with the real data: `addrnorm data download` into
addrnorm's own data directory (no LIBPOSTAL_DATA_DIR), from a local mirror and
from a loopback server holding release archives made of the real files; then
`addrnorm data info` and a real expansion from that directory."""
import os
import subprocess
import sys

import pytest

import support

sys.path.insert(0, support.TESTS)
from data_archives import Server, data_files, lay_out, release  # noqa: E402

ADDRESS = "781 Franklin Ave Crown Hts Brooklyn NY"
EXPECTED = "781 franklin avenue crown heights brooklyn new york"


@pytest.fixture(scope="module")
def real_release():
    return release(data_files(real=os.environ["LIBPOSTAL_DATA_DIR"]))


def command(home, *argv):
    env = support.child_env(XDG_DATA_HOME=str(home), no_proxy="127.0.0.1")
    env.pop("LIBPOSTAL_DATA_DIR")
    return subprocess.run([sys.executable, "-m", "addrnorm"] + list(argv), env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, universal_newlines=True, timeout=600)


@pytest.mark.parametrize("served", ["mirror", "http"])
def test_download_into_the_own_directory_then_expand(tmp_path, real_release, served):
    home = tmp_path / "xdg"
    home.mkdir()
    server = Server() if served == "http" else None
    try:
        if server:
            server.archives.update(real_release)
            source = server.url
        else:
            source = lay_out(str(tmp_path / "mirror"), real_release)
        before = command(home, "expand", ADDRESS)
        assert before.returncode == 2 and "addrnorm data download" in before.stderr, before.stderr
        download = command(home, "data", "download", "--from", source)
        assert download.returncode == 0, download.stderr
    finally:
        if server:
            server.close()
    own = home / "addrnorm"
    assert (own / "address_expansions" / "address_dictionary.dat").is_file(), sorted(os.listdir(str(home)))

    info = command(home, "data", "info")
    assert info.returncode == 0, info.stdout + info.stderr
    assert str(own) in info.stdout + info.stderr

    expanded = command(home, "expand", ADDRESS)
    assert expanded.returncode == 0, expanded.stderr
    assert EXPECTED in expanded.stdout.splitlines(), expanded.stdout


def parser_archive():
    """upstream's parser.tar.gz, made once from the parser's files in the
    data directory and kept beside it (outside the clone), as building it
    takes a minute: later runs on the machine reuse it."""
    import tarfile

    data = os.environ["LIBPOSTAL_DATA_DIR"]
    kept = os.path.join(os.path.dirname(os.path.abspath(data)), "parser-mirror", "parser.tar.gz")
    if not os.path.exists(kept):
        os.makedirs(os.path.dirname(kept), exist_ok=True)
        partial = kept + ".%d.partial" % os.getpid()
        with tarfile.open(partial, "w:gz", compresslevel=1) as archive:
            archive.add(os.path.join(data, "address_parser"), "address_parser")
        os.rename(partial, kept)
    return kept


def test_download_with_the_parser_then_parse(tmp_path, real_release):
    home = tmp_path / "xdg"
    home.mkdir()
    source = lay_out(str(tmp_path / "mirror"), real_release)
    os.symlink(parser_archive(), os.path.join(source, "v1.0.0", "parser.tar.gz"))
    before = command(home, "parse", ADDRESS)
    assert before.returncode == 2 and "addrnorm data download" in before.stderr, before.stderr
    download = command(home, "data", "download", "--parser", "--from", source)
    assert download.returncode == 0, download.stderr
    assert "checked by expanding and parsing an address" in download.stderr, download.stderr
    info = command(home, "data", "info")
    assert info.returncode == 0 and info.stdout.splitlines()[-1] == "parsing: available", info.stdout
    parsed = command(home, "parse", "781 Franklin Ave Crown Hts Brooklyn NY 11216")
    assert parsed.returncode == 0, parsed.stderr
    assert parsed.stdout == (
        '{"line": 1, "input": "781 Franklin Ave Crown Hts Brooklyn NY 11216", "parsed": {"house_number": "781", '
        '"road": "franklin ave", "suburb": "crown hts", "city_district": "brooklyn", "state": "ny", '
        '"postcode": "11216"}}\n')
