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
