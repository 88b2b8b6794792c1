// addrnorm._parser: libpostal's address parser, which splits a one-line
// address into labelled parts.
//
// Publishes parse_address(address, language=None, country=None), every
// argument positional-or-keyword: the address as str; language and country
// each a code as str, or None to leave it to libpostal (libpostal 1.1's
// parser reads neither: its model was trained without them).  Returns a list
// of (component, label) tuples of str in libpostal's order, the labels being
// the parser's (house, category, near, house_number, road, unit, level,
// staircase, entrance, po_box, postcode, suburb, city_district, city,
// island, state_district, state, country_region, country, world_region), or
// None when libpostal gives no result.
// Importing the module sets libpostal up (one share of the process's set-up)
// and, on top of it, the address parser (one share of the parser, see
// library.hpp): its model takes seconds and about 2 GB, so only this module
// loads it, and a process that never imports it never pays for it.
// Deliberate, and fixed for callers:
// - argument errors name parse_address, the name behind the format string's
//   colon;
// - a failed set-up of the library or of the parser raises TypeError "Error
//   loading libpostal", not ImportError, and leaves neither set up by it;
// - the address is sent up to its first NUL; a str that cannot be encoded to
//   UTF-8 (a lone surrogate) is the interpreter's UnicodeEncodeError, bytes
//   are refused ("Parameter could not be converted to unicode");
// - language and country must be str or None (TypeError), checked in that
//   order after the address; each is sent up to its first NUL;
// - the module's exception class lives only in the module state;
// - each of the parser's twenty labels is one str object, made at import and
//   kept in the module's state, which every parse hands out again: a label
//   is not decoded afresh for every part of every address.
#include <libpostal/libpostal.h>

#include <cstring>

#include "../core/library.hpp"
#include "../core/lifecycle.hpp"
#include "../core/methods.hpp"
#include "../core/owned.hpp"
#include "../core/text.hpp"

using namespace addrnorm;

namespace {

inline void destroy_response(libpostal_address_parser_response_t *response) {
    libpostal_address_parser_response_destroy(response);
}
// A parse as libpostal returned it, released through libpostal.
using ParserResponse = Owned<libpostal_address_parser_response_t, destroy_response>;

// libpostal 1.1's parser labels with their lengths, those it gives most
// first, as they are looked up in this order.
struct Label {
    const char *name;
    size_t length;
};

constexpr Label with_length(const char *name) {
    size_t length = 0;
    while (name[length] != '\0') length++;
    return Label{name, length};
}

constexpr Label parser_labels[] = {
    with_length("road"),           with_length("house_number"), with_length("city"),
    with_length("postcode"),       with_length("state"),        with_length("country"),
    with_length("house"),          with_length("suburb"),       with_length("city_district"),
    with_length("unit"),           with_length("level"),        with_length("po_box"),
    with_length("state_district"), with_length("category"),     with_length("near"),
    with_length("staircase"),      with_length("entrance"),     with_length("island"),
    with_length("country_region"), with_length("world_region"),
};
constexpr size_t label_count = sizeof parser_labels / sizeof parser_labels[0];
static_assert(label_count == 20, "libpostal 1.1's parser has twenty labels");

// The module's state: the state every module has, first, so that the core
// reads it as its own, then a str of each label.
struct ParserState {
    ModuleState base;
    PyObject *labels[label_count];
};

ParserState *parser_state(PyObject *module) { return static_cast<ParserState *>(PyModule_GetState(module)); }

int parser_traverse(PyObject *module, visitproc visit, void *arg) {
    for (PyObject *label : parser_state(module)->labels) Py_VISIT(label);
    return module_traverse(module, visit, arg);
}

int parser_clear(PyObject *module) {
    for (PyObject *&label : parser_state(module)->labels) Py_CLEAR(label);
    return module_clear_with_library(module);
}

bool make_labels(PyObject *module) {
    ParserState *state = parser_state(module);
    for (size_t i = 0; i < label_count; i++) {
        state->labels[i] = PyUnicode_InternFromString(parser_labels[i].name);
        if (state->labels[i] == nullptr) return false;
    }
    return true;
}

// A new reference to the label's str: the module's own for a label it
// knows (told by its length first, which leaves one or two to compare),
// else decoded.
PyObject *label_object(PyObject *module, const char *text) {
    size_t length = std::strlen(text);
    const ParserState *state = parser_state(module);
    for (size_t i = 0; i < label_count; i++) {
        if (parser_labels[i].length == length && std::memcmp(text, parser_labels[i].name, length) == 0) {
            Py_INCREF(state->labels[i]);
            return state->labels[i];
        }
    }
    return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(length), "strict");
}

