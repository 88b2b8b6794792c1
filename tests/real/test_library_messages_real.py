"""libpostal's own warnings (coloured, on descriptor 2) never reach the
command's output, and reach its standard error only as one clean summary."""
import subprocess
import sys

import support

# An unpaired surrogate from HTML entities: libpostal warns that the string
# is not valid UTF-8 when it transliterates it.
WARNED = "5-19&#56256;&#56321; Nakamachi"


def test_expand_keeps_its_output_readable_when_libpostal_warns():
    child = subprocess.run([sys.executable, "-m", "addrnorm", "expand", WARNED, "30 W 26th St"],
                           env=support.child_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    assert child.returncode == 0, child.stderr
    out = child.stdout.decode("utf-8")
    assert "30 west 26th street" in out.split("\n\n")[1].splitlines(), out
    assert "invalid UTF-8" not in out and "\x1b" not in out
    err = child.stderr.decode("utf-8")
    assert "\x1b" not in err, err
    lines = err.splitlines()
    # The run's own summary, then libpostal's.
    assert lines[0] == "addrnorm: 2 addresses, 9 expansions", err
    assert lines[1].startswith("addrnorm: libpostal printed "), err
    assert any("invalid UTF-8" in line for line in lines[2:]), err
