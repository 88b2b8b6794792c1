// addrnorm._duplicate: libpostal's pairwise duplicate classifiers, which say
// whether two values of one address field name the same thing.
//
// Publishes, every argument positional-or-keyword:
// - is_name_duplicate(value1, value2, languages=None), and the same for
//   is_street_duplicate, is_house_number_duplicate, is_po_box_duplicate,
//   is_unit_duplicate, is_floor_duplicate and is_postal_code_duplicate: the
//   two values as str; returns libpostal's status as an int;
// - is_toponym_duplicate(labels1, values1, labels2, values2, languages=None):
//   each side a record of parallel label and value sequences (the parser's
//   labels: city, city_district, suburb, state_district, state, country,
//   ...); returns the status as an int;
// - is_name_duplicate_fuzzy(tokens1, scores1, tokens2, scores2,
//   languages=None, needs_review_threshold=..., likely_dupe_threshold=...),
//   and the same for is_street_duplicate_fuzzy: each side a name already
//   split into tokens (str) with one score (a number, such as the token's
//   TF-IDF weight) per token; the thresholds default to libpostal's own
//   (0.7 and 0.9 in 1.1), fetched on every call; returns (status,
//   similarity) as (int, float).
// The statuses are libpostal's: -1 null (nothing to compare), 0 not a
// duplicate, 3 possible duplicate that needs review, 6 likely, 9 exact.
// languages is a sequence of language codes as for _expand (anything that is
// not a sequence, and an empty one, leaves libpostal to guess the language).
// Importing the module sets libpostal and its language classifier up (one
// share of the process's set-up, see library.hpp): the classifiers expand
// every value, which guesses the language when none is given.
// Deliberate, and fixed for callers:
// - argument errors name the function, the name behind the format string's
//   colon;
// - a failed set-up raises TypeError "Error loading libpostal", not
//   ImportError;
// - a value that is not a str is a TypeError (bytes included); a str that
//   cannot be encoded to UTF-8 (a lone surrogate) is the interpreter's
//   UnicodeEncodeError; a value is sent up to its first NUL;
// - the sequences must be sequences but not a str or bytes (TypeError), each
//   side's two sequences of equal length (addrnorm.errors.LengthMismatchError,
//   a ValueError as it always was here and a TypeError as in _kinhash,
//   checked before any element is looked at); elements that are not str, and scores that are
//   not numbers, are a TypeError;
// - the checks run in a fixed order (the sequences' types, their lengths,
//   languages, then side 1's scores or labels and its tokens or values, then
//   side 2's) and stop at the first;
// - a side with no components or no tokens has nothing to compare: the answer
//   is the null status (with similarity 0.0) without asking libpostal, which
//   would dereference the place it builds from an empty record;
// - the module's exception class lives only in the module state.
#include <libpostal/libpostal.h>

#include <cstdlib>

#include "../core/errors.hpp"
#include "../core/library.hpp"
#include "../core/lifecycle.hpp"
#include "../core/methods.hpp"
#include "../core/owned.hpp"
#include "../core/text.hpp"

using namespace addrnorm;

