"""Language codes as the package's functions take them: refused at the
package level where the extension functions would take them silently and
wrongly (a str is taken one character per code; "EN", "en-US" or "english"
reach libpostal as codes it does not know)."""
import collections.abc
import re
from typing import Set

_LANGUAGE_CODE = re.compile(r"[a-z]{2,3}")

# Codes already found well formed, so that a call with the usual one or two
# codes costs a set look-up per code, not a regular expression.  At most
# 26**2 + 26**3 entries.
_good_codes = set()  # type: Set[str]


def check_languages(languages):
    """Refuses at the package level what the extension functions would take
    silently and wrongly: a str (taken one character per code) and codes
    that cannot be language codes, such as "EN", "en-US" or "english"."""
    if type(languages) is not list and type(languages) is not tuple:
        if isinstance(languages, str):
            import json

            codes = [code for code in re.split(r"[\s,;]+", languages) if code] or ["en"]
            raise TypeError("languages must be a list of language codes such as %s, not the str %s"
                            % (json.dumps(codes, ensure_ascii=False), json.dumps(languages, ensure_ascii=False)))
        if not isinstance(languages, collections.abc.Sequence):
            return
    for code in languages:
        if type(code) is not str or code not in _good_codes:
            check_code(code)


def check_code(code):
    # Elements that are not str are left to the extension function, which
    # refuses them with its own message.
    if not isinstance(code, str):
        return
    if _LANGUAGE_CODE.fullmatch(code) is None:
        raise ValueError("languages: %r is not a language code; give ISO 639-1 codes in lower case such as "
                         "\"en\" or \"fr\" (or a three-letter code)" % (code,))
    if type(code) is str:
        _good_codes.add(code)
