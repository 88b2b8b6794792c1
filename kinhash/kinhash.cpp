// addrnorm._kinhash: libpostal's near-duplicate hash keys for a place record
// given as parallel sequences of labels and values, the keys of a name
// alone, and the languages libpostal takes a record to be in.
//
// Publishes near_dupe_hashes(labels, values, languages=None, <thirteen
// options>...), near_dupe_name_hashes(name, languages=None,
// address_components=..., <expand_address's seventeen flags>...) and
// place_languages(labels, values); importing it sets libpostal and its
// language classifier up (one share of the process's set-up, see
// library.hpp).  Deliberate, and fixed for callers:
// - argument errors name "near_dupe", the name behind the format string's
//   colon, not near_dupe_hashes;
// - a failed set-up raises TypeError "Error loading libpostal", not
//   ImportError;
// - the checks run in a fixed order (sequences, equal length before any
//   element is looked at, languages, labels, values) and stop at the first;
// - labels and values of different lengths raise the TypeError callers were
//   promised as addrnorm.errors.LengthMismatchError, which is also the
//   ValueError _duplicate raises for the same mistake;
// - a record with no fields is None without asking libpostal;
// - with with_latlon on, a far longitude is wrapped and an infinite one
//   refused, because libpostal's own wrap loops;
// - near_dupe_name_hashes takes its options as expand_address does (a name
//   is normalized as an address is); argument errors name
//   "near_dupe_name_hashes";
// - place_languages checks labels and values as near_dupe_hashes does, and a
//   record with no fields is None without asking libpostal; argument errors
//   name "place_languages";
// - the module's exception class lives only in the module state.
#include <libpostal/libpostal.h>

#include <cmath>
#include <cstdlib>

#include "../core/errors.hpp"
#include "../core/flags.hpp"
#include "../core/library.hpp"
#include "../core/lifecycle.hpp"
#include "../core/methods.hpp"
#include "../core/normalize_flags.hpp"
#include "../core/owned.hpp"
#include "../core/text.hpp"

using namespace addrnorm;