namespace {

inline void free_scores(double *scores) { free(scores); }
// Token scores on the C runtime heap, freed with free().
using ScoreArray = Owned<double, free_scores>;

// Sequences of components or tokens: a str or bytes is a sequence of
// characters, which is never what a caller means by one.
bool check_sequence(PyObject *object, const char *name, const char *of) {
    if (PySequence_Check(object) && !PyUnicode_Check(object) && !PyBytes_Check(object)) return true;
    PyErr_Format(PyExc_TypeError, "%s must be a sequence of %s, not %.100s", name, of, Py_TYPE(object)->tp_name);
    return false;
}

// The lengths of one side's two sequences, which must agree; false with an
// exception set otherwise.
bool check_equal_lengths(PyObject *first, PyObject *second, const char *first_name, const char *second_name) {
    Py_ssize_t first_count = PySequence_Size(first);
    if (first_count < 0) return false;
    Py_ssize_t second_count = PySequence_Size(second);
    if (second_count < 0) return false;
    if (first_count != second_count) {
        set_length_mismatch("%s and %s must be of equal length (%zd and %zd)", first_name, second_name, first_count,
                            second_count);
        return false;
    }
    return true;
}

// After conversion: a sequence whose length changed since it was measured
// must not make libpostal read one array past the end of the other.
bool check_equal_counts(size_t first, size_t second, const char *first_name, const char *second_name) {
    if (first == second) return true;
    set_length_mismatch("%s and %s must be of equal length (%zu and %zu)", first_name, second_name, first, second);
    return false;
}

// A sequence of numbers to a new heap array of doubles, its length in
// *count.  Null with *count 0 and no exception for an empty sequence, null
// with an exception on every failure.
double *sequence_to_scores(PyObject *object, size_t *count) {
    *count = 0;
    // A tuple of the items, never the caller's list: a score's __float__ is
    // the caller's code, and may change the list while it is read.
    PyRef view = PyRef::made(PySequence_Tuple(object));
    if (!view) return nullptr;
    Py_ssize_t n = PySequence_Size(object);
    if (n < 0) return nullptr;
    // The items are read from the tuple, as the strings are read from their
    // view (text.cpp), so the length it reports must be theirs.
    if (n != PyTuple_GET_SIZE(view.get())) {
        PyErr_SetString(PyExc_TypeError, "sequence length does not match its items");
        return nullptr;
    }
    if (n == 0) return nullptr;
    ScoreArray scores = ScoreArray::made(static_cast<double *>(calloc(static_cast<size_t>(n), sizeof(double))));
    if (!scores) {
        PyErr_NoMemory();
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; i++) {
        double score = PyFloat_AsDouble(PyTuple_GET_ITEM(view.get(), i));
        if (score == -1.0 && PyErr_Occurred()) {
            if (PyErr_ExceptionMatches(PyExc_TypeError))
                PyErr_SetString(PyExc_TypeError, "all scores must be numbers");
            return nullptr;
        }
        scores.get()[i] = score;
    }
    *count = static_cast<size_t>(n);
    return scores.release();
}

// The language codes, at most three bytes each as in _expand and _kinhash.
bool languages_to_codes(PyObject *languages, Utf8Array &codes) {
    return !PySequence_Check(languages) || sequence_to_utf8_array(languages, language_code_size, codes);
}

PyObject *status_to_int(libpostal_duplicate_status_t status) { return PyLong_FromLong(static_cast<long>(status)); }

// The field classifiers: two values, one status.

using FieldClassifier = libpostal_duplicate_status_t (*)(char *, char *, libpostal_duplicate_options_t);

const char *const field_keywords[] = {"value1", "value2", "languages", nullptr};

// One function per classifier: its format names it in argument errors.
template <FieldClassifier classify, const char *format>
PyObject *is_field_duplicate(PyObject *, PyObject *args, PyObject *kwargs) {
    PyObject *value1 = nullptr;
    PyObject *value2 = nullptr;
    PyObject *languages = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char **>(field_keywords), &value1,
                                     &value2, &languages))
        return nullptr;

    HeapString text1 = HeapString::made(to_utf8_copy(value1));
    if (!text1) return nullptr;
    HeapString text2 = HeapString::made(to_utf8_copy(value2));
    if (!text2) return nullptr;
    Utf8Array codes;
    if (!languages_to_codes(languages, codes)) return nullptr;

    libpostal_duplicate_options_t options = codes.count() > 0
                                                ? libpostal_get_duplicate_options_with_languages(codes.count(),
                                                                                                 codes.items())
                                                : libpostal_get_default_duplicate_options();
    return status_to_int(classify(text1.get(), text2.get(), options));
}

const char name_format[] = "OO|O:is_name_duplicate";
const char street_format[] = "OO|O:is_street_duplicate";
const char house_number_format[] = "OO|O:is_house_number_duplicate";
const char po_box_format[] = "OO|O:is_po_box_duplicate";
const char unit_format[] = "OO|O:is_unit_duplicate";
const char floor_format[] = "OO|O:is_floor_duplicate";
const char postal_code_format[] = "OO|O:is_postal_code_duplicate";

// The toponym classifier: two records of labels and values.

const char *const toponym_keywords[] = {"labels1", "values1", "labels2", "values2", "languages", nullptr};