const char *const parse_keywords[] = {"address", "language", "country", nullptr};
const char parse_format[] = "O|OO:parse_address";

// An optional code: None leaves the option at libpostal's default (null,
// no copy), a str is copied; anything else is refused.  *failed tells a
// null that is an error, with the exception set, from None.
char *optional_code(PyObject *object, const char *name, bool *failed) {
    *failed = false;
    if (object == Py_None) return nullptr;
    if (!PyUnicode_Check(object)) {
        PyErr_Format(PyExc_TypeError, "%s must be a str or None, not %.100s", name, Py_TYPE(object)->tp_name);
        *failed = true;
        return nullptr;
    }
    char *copy = to_utf8_copy(object);
    *failed = copy == nullptr;
    return copy;
}

// One (component, label) pair, the component strictly decoded.
PyObject *component_pair(PyObject *module, const char *component, const char *label) {
    PyRef pair = PyRef::made(PyTuple_New(2));
    if (!pair) return nullptr;
    PyObject *text = PyUnicode_DecodeUTF8(component, static_cast<Py_ssize_t>(std::strlen(component)), "strict");
    if (text == nullptr) return nullptr;
    PyTuple_SET_ITEM(pair.get(), 0, text);
    PyObject *name = label_object(module, label);
    if (name == nullptr) return nullptr;
    PyTuple_SET_ITEM(pair.get(), 1, name);
    return pair.release();
}

PyObject *response_to_list(PyObject *module, const libpostal_address_parser_response_t &response) {
    if (response.num_components > static_cast<size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
    PyRef list = PyRef::made(PyList_New(static_cast<Py_ssize_t>(response.num_components)));
    if (!list) return nullptr;
    for (size_t i = 0; i < response.num_components; i++) {
        PyObject *pair = component_pair(module, response.components[i], response.labels[i]);
        if (pair == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
    }
    return list.release();
}

PyObject *parse_address(PyObject *module, PyObject *args, PyObject *kwargs) {
    PyObject *address = nullptr;
    PyObject *language = Py_None;
    PyObject *country = Py_None;
    // The usual call, an address alone, skips the interpreter's parser,
    // which would read the format and the keyword list to find the same.
    if (kwargs == nullptr && PyTuple_GET_SIZE(args) == 1) {
        address = PyTuple_GET_ITEM(args, 0);
    } else if (!PyArg_ParseTupleAndKeywords(args, kwargs, parse_format, const_cast<char **>(parse_keywords),
                                            &address, &language, &country)) {
        return nullptr;
    }

    HeapString text = HeapString::made(to_utf8_copy(address));
    if (!text) return nullptr;
    bool failed = false;
    HeapString language_code = HeapString::made(optional_code(language, "language", &failed));
    if (failed) return nullptr;
    HeapString country_code = HeapString::made(optional_code(country, "country", &failed));
    if (failed) return nullptr;

    libpostal_address_parser_options_t options = libpostal_get_address_parser_default_options();
    if (language_code) options.language = language_code.get();
    if (country_code) options.country = country_code.get();

    ParserResponse response = ParserResponse::made(libpostal_parse_address(text.get(), options));
    if (!response) Py_RETURN_NONE;
    return response_to_list(module, *response.get());
}

PyMethodDef parser_methods[] = {
    {"parse_address", as_method(parse_address),
     METH_VARARGS | METH_KEYWORDS, "parse_address($module, address, language=None, country=None)\n--\n\n"
     "The labelled parts of a one-line address, as (component, label) tuples in libpostal's order."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef parser_module = {
    PyModuleDef_HEAD_INIT,
    "_parser",
    "libpostal's address parser: a one-line address split into labelled parts.",
    sizeof(ParserState),
    parser_methods,
    nullptr,
    parser_traverse,
    parser_clear,
    module_free,
};

}  // namespace

ADDRNORM_MODULE_INIT PyInit__parser(void) {
    PyRef module = PyRef::made(create_module(&parser_module, "_parser.Error"));
    if (!module || !make_labels(module.get()) || !acquire_library(module.get())) return nullptr;
    if (!acquire_parser(module.get())) {
        // Given back now, not when the module goes: its functions refer back
        // to it, so it goes only at the collector's next pass.
        release_library(module.get());
        return nullptr;
    }
    return module.release();
}
