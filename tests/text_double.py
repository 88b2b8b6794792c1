"""ctypes access to the test double's tokenizer, normalization, language
classifier, name keys and place languages (tests/double/text.cpp)."""
import ctypes
import os
from ctypes import POINTER, c_bool, c_char_p, c_double, c_int, c_long, c_size_t, c_ulonglong, c_uint16

from libpostal_double import NormalizeOptions


class Token(ctypes.Structure):
    _fields_ = [("offset", c_size_t), ("len", c_size_t), ("type", c_uint16)]


class TextCounters(ctypes.Structure):
    _fields_ = [(name, c_long) for name in ("calls", "calls_while_down", "live_responses", "destroy_faults")]

    def as_dict(self):
        return {name: getattr(self, name) for name, _ in self._fields_}


class TextDouble:
    def __init__(self, path=None):
        self.lib = lib = ctypes.CDLL(path or os.environ["ADDRNORM_DOUBLE"])
        for name, restype, argtypes in (
            ("double_text_reset", None, []),
            ("double_text_counters", POINTER(TextCounters), []),
            ("double_text_set_null_result", None, []),
            ("double_text_set_tokens", None, [POINTER(Token), c_size_t]),
            ("double_text_set_strings", None, [POINTER(c_char_p), c_size_t, POINTER(c_double), c_size_t]),
            ("double_text_last_function", c_char_p, []),
            ("double_text_last_input", c_char_p, []),
            ("double_text_last_string_options", c_ulonglong, []),
            ("double_text_last_token_options", c_ulonglong, []),
            ("double_text_last_whitespace", c_bool, []),
            ("double_text_last_options", POINTER(NormalizeOptions), []),
            ("double_text_last_count", c_size_t, [c_int]),
            ("double_text_last_item", c_char_p, [c_int, c_size_t]),
        ):
            function = getattr(lib, name)
            function.restype = restype
            function.argtypes = argtypes

    def reset(self):
        self.lib.double_text_reset()
        self._calls_before = self.counters()["calls"]

    def calls(self):
        """Calls since the last reset (the counters themselves run on)."""
        return self.counters()["calls"] - self._calls_before

    def counters(self):
        return self.lib.double_text_counters().contents.as_dict()

    def set_null_result(self):
        self.lib.double_text_set_null_result()

    def set_tokens(self, tokens):
        """Every later tokenize answers with these (offset, len, type) in bytes."""
        array = (Token * max(len(tokens), 1))(*[Token(*token) for token in tokens])
        self.lib.double_text_set_tokens(array, len(tokens))

    def set_strings(self, strings, probs=()):
        """Every later call answers with these byte strings (see text.cpp)."""
        array = (c_char_p * max(len(strings), 1))(*strings)
        numbers = (c_double * max(len(probs), 1))(*probs)
        self.lib.double_text_set_strings(array, len(strings), numbers, len(probs))

    def last(self):
        """What the last call received: function, input, options, lists."""
        lib = self.lib

        def items(which):
            return [lib.double_text_last_item(which, i).decode("utf-8", "surrogateescape")
                    for i in range(lib.double_text_last_count(which))]

        return {
            "function": lib.double_text_last_function().decode(),
            "input": lib.double_text_last_input().decode("utf-8", "surrogateescape"),
            "string_options": lib.double_text_last_string_options(),
            "token_options": lib.double_text_last_token_options(),
            "whitespace": lib.double_text_last_whitespace(),
            "options": lib.double_text_last_options().contents.as_dict(),
            "languages": items(0),
            "labels": items(1),
            "values": items(2),
        }
