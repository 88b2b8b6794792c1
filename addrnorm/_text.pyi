# Token types are codes (addrnorm.TokenType's values); the option masks'
# defaults are libpostal's LIBPOSTAL_NORMALIZE_DEFAULT_*_OPTIONS.
from typing import Final, Sequence

DEFAULT_STRING_OPTIONS: Final[int]
DEFAULT_TOKEN_OPTIONS: Final[int]

def tokenize(
    text: str, whitespace: int = 0, offsets: int = 0
) -> list[tuple[str, int]] | list[tuple[int, int, int]] | None: ...
def normalize_string(text: str, options: int = ..., languages: Sequence[str] | None = None) -> str | None: ...
def normalized_tokens(
    text: str,
    string_options: int = ...,
    token_options: int = ...,
    whitespace: int = 0,
    languages: Sequence[str] | None = None,
) -> list[tuple[str, int]] | None: ...
def classify_language(text: str) -> list[tuple[str, float]] | None: ...
