"""ctypes access to the libpostal test double: its controls and read-backs."""
import ctypes
import os
from ctypes import POINTER, c_bool, c_char_p, c_double, c_long, c_size_t, c_uint8, c_uint16, c_uint32

# The normalize record's flags in the record's own order; drop_parentheticals
# is the one no keyword sets.
NORMALIZE_FLAGS = (
    "latin_ascii", "transliterate", "strip_accents", "decompose", "lowercase", "trim_string",
    "drop_parentheticals", "replace_numeric_hyphens", "delete_numeric_hyphens", "split_alpha_from_numeric",
    "replace_word_hyphens", "delete_word_hyphens", "delete_final_periods", "delete_acronym_periods",
    "drop_english_possessives", "delete_apostrophes", "expand_numex", "roman_numerals",
)

# The hash record's flags in the record's own order (the keyword lists are
# addrnorm.options'; tests/test_options.py holds the two together).
HASH_RECORD_FLAGS = (
    "with_name", "with_address", "with_unit", "with_city_or_equivalent", "with_small_containing_boundaries",
    "with_postal_code", "with_latlon", "name_and_address_keys", "name_only_keys", "address_only_keys",
)


class NormalizeOptions(ctypes.Structure):
    # Flags as raw bytes, so that a test can hand the module a boolean byte
    # other than 0 or 1.
    _fields_ = [("languages", POINTER(c_char_p)), ("num_languages", c_size_t),
                ("address_components", c_uint16)] + [(name, c_uint8) for name in NORMALIZE_FLAGS]

    def as_dict(self):
        return {name: getattr(self, name) for name, _ in self._fields_ if name != "languages"}


class HashOptions(ctypes.Structure):
    _fields_ = [(name, c_uint8) for name in HASH_RECORD_FLAGS[:7]] + [
        ("latitude", c_double), ("longitude", c_double), ("geohash_precision", c_uint32)] + [
        (name, c_uint8) for name in HASH_RECORD_FLAGS[7:]]

    def as_dict(self):
        return {name: getattr(self, name) for name, _ in self._fields_}


class FuzzyOptions(ctypes.Structure):
    _fields_ = [("num_languages", c_size_t), ("languages", POINTER(c_char_p)), ("needs_review_threshold", c_double),
                ("likely_dupe_threshold", c_double)]


class Counters(ctypes.Structure):
    _fields_ = [(name, c_long) for name in (
        "setup", "classifier_setup", "classifier_teardown", "teardown", "calls_while_down",
        "teardown_while_down", "live_arrays", "destroy_faults", "calls", "parser_setup", "parser_teardown",
        "parser_teardown_while_down", "parses_while_down", "live_responses")]

    def as_dict(self):
        return {name: getattr(self, name) for name, _ in self._fields_}


class LastCall:
    """What the most recent expansion or hash call received."""

    def __init__(self, lib):
        self.function = lib.double_last_function().decode()
        self.input = lib.double_last_input()
        self.options = lib.double_last_options().contents.as_dict()
        self.hash_options = lib.double_last_hash_options().contents.as_dict()
        self.language_count = lib.double_last_language_count()
        self.languages = self._strings(lib.double_last_language, self.language_count)
        self.component_count = lib.double_last_component_count()
        self.labels = self._strings(lib.double_last_label, self.component_count)
        self.values = self._strings(lib.double_last_value, self.component_count)
        # A duplicate call's two sides: each one's labels, values (a field's
        # one value, a record's values or a name's tokens) and scores.
        self.sides = []
        for side in (0, 1):
            count = lib.double_last_side_count(side)
            labels = [lib.double_last_side_label(side, i) for i in range(count)]
            self.sides.append({
                "labels": [label.decode("utf-8", "surrogateescape") for label in labels if label is not None],
                "values": self._strings(lambda i: lib.double_last_side_value(side, i), count),
                "scores": [lib.double_last_side_score(side, i) for i in range(lib.double_last_side_score_count(side))],
            })
        fuzzy = lib.double_last_fuzzy_options().contents
        self.thresholds = (fuzzy.needs_review_threshold, fuzzy.likely_dupe_threshold)

    @staticmethod
    def _strings(getter, count):
        return [getter(i).decode("utf-8", "surrogateescape") for i in range(count)]


