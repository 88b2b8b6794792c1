"""Hypothesis strategies for the argument fuzzer: awkward objects of every kind
a batch job may hand the functions, and argument lists built from them."""
from hypothesis import strategies as st

from addrnorm import options


class FuzzError(Exception):
    """Raised by the corpus's own objects; a call may let it through."""


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return "Index(%r)" % self.value


class RaisingIndex:
    def __index__(self):
        raise FuzzError("__index__")


class Street(str):
    pass


class Raw(bytes):
    pass


class Sequence:
    """A sequence whose length and items are chosen, and may raise."""

    def __init__(self, items, length, fail):
        self.items, self.length, self.fail = items, length, fail

    def __len__(self):
        if self.fail == "len":
            raise FuzzError("__len__")
        return self.length

    def __getitem__(self, index):
        if self.fail == "item":
            raise FuzzError("__getitem__")
        return self.items[index]

    def __iter__(self):
        if self.fail == "iter":
            raise FuzzError("__iter__")
        return iter(self.items)

    def __repr__(self):
        return "Sequence(%r, length=%r, fail=%r)" % (self.items, self.length, self.fail)


BOUNDARIES = [0, 1, 2, 255, 256, 2 ** 15, 2 ** 16 - 1, 2 ** 16, 2 ** 31 - 1, 2 ** 31, 2 ** 32 - 1, 2 ** 32,
              2 ** 32 + 1, 2 ** 63, 2 ** 64, 2 ** 100]
integers = st.one_of(st.sampled_from(BOUNDARIES + [-n for n in BOUNDARIES]), st.integers())

texts = st.one_of(
    st.text(max_size=12),
    st.sampled_from(["", "en", "fr", "de", "eng", "engl", "é", "éé", "\0", "a\0b", "\ud800", "x\udfff",
                     "𝔘𝔫", "A\u0301", "東京", "Straße", "house", "road", "city", "postcode"]),
    st.integers(min_value=1, max_value=20000).map(lambda n: "Main St " * (n // 8 + 1)),
    st.text(max_size=6).map(Street),
)

leaves = st.one_of(
    st.none(), st.booleans(), integers, st.floats(), texts, st.binary(max_size=8),
    st.binary(max_size=8).map(bytearray), st.binary(max_size=4).map(Raw),
    integers.map(Index), st.just(RaisingIndex()),
)


def containers(children):
    return st.one_of(
        st.lists(children, max_size=5), st.lists(children, max_size=5).map(tuple),
        st.sets(texts, max_size=3), st.dictionaries(texts, children, max_size=3),
        st.lists(children, max_size=4).map(lambda items: (item for item in items)),
        st.builds(Sequence, st.lists(children, max_size=4), st.integers(-2, 6),
                  st.sampled_from([None, None, "len", "item", "iter"])),
    )


awkward = st.recursive(leaves, containers, max_leaves=8)
code_lists = st.one_of(st.lists(texts, max_size=4), st.lists(texts, max_size=4).map(tuple), awkward)

# Every parameter, the leading ones included.
EXPAND_KEYWORDS = ("address",) + options.EXPAND_KEYWORDS
HASH_KEYWORDS = ("labels", "values") + options.HASH_KEYWORDS
FIELD_KEYWORDS = ("value1", "value2", "languages")
TOPONYM_KEYWORDS = ("labels1", "values1", "labels2", "values2", "languages")
FUZZY_KEYWORDS = ("tokens1", "scores1", "tokens2", "scores2", "languages", "needs_review_threshold",
                  "likely_dupe_threshold")
# The tokenizer, normalization, guesses, name keys and place languages.
TOKENIZE_KEYWORDS = ("text", "whitespace", "offsets")
NORMALIZE_KEYWORDS = ("text", "options", "languages")
NORMALIZED_TOKENS_KEYWORDS = ("text", "string_options", "token_options", "whitespace", "languages")
CLASSIFY_KEYWORDS = ("text",)
NAME_HASH_KEYWORDS = ("name",) + options.EXPAND_KEYWORDS[:-1]
PLACE_KEYWORDS = ("labels", "values")
PARSE_KEYWORDS = ("address", "language", "country")
# Leading required parameters, where they are not all before languages.
REQUIRED = {TOKENIZE_KEYWORDS: 1, NORMALIZE_KEYWORDS: 1, NORMALIZED_TOKENS_KEYWORDS: 1, CLASSIFY_KEYWORDS: 1,
            PLACE_KEYWORDS: 2, PARSE_KEYWORDS: 1}
STRANGERS = ("text", "language", "label", "bogus", "")


def value_for(keyword):
    """Mostly values of the right kind, sometimes anything at all."""
    if keyword in ("address", "value1", "value2", "text", "name"):
        plausible = texts
    elif keyword in ("languages",):
        plausible = code_lists
    elif keyword in ("language", "country"):
        plausible = st.one_of(texts, st.none())
    elif keyword in ("labels", "values", "labels1", "values1", "labels2", "values2", "tokens1", "tokens2"):
        plausible = st.one_of(st.lists(texts, max_size=5), st.lists(texts, max_size=5).map(tuple))
    elif keyword in ("scores1", "scores2"):
        plausible = st.lists(st.one_of(st.floats(), integers), max_size=5)
    elif keyword in ("latitude", "longitude", "needs_review_threshold", "likely_dupe_threshold"):
        plausible = st.one_of(st.floats(), integers)
    else:
        plausible = st.one_of(st.booleans(), integers)
    return st.one_of(plausible, plausible, plausible, plausible, awkward)


@st.composite
def argument_lists(draw, keywords):
    required = REQUIRED[keywords] if keywords in REQUIRED else keywords.index("languages")
    positional = draw(st.one_of(st.just(required), st.integers(0, required + 2), st.integers(0, len(keywords) + 2)))
    args = [draw(value_for(keywords[i] if i < len(keywords) else "")) for i in range(positional)]
    names = draw(st.lists(st.one_of(st.sampled_from(keywords[required:] or keywords),
                                    st.sampled_from(keywords + STRANGERS)),
                          max_size=4, unique=True))
    kwargs = {name: draw(value_for(name)) for name in names}
    return args, kwargs


# What the double answers: NUL-free byte strings, valid UTF-8 or not, an
# empty array, or null.
results = st.one_of(
    st.none(), st.just([]),
    st.lists(st.one_of(st.text(max_size=10).map(lambda t: t.replace("\0", "").encode("utf-8", "replace")),
                       st.binary(max_size=6).map(lambda b: b.replace(b"\0", b"\xff"))), max_size=5),
)

# The tokens the double's tokenizer answers (byte offsets and lengths, which
# may lie outside the text), or None for tokens of the text itself.
token_results = st.one_of(
    st.none(),
    st.lists(st.tuples(st.one_of(st.integers(0, 40), st.sampled_from([2 ** 63, 2 ** 64 - 1])),
                       st.one_of(st.integers(0, 40), st.sampled_from([2 ** 64 - 1])), st.integers(0, 2 ** 16 - 1)),
             max_size=5),
)