PyObject *is_toponym_duplicate(PyObject *, PyObject *args, PyObject *kwargs) {
    PyObject *labels1 = nullptr;
    PyObject *values1 = nullptr;
    PyObject *labels2 = nullptr;
    PyObject *values2 = nullptr;
    PyObject *languages = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOO|O:is_toponym_duplicate",
                                     const_cast<char **>(toponym_keywords), &labels1, &values1, &labels2, &values2,
                                     &languages))
        return nullptr;

    if (!check_sequence(labels1, "labels1", "str") || !check_sequence(values1, "values1", "str") ||
        !check_sequence(labels2, "labels2", "str") || !check_sequence(values2, "values2", "str"))
        return nullptr;
    if (!check_equal_lengths(labels1, values1, "labels1", "values1") ||
        !check_equal_lengths(labels2, values2, "labels2", "values2"))
        return nullptr;

    Utf8Array codes;
    if (!languages_to_codes(languages, codes)) return nullptr;
    Utf8Array label_array1;
    if (!sequence_to_utf8_array(labels1, -1, label_array1)) return nullptr;
    Utf8Array value_array1;
    if (!sequence_to_utf8_array(values1, -1, value_array1)) return nullptr;
    if (!check_equal_counts(label_array1.count(), value_array1.count(), "labels1", "values1")) return nullptr;
    Utf8Array label_array2;
    if (!sequence_to_utf8_array(labels2, -1, label_array2)) return nullptr;
    Utf8Array value_array2;
    if (!sequence_to_utf8_array(values2, -1, value_array2)) return nullptr;
    if (!check_equal_counts(label_array2.count(), value_array2.count(), "labels2", "values2")) return nullptr;
    if (label_array1.count() == 0 || label_array2.count() == 0) return status_to_int(LIBPOSTAL_NULL_DUPLICATE_STATUS);

    libpostal_duplicate_options_t options = codes.count() > 0
                                                ? libpostal_get_duplicate_options_with_languages(codes.count(),
                                                                                                 codes.items())
                                                : libpostal_get_default_duplicate_options();
    return status_to_int(libpostal_is_toponym_duplicate(label_array1.count(), label_array1.items(),
                                                        value_array1.items(), label_array2.count(),
                                                        label_array2.items(), value_array2.items(), options));
}

// The fuzzy classifiers: two token lists with their scores, a status and a
// similarity.

using FuzzyClassifier = libpostal_fuzzy_duplicate_status_t (*)(size_t, char **, double *, size_t, char **, double *,
                                                               libpostal_fuzzy_duplicate_options_t);

const char *const fuzzy_keywords[] = {
    "tokens1", "scores1", "tokens2", "scores2", "languages", "needs_review_threshold", "likely_dupe_threshold",
    nullptr,
};

template <FuzzyClassifier classify, const char *format>
PyObject *is_fuzzy_duplicate(PyObject *, PyObject *args, PyObject *kwargs) {
    const libpostal_fuzzy_duplicate_options_t defaults = libpostal_get_default_fuzzy_duplicate_options();
    PyObject *tokens1 = nullptr;
    PyObject *scores1 = nullptr;
    PyObject *tokens2 = nullptr;
    PyObject *scores2 = nullptr;
    PyObject *languages = Py_None;
    double needs_review_threshold = defaults.needs_review_threshold;
    double likely_dupe_threshold = defaults.likely_dupe_threshold;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char **>(fuzzy_keywords), &tokens1,
                                     &scores1, &tokens2, &scores2, &languages, &needs_review_threshold,
                                     &likely_dupe_threshold))
        return nullptr;

    if (!check_sequence(tokens1, "tokens1", "str") || !check_sequence(scores1, "scores1", "numbers") ||
        !check_sequence(tokens2, "tokens2", "str") || !check_sequence(scores2, "scores2", "numbers"))
        return nullptr;
    if (!check_equal_lengths(tokens1, scores1, "tokens1", "scores1") ||
        !check_equal_lengths(tokens2, scores2, "tokens2", "scores2"))
        return nullptr;

    Utf8Array codes;
    if (!languages_to_codes(languages, codes)) return nullptr;
    // Each side's scores come before its tokens, so that each allocation can
    // be made to fail alone.
    size_t score_count1 = 0;
    ScoreArray score_array1 = ScoreArray::made(sequence_to_scores(scores1, &score_count1));
    if (!score_array1 && PyErr_Occurred()) return nullptr;
    Utf8Array token_array1;
    if (!sequence_to_utf8_array(tokens1, -1, token_array1)) return nullptr;
    if (!check_equal_counts(token_array1.count(), score_count1, "tokens1", "scores1")) return nullptr;
    size_t score_count2 = 0;
    ScoreArray score_array2 = ScoreArray::made(sequence_to_scores(scores2, &score_count2));
    if (!score_array2 && PyErr_Occurred()) return nullptr;
    Utf8Array token_array2;
    if (!sequence_to_utf8_array(tokens2, -1, token_array2)) return nullptr;
    if (!check_equal_counts(token_array2.count(), score_count2, "tokens2", "scores2")) return nullptr;
    // libpostal's score of a side with no tokens is no score at all, and
    // would make a street with none a likely duplicate of any.
    if (token_array1.count() == 0 || token_array2.count() == 0)
        return Py_BuildValue("(id)", static_cast<int>(LIBPOSTAL_NULL_DUPLICATE_STATUS), 0.0);

    libpostal_fuzzy_duplicate_options_t options =
        codes.count() > 0 ? libpostal_get_default_fuzzy_duplicate_options_with_languages(codes.count(), codes.items())
                          : defaults;
    options.needs_review_threshold = needs_review_threshold;
    options.likely_dupe_threshold = likely_dupe_threshold;
    libpostal_fuzzy_duplicate_status_t result =
        classify(token_array1.count(), token_array1.items(), score_array1.get(), token_array2.count(),
                       token_array2.items(), score_array2.get(), options);
    return Py_BuildValue("(id)", static_cast<int>(result.status), result.similarity);
}