class Double:
    def __init__(self, path=None):
        self.lib = lib = ctypes.CDLL(path or os.environ["ADDRNORM_DOUBLE"])
        for name, restype, argtypes in (
            ("double_set_setup_results", None, [c_bool, c_bool]),
            ("double_counters", POINTER(Counters), []),
            ("double_library_up", c_bool, []),
            ("double_setup_directory", c_char_p, []),
            ("double_classifier_directory", c_char_p, []),
            ("double_classifier_loaded", c_bool, []),
            ("double_default_dictionary_path", c_char_p, []),
            ("double_reset", None, []),
            ("double_set_default_options", None, [POINTER(NormalizeOptions)]),
            ("double_set_near_dupe_default_options", None, [POINTER(HashOptions)]),
            ("double_set_result", None, [POINTER(c_char_p), c_size_t]),
            ("double_set_null_result", None, []),
            ("double_set_echo_result", None, []),
            ("double_set_work_ns", None, [c_long]),
            ("double_last_function", c_char_p, []),
            ("double_last_input", c_char_p, []),
            ("double_last_options", POINTER(NormalizeOptions), []),
            ("double_last_hash_options", POINTER(HashOptions), []),
            ("double_last_language_count", c_size_t, []),
            ("double_last_language", c_char_p, [c_size_t]),
            ("double_last_component_count", c_size_t, []),
            ("double_last_label", c_char_p, [c_size_t]),
            ("double_last_value", c_char_p, [c_size_t]),
            ("double_set_duplicate_result", None, [ctypes.c_int, c_double]),
            ("double_set_fuzzy_default_thresholds", None, [c_double, c_double]),
            ("double_last_side_count", c_size_t, [c_size_t]),
            ("double_last_side_label", c_char_p, [c_size_t, c_size_t]),
            ("double_last_side_value", c_char_p, [c_size_t, c_size_t]),
            ("double_last_side_score_count", c_size_t, [c_size_t]),
            ("double_last_side_score", c_double, [c_size_t, c_size_t]),
            ("double_last_fuzzy_options", POINTER(FuzzyOptions), []),
            ("libpostal_get_default_fuzzy_duplicate_options", FuzzyOptions, []),
            ("double_set_parser_setup_result", None, [c_bool]),
            ("double_parser_up", c_bool, []),
            ("double_parser_directory", c_char_p, []),
            ("double_set_parse_result", None, [POINTER(c_char_p), POINTER(c_char_p), c_size_t]),
            ("double_set_null_parse", None, []),
            ("double_last_parser_language", c_char_p, []),
            ("double_last_parser_country", c_char_p, []),
            ("libpostal_get_default_options", NormalizeOptions, []),
            ("libpostal_get_near_dupe_hash_default_options", HashOptions, []),
        ):
            function = getattr(lib, name)
            function.restype = restype
            function.argtypes = argtypes
        self._kept = None  # storage a chosen default language list points into

    def reset(self):
        self.lib.double_reset()
        self._kept = None

    def set_setup_results(self, setup=True, classifier=True):
        self.lib.double_set_setup_results(setup, classifier)

    def counters(self):
        return self.lib.double_counters().contents.as_dict()

    def library_up(self):
        return self.lib.double_library_up()

    def directories(self):
        """The directories the last set-ups of the library and of its classifier
        were given, None for libpostal's compiled-in one."""
        return tuple(None if name is None else name.decode("utf-8", "surrogateescape")
                     for name in (self.lib.double_setup_directory(), self.lib.double_classifier_directory()))

    def classifier_loaded(self):
        return self.lib.double_classifier_loaded()

    def compiled_in_directory(self):
        path = self.lib.double_default_dictionary_path().decode()
        return path[:-len("/address_expansions/address_dictionary.dat")]

    def default_options(self):
        return self.lib.libpostal_get_default_options()

    def set_default_options(self, languages=None, **fields):
        """Makes the defaults the current ones with the given fields changed."""
        options = self.default_options()
        for name, value in fields.items():
            setattr(options, name, value)
        if languages is not None:
            array = (c_char_p * len(languages))(*[code.encode() for code in languages])
            self._kept = array
            options.languages = ctypes.cast(array, POINTER(c_char_p))
            options.num_languages = len(languages)
        self.lib.double_set_default_options(ctypes.byref(options))
        return options

    def hash_default_options(self):
        return self.lib.libpostal_get_near_dupe_hash_default_options()

    def set_hash_default_options(self, **fields):
        options = self.hash_default_options()
        for name, value in fields.items():
            setattr(options, name, value)
        self.lib.double_set_near_dupe_default_options(ctypes.byref(options))
        return options

    def set_result(self, strings):
        """Every later call answers with these byte strings; None answers null."""
        if strings is None:
            self.lib.double_set_null_result()
            return
        array = (c_char_p * max(len(strings), 1))(*strings)
        self.lib.double_set_result(array, len(strings))

    def set_duplicate_result(self, status, similarity=0.0):
        """Every later duplicate call answers with this status (and, for the
        fuzzy ones, similarity) until reset; by default the double answers 9
        (exact) when the two sides carry the same strings, else 0."""
        self.lib.double_set_duplicate_result(status, similarity)

    def set_parser_setup_result(self, succeeds):
        self.lib.double_set_parser_setup_result(succeeds)

    def parser_up(self):
        return self.lib.double_parser_up()

    def parser_directory(self):
        """The directory the parser's last set-up was given; None for the compiled-in one."""
        name = self.lib.double_parser_directory()
        return None if name is None else name.decode("utf-8", "surrogateescape")

    def set_parse(self, pairs):
        """Every later parse answers with these (component, label) byte
        strings; None answers null."""
        if pairs is None:
            self.lib.double_set_null_parse()
            return
        components = (c_char_p * max(len(pairs), 1))(*[component for component, _ in pairs])
        labels = (c_char_p * max(len(pairs), 1))(*[label for _, label in pairs])
        self.lib.double_set_parse_result(components, labels, len(pairs))

    def last_parse_codes(self):
        """(language, country) the last parse was sent, None where it was sent none."""
        return tuple(None if code is None else code.decode("utf-8", "surrogateescape")
                     for code in (self.lib.double_last_parser_language(), self.lib.double_last_parser_country()))

    def fuzzy_default_thresholds(self):
        options = self.lib.libpostal_get_default_fuzzy_duplicate_options()
        return options.needs_review_threshold, options.likely_dupe_threshold

    def set_fuzzy_default_thresholds(self, needs_review, likely_dupe):
        self.lib.double_set_fuzzy_default_thresholds(needs_review, likely_dupe)

    def set_work_ns(self, ns):
        """Every later call spends ns busy, as libpostal's own work would."""
        self.lib.double_set_work_ns(ns)

    def set_echo_result(self):
        self.lib.double_set_echo_result()

    def last_call(self):
        return LastCall(self.lib)