namespace {

// The keyword list, also the positional order: the option keywords are the
// record's own fields, in the record's order.
const char *const hash_keywords[] = {
    "labels",
    "values",
    "languages",
    "with_name",
    "with_address",
    "with_unit",
    "with_city_or_equivalent",
    "with_small_containing_boundaries",
    "with_postal_code",
    "with_latlon",
    "latitude",
    "longitude",
    "geohash_precision",
    "name_and_address_keys",
    "name_only_keys",
    "address_only_keys",
    nullptr,
};
const char hash_format[] = "OO|OIIIIIIIddIIII:near_dupe";

using HashFlag = bool libpostal_near_dupe_hash_options_t::*;
const HashFlag hash_flags[] = {
    &libpostal_near_dupe_hash_options_t::with_name,
    &libpostal_near_dupe_hash_options_t::with_address,
    &libpostal_near_dupe_hash_options_t::with_unit,
    &libpostal_near_dupe_hash_options_t::with_city_or_equivalent,
    &libpostal_near_dupe_hash_options_t::with_small_containing_boundaries,
    &libpostal_near_dupe_hash_options_t::with_postal_code,
    &libpostal_near_dupe_hash_options_t::with_latlon,
    &libpostal_near_dupe_hash_options_t::name_and_address_keys,
    &libpostal_near_dupe_hash_options_t::name_only_keys,
    &libpostal_near_dupe_hash_options_t::address_only_keys,
};
constexpr size_t flag_count = sizeof hash_flags / sizeof hash_flags[0];
static_assert(flag_count == 10, "ten boolean keywords");

// libpostal's geohash brings a longitude into [-180, 180) by adding or
// subtracting 360 in a loop, which never ends for an infinite longitude and
// takes hours for one of 1e15.  The same wrap done at once (fmod is exact, as
// each step of the loop is) gives the very cell the loop would; an infinite
// longitude has none and is refused.  NaN passes: the loop ends at once on it.
bool wrap_longitude(double *longitude) {
    if (std::isnan(*longitude) || (*longitude >= -180.0 && *longitude < 180.0)) return true;
    if (std::isinf(*longitude)) {
        PyErr_SetString(PyExc_ValueError, "longitude must be finite when with_latlon is set");
        return false;
    }
    double wrapped = std::fmod(*longitude, 360.0);
    if (wrapped < -180.0) wrapped += 360.0;
    if (wrapped >= 180.0) wrapped -= 360.0;
    *longitude = wrapped;
    return true;
}

// A record's two sequences, checked before any element is looked at: both
// sequences, of equal length.  False with a TypeError set otherwise.
bool check_record(PyObject *labels, PyObject *values) {
    if (!PySequence_Check(labels) || !PySequence_Check(values)) {
        PyErr_SetString(PyExc_TypeError, "Input labels and values must be sequences");
        return false;
    }
    Py_ssize_t label_count = PySequence_Size(labels);
    if (label_count < 0) return false;
    Py_ssize_t value_count = PySequence_Size(values);
    if (value_count < 0) return false;
    if (label_count != value_count) {
        set_length_mismatch("Input labels and values arrays must be of equal length");
        return false;
    }
    return true;
}

// The record's labels, then its values, into owned arrays.  The library is
// told one count for both; a sequence whose length changed since it was
// measured must not make them differ.
bool record_to_arrays(PyObject *labels, PyObject *values, Utf8Array &label_array, Utf8Array &value_array) {
    if (!sequence_to_utf8_array(labels, -1, label_array)) return false;
    if (!sequence_to_utf8_array(values, -1, value_array)) return false;
    if (label_array.count() != value_array.count()) {
        set_length_mismatch("Input labels and values arrays must be of equal length");
        return false;
    }
    return true;
}

PyObject *near_dupe_hashes(PyObject *, PyObject *args, PyObject *kwargs) {
    libpostal_near_dupe_hash_options_t options = libpostal_get_near_dupe_hash_default_options();

    PyObject *labels = nullptr;
    PyObject *values = nullptr;
    PyObject *languages = Py_None;
    unsigned int flags[flag_count];
    load_flags(options, hash_flags, flags);
    double latitude = options.latitude;
    double longitude = options.longitude;
    unsigned int geohash_precision = options.geohash_precision;

    if (!PyArg_ParseTupleAndKeywords(args, kwargs, hash_format, const_cast<char **>(hash_keywords), &labels, &values,
                                     &languages, &flags[0], &flags[1], &flags[2], &flags[3], &flags[4], &flags[5],
                                     &flags[6], &latitude, &longitude, &geohash_precision, &flags[7], &flags[8],
                                     &flags[9]))
        return nullptr;

    if (!check_record(labels, values)) return nullptr;

    store_flags(options, hash_flags, flags);
    options.latitude = latitude;
    options.longitude = longitude;
    options.geohash_precision = geohash_precision;

    Utf8Array codes;
    if (PySequence_Check(languages) && !sequence_to_utf8_array(languages, language_code_size, codes)) return nullptr;
    Utf8Array label_array;
    Utf8Array value_array;
    if (!record_to_arrays(labels, values, label_array, value_array)) return nullptr;
    // A record with no fields has nothing to hash: the library yields no
    // result for it, so the answer is the same without asking it.
    if (label_array.count() == 0) Py_RETURN_NONE;
    if (options.with_latlon && !wrap_longitude(&options.longitude)) return nullptr;

    size_t hash_count = 0;
    char **hashes = codes.count() > 0
                        ? libpostal_near_dupe_hashes_languages(label_array.count(), label_array.items(), value_array.items(),
                                                               options, codes.count(), codes.items(), &hash_count)
                        : libpostal_near_dupe_hashes(label_array.count(), label_array.items(), value_array.items(),
                                                     options, &hash_count);
    if (hashes == nullptr) Py_RETURN_NONE;
    // The keys and their array are ours, freed like any Utf8Array before the
    // values, labels and codes that were sent.
    Utf8Array keys(hashes, hash_count);
    return utf8_array_to_list(keys.items(), keys.count());
}

// The keys of a name alone: its options are expand_address's, in its order.
const char *const name_keywords[] = {
    "name",
    "languages",
    "address_components",
    "latin_ascii",
    "transliterate",
    "strip_accents",
    "decompose",
    "lowercase",
    "trim_string",
    "replace_word_hyphens",
    "delete_word_hyphens",
    "replace_numeric_hyphens",
    "delete_numeric_hyphens",
    "split_alpha_from_numeric",
    "delete_final_periods",
    "delete_acronym_periods",
    "drop_english_possessives",
    "delete_apostrophes",
    "expand_numex",
    "roman_numerals",
    nullptr,
};
const char name_format[] = "O|OHIIIIIIIIIIIIIIIII:near_dupe_name_hashes";

PyObject *near_dupe_name_hashes(PyObject *, PyObject *args, PyObject *kwargs) {
    libpostal_normalize_options_t options = libpostal_get_default_options();

    PyObject *name = nullptr;
    PyObject *languages = Py_None;
    unsigned short components = options.address_components;
    unsigned int flags[normalize_flag_count];
    load_flags(options, normalize_flags, flags);
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, name_format, const_cast<char **>(name_keywords), &name,
                                     &languages, &components, &flags[0], &flags[1], &flags[2], &flags[3], &flags[4],
                                     &flags[5], &flags[6], &flags[7], &flags[8], &flags[9], &flags[10], &flags[11],
                                     &flags[12], &flags[13], &flags[14], &flags[15], &flags[16]))
        return nullptr;
    options.address_components = components;
    store_flags(options, normalize_flags, flags);

    HeapString text = HeapString::made(to_utf8_copy(name));
    if (!text) return nullptr;
    // Anything that is not a sequence, and an empty one, leaves the default
    // language list in place.
    Utf8Array codes;
    if (PySequence_Check(languages)) {
        if (!sequence_to_utf8_array(languages, language_code_size, codes)) return nullptr;
        if (codes.items() != nullptr) {
            options.languages = codes.items();
            options.num_languages = codes.count();
        }
    }

    size_t hash_count = 0;
    char **hashes = libpostal_near_dupe_name_hashes(text.get(), options, &hash_count);
    if (hashes == nullptr) Py_RETURN_NONE;
    Utf8Array keys(hashes, hash_count);
    return utf8_array_to_list(keys.items(), keys.count());
}

