"""The calls the fuzzer on the real libpostal makes, and the ones it leaves
out: libpostal 1.1.3's known crash (see fuzz_real.py)."""
import re

LOWERCASE_POSITION = 7

TOKENS = [
    "Main", "St", "St.", "Ave", "Blvd", "Rd", "N", "SE", "Apt", "#2f", "Fl", "PO", "Box", "Rue", "de", "la", "Straße",
    "str.", "Calle", "C/", "Via", "V", "XX", "Sett", "улица", "ул.", "д.", "Ленина", "東京都", "丸の内", "서울", "ถนน",
    "شارع", "רחוב", "Ελλάδα", "1st", "Nineteen", "oh", "one", "Quatre", "vingt", "IV", "MCMXC", "5-19", "1/2", "12B",
    "00501", "&#x41;", "&amp;", "&#", "&#1114112;", "&#65;", "\u200f", "\u200e",
    "\u202e", "\u0301", "🏠", "🇺🇸", "\u00a0", "ida-b@wells.co", "http://x.y", "+1 (555) 010-9999", ",", ".", "-",
    "(", ")", "'s", "\t", "\n", "\ufeff", "\U0001d518", "\0",
]
LABELS = [
    "house", "category", "near", "house_number", "road", "unit", "level", "staircase", "entrance", "po_box",
    "building", "postcode", "suburb", "city_district", "city", "island", "state_district", "state",
    "country_region", "country", "world_region", "name", ""]
CODES = ["en", "fr", "de", "es", "it", "ru", "ja", "zh", "ko", "ar", "he", "th", "nl", "", "xx", "eng", "é"]
FLAG_VALUES = [0, 1, True, False, 2, -1, 2 ** 32, 2 ** 32 + 1, 2 ** 64]


SURROGATE_REFERENCE = re.compile(r"&#(5[5-7]\d{3});")


def texts_of(value):
    if isinstance(value, str):
        yield value
    elif isinstance(value, (list, tuple)):
        for item in value:
            for text in texts_of(item):
                yield text


def known_crash(expanding, args, kwargs):
    """Whether a call passes text of the kinds known to make libpostal crash:
    a numeric reference to a surrogate, or U+000F (a marker in libpostal's
    transliteration rules) beside other text that is not ASCII."""
    texts = list(texts_of(list(args) + list(kwargs.values())))
    beyond_ascii = any(not text.isascii() for text in texts)
    if beyond_ascii and any("\x0f" in text for text in texts):
        return True
    if not any(55296 <= int(found) <= 57343 for text in texts for found in SURROGATE_REFERENCE.findall(text)):
        return False
    return beyond_ascii or (expanding and ("lowercase" in kwargs or len(args) > LOWERCASE_POSITION))


def text(rng):
    def word():
        kind = rng.random()
        if kind < 0.01:
            return "&#%d;" % rng.choice([55296, 56256, 56321, 57343])
        if kind < 0.7:
            return rng.choice(TOKENS)
        if kind < 0.85:
            return str(rng.randint(0, 99999))
        # Any code point; a lone surrogate now and then, which is refused.
        return "".join(chr(rng.choice([rng.randint(1, 0x2FFF), rng.randint(1, 0x10FFFF)])) for _ in range(
            rng.randint(1, 5)))
    return rng.choice([" ", " ", ", ", "", "-"]).join(word() for _ in range(rng.randint(0, 14)))


def options(rng, names):
    return {name: rng.choice(FLAG_VALUES) for name in rng.sample(names, rng.randint(0, 5))}


