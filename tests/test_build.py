"""What the built modules expose to the dynamic linker."""
import subprocess

import pytest

from addrnorm import _duplicate, _expand, _kinhash, _parser, _text, _wordclass


def dynamic(tool, *args):
    return subprocess.run([tool] + list(args), stdout=subprocess.PIPE, universal_newlines=True,
                          check=True, timeout=60).stdout


@pytest.mark.parametrize("module", [_expand, _kinhash, _duplicate, _parser, _text, _wordclass],
                         ids=lambda m: m.__name__)
def test_each_module_exports_its_init_function_only(module):
    defined = dynamic("nm", "-D", "--defined-only", module.__file__).split("\n")
    symbols = [line.split()[-1] for line in defined if line.strip()]
    assert symbols == ["PyInit_" + module.__name__.rsplit(".", 1)[1]]


@pytest.mark.parametrize("module, links", [(_expand, True), (_kinhash, True), (_duplicate, True), (_parser, True),
                                           (_text, True), (_wordclass, False)],
                         ids=lambda m: getattr(m, "__name__", str(m)))
def test_only_the_library_modules_link_libpostal(module, links):
    needed = [line for line in dynamic("readelf", "-d", module.__file__).splitlines() if "(NEEDED)" in line]
    assert any("[libpostal.so.1]" in line for line in needed) == links
