"""Language codes as the package's functions take them: refused at the
package level where the extension functions would take them silently and
wrongly (a str is taken one character per code; "EN", "en-US" or "english"
reach libpostal as codes it does not know)."""
import collections.abc
import re
from typing import Set

_LANGUAGE_CODE = re.compile(r"[a-z]{2,3}")

# The languages libpostal 1.1 has dictionaries for (its
# resources/dictionaries, less "all", the phrases of every language).  A
# code outside them reaches libpostal as a language without a phrase:
# nothing of it is expanded ("gb" is a country, British English is "en").
KNOWN = (
    "af", "ar", "ast", "az", "be", "bg", "br", "bs", "ca", "cs", "cy", "da", "de", "el", "en", "es", "et", "eu",
    "fa", "fi", "fil", "fr", "ga", "gd", "gl", "gsw", "he", "hi", "hr", "hu", "id", "is", "it", "ja", "ka", "ko",
    "lb", "lt", "lv", "ms", "mt", "nb", "nl", "oc", "pap", "pl", "pt", "ro", "ru", "si", "sk", "sl", "sr", "sv",
    "th", "tr", "uk", "ur", "vi", "zh",
)
_KNOWN = frozenset(KNOWN)

# Codes already warned of: once a process, not once a call.
_warned: Set[str] = set()


class UnknownLanguageWarning(UserWarning):
    """A language code libpostal has no dictionary for."""


def unknown_message(codes):
    """What to say of codes libpostal has no dictionary for."""
    return ("libpostal has no dictionary for %s, so nothing is expanded as %s; it knows %s" % (
        ", ".join(map(repr, codes)), "its language" if len(codes) == 1 else "their languages", ", ".join(KNOWN)))

# Codes already found well formed, so that a call with the usual one or two
# codes costs a set look-up per code, not a regular expression.  At most
# 26**2 + 26**3 entries.
_good_codes: Set[str] = set()


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
    if code not in _KNOWN:
        # A warning, not an error: codes from elsewhere (a classifier's
        # guesses, a column of the data) may name languages libpostal lacks,
        # and the call still normalizes the text.
        if code not in _warned:
            _warned.add(code)
            import warnings

            warnings.warn("languages: " + unknown_message([code]), UnknownLanguageWarning, stacklevel=4)
        return
    if type(code) is str:
        _good_codes.add(code)