def real_call(rng, corpus):
    """(which, args, kwargs): an expansion or a hash that reaches libpostal."""
    which = rng.randint(0, 1)
    if which == 0:
        kwargs = options(rng, list(corpus.EXPAND_KEYWORDS[2:]))
        if "address_components" in kwargs:
            kwargs["address_components"] = rng.randint(-1, 2 ** 17)
        args = [text(rng)]
    else:
        fields = [(rng.choice(LABELS), text(rng)) for _ in range(rng.randint(0, 7))]
        kwargs = options(rng, list(corpus.HASH_KEYWORDS[3:]))
        for name in ("latitude", "longitude"):
            if name in kwargs or rng.random() < 0.25:
                kwargs[name] = rng.choice([rng.uniform(-181, 181), rng.uniform(-181, 181), float("nan"),
                                           rng.uniform(-1e12, 1e12), 0.0])
        if "geohash_precision" in kwargs:
            kwargs["geohash_precision"] = rng.randint(-2, 20)
        args = [[label for label, _ in fields], [value for _, value in fields]]
    if rng.random() < 0.5:
        kwargs["languages"] = rng.sample(CODES, rng.randint(0, 3))
    return which, args, kwargs


# The tokenizer, normalization, guesses, name keys and place languages: their
# places in fuzz_real's list of functions, after the expansion and the hash.
TEXT_FUNCTIONS = ("tokenize", "normalize_string", "normalized_tokens", "classify_language", "near_dupe_name_hashes",
                  "place_languages")
# Option masks: none, single bits, libpostal's defaults, every bit.
MASKS = [0, 1, 2, 8, 0x40, 0x80, 0x100, 0x200, 0x3FF, 0xF5, 0x3D, 0x3C1, 2 ** 64 - 1]


def text_known_crash(args, kwargs):
    """libpostal's known crash, for the name keys, which expand the name as
    expand_address does: text with a surrogate reference or U+000F beside
    text that is not ASCII (the other text functions run on it unharmed)."""
    texts = list(texts_of(list(args) + list(kwargs.values())))
    beyond_ascii = any(not text.isascii() for text in texts)
    return beyond_ascii and any("\x0f" in text or SURROGATE_REFERENCE.search(text) for text in texts)


def text_call(rng, first):
    """(which, args, kwargs): one of the TEXT_FUNCTIONS, which are at first,
    first + 1, ... in the fuzzer's list, on address-like text."""
    offset = rng.randint(0, len(TEXT_FUNCTIONS) - 1)
    name = TEXT_FUNCTIONS[offset]
    kwargs = {}
    if name == "tokenize":
        kwargs = {key: rng.choice(FLAG_VALUES) for key in ("whitespace", "offsets") if rng.random() < 0.5}
    elif name == "normalize_string":
        kwargs = {"options": rng.choice(MASKS)} if rng.random() < 0.8 else {}
    elif name == "normalized_tokens":
        kwargs = {key: rng.choice(MASKS) for key in ("string_options", "token_options") if rng.random() < 0.7}
        if rng.random() < 0.3:
            kwargs["whitespace"] = rng.choice(FLAG_VALUES)
    elif name == "near_dupe_name_hashes":
        kwargs = options(rng, ["latin_ascii", "transliterate", "strip_accents", "decompose", "lowercase",
                               "trim_string", "replace_word_hyphens", "delete_word_hyphens", "expand_numex",
                               "roman_numerals", "delete_apostrophes", "split_alpha_from_numeric"])
    if name == "place_languages":
        fields = [(rng.choice(LABELS), text(rng)) for _ in range(rng.randint(0, 6))]
        args = [[label for label, _ in fields], [value for _, value in fields]]
    else:
        args = [text(rng)]
    if name in ("normalize_string", "normalized_tokens", "near_dupe_name_hashes") and rng.random() < 0.5:
        kwargs["languages"] = rng.sample(CODES, rng.randint(0, 3))
    return first + offset, args, kwargs


COUNTRIES = ["us", "US", "de", "fr", "jp", "ru", "gb", "", "x", "usa", "é"]


def real_parse_call(rng, corpus):
    """(0, args, kwargs): a parse of address-like text, now and then with a
    language or a country code (which libpostal 1.1 takes and does not use)."""
    args, kwargs = [text(rng)], {}
    if rng.random() < 0.3:
        kwargs["language"] = rng.choice(CODES)
    if rng.random() < 0.3:
        kwargs["country"] = rng.choice(COUNTRIES)
    return 0, args, kwargs