const char name_fuzzy_format[] = "OOOO|Odd:is_name_duplicate_fuzzy";
const char street_fuzzy_format[] = "OOOO|Odd:is_street_duplicate_fuzzy";

constexpr int keywords = METH_VARARGS | METH_KEYWORDS;

// The fuzzy classifiers have no signature for the interpreter: their
// thresholds default to libpostal's own, fetched on every call, which no
// literal in a signature can stand for.

PyMethodDef duplicate_methods[] = {
    {"is_name_duplicate", as_method(is_field_duplicate<libpostal_is_name_duplicate, name_format>), keywords,
     "is_name_duplicate($module, value1, value2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two name values, an int."},
    {"is_street_duplicate", as_method(is_field_duplicate<libpostal_is_street_duplicate, street_format>), keywords,
     "is_street_duplicate($module, value1, value2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two street values, an int."},
    {"is_house_number_duplicate",
     as_method(is_field_duplicate<libpostal_is_house_number_duplicate, house_number_format>), keywords,
     "is_house_number_duplicate($module, value1, value2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two house number values, an int."},
    {"is_po_box_duplicate", as_method(is_field_duplicate<libpostal_is_po_box_duplicate, po_box_format>), keywords,
     "is_po_box_duplicate($module, value1, value2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two po box values, an int."},
    {"is_unit_duplicate", as_method(is_field_duplicate<libpostal_is_unit_duplicate, unit_format>), keywords,
     "is_unit_duplicate($module, value1, value2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two unit values, an int."},
    {"is_floor_duplicate", as_method(is_field_duplicate<libpostal_is_floor_duplicate, floor_format>), keywords,
     "is_floor_duplicate($module, value1, value2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two floor values, an int."},
    {"is_postal_code_duplicate",
     as_method(is_field_duplicate<libpostal_is_postal_code_duplicate, postal_code_format>), keywords,
     "is_postal_code_duplicate($module, value1, value2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two postal code values, an int."},
    {"is_toponym_duplicate", as_method(is_toponym_duplicate), keywords,
     "is_toponym_duplicate($module, labels1, values1, labels2, values2, languages=None)\n--\n\n"
     "libpostal's duplicate status of two records' places, each as parallel labels and values, an int."},
    {"is_name_duplicate_fuzzy",
     as_method(is_fuzzy_duplicate<libpostal_is_name_duplicate_fuzzy, name_fuzzy_format>), keywords,
     "is_name_duplicate_fuzzy(tokens1, scores1, tokens2, scores2, languages=None, **thresholds)"},
    {"is_street_duplicate_fuzzy",
     as_method(is_fuzzy_duplicate<libpostal_is_street_duplicate_fuzzy, street_fuzzy_format>), keywords,
     "is_street_duplicate_fuzzy(tokens1, scores1, tokens2, scores2, languages=None, **thresholds)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef duplicate_module = {
    PyModuleDef_HEAD_INIT,
    "_duplicate",
    "libpostal's pairwise duplicate classifiers: whether two values of one address field name the same thing.",
    sizeof(ModuleState),
    duplicate_methods,
    nullptr,
    module_traverse,
    module_clear_with_library,
    module_free,
};

}  // namespace

ADDRNORM_MODULE_INIT PyInit__duplicate(void) {
    PyRef module = PyRef::made(create_module(&duplicate_module, "_duplicate.Error"));
    if (!module || !acquire_library(module.get())) return nullptr;
    return module.release();
}