inline void free_code_array(char **codes) { free(codes); }
// The array of place_languages: the array is the caller's, the codes in it
// the language classifier's own, so only the array is freed.
using BorrowedCodes = Owned<char *, free_code_array>;

const char *const place_keywords[] = {"labels", "values", nullptr};

PyObject *place_languages(PyObject *, PyObject *args, PyObject *kwargs) {
    PyObject *labels = nullptr;
    PyObject *values = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:place_languages", const_cast<char **>(place_keywords), &labels,
                                     &values))
        return nullptr;
    if (!check_record(labels, values)) return nullptr;
    Utf8Array label_array;
    Utf8Array value_array;
    if (!record_to_arrays(labels, values, label_array, value_array)) return nullptr;
    if (label_array.count() == 0) Py_RETURN_NONE;

    size_t code_count = 0;
    BorrowedCodes codes = BorrowedCodes::made(
        libpostal_place_languages(label_array.count(), label_array.items(), value_array.items(), &code_count));
    if (!codes) Py_RETURN_NONE;
    return utf8_array_to_list(codes.get(), code_count);
}

PyMethodDef kinhash_methods[] = {
    {"near_dupe_hashes", as_method(near_dupe_hashes),
     METH_VARARGS | METH_KEYWORDS, "near_dupe_hashes(labels, values, **kw)"},
    {"near_dupe_name_hashes", as_method(near_dupe_name_hashes),
     METH_VARARGS | METH_KEYWORDS, "near_dupe_name_hashes(name, **kw)"},
    {"place_languages", as_method(place_languages),
     METH_VARARGS | METH_KEYWORDS, "place_languages(labels, values)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kinhash_module = {
    PyModuleDef_HEAD_INIT,
    "_kinhash",
    nullptr,
    sizeof(ModuleState),
    kinhash_methods,
    nullptr,
    module_traverse,
    module_clear_with_library,
    module_free,
};

}  // namespace

ADDRNORM_MODULE_INIT PyInit__kinhash(void) {
    PyRef module = PyRef::made(create_module(&kinhash_module, "_kinhash.Error"));
    if (!module || !acquire_library(module.get())) return nullptr;
    return module.release();
}
