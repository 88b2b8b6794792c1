// addrnorm._text: libpostal's tokenizer, its string and token normalization
// and its language classifier, on one text at a time.
//
// Publishes, every argument positional-or-keyword:
// - tokenize(text, whitespace=0, offsets=0): the tokens of text as a list of
//   (token, type): token the str slice of text, type libpostal's token type
//   code (the TOKEN_TYPE_* of _wordclass); with offsets on, (start, end,
//   type) instead, start and end character offsets into text, so that
//   text[start:end] is the token in any script (libpostal counts bytes of
//   the UTF-8 text); whitespace on keeps the whitespace tokens;
// - normalize_string(text, options=<libpostal's default string options>,
//   languages=None): text normalized as the LIBPOSTAL_NORMALIZE_STRING_*
//   bits of options say, as a str;
// - normalized_tokens(text, string_options=<default>, token_options=
//   <default>, whitespace=0, languages=None): text normalized, tokenized and
//   each token normalized as the LIBPOSTAL_NORMALIZE_TOKEN_* bits say, as a
//   list of (str, type);
// - classify_language(text): libpostal's language guesses for text, as a
//   list of (code, probability), most probable first.
// languages is a sequence of language codes as for _expand (anything that is
// not a sequence, and an empty one, leaves libpostal to take every language
// it knows).  Each function returns None when libpostal gives no result.
// Importing the module sets libpostal and its language classifier up (one
// share of the process's set-up, see library.hpp).
// Deliberate, and fixed for callers:
// - argument errors name the function, the name behind the format string's
//   colon;
// - a failed set-up raises TypeError "Error loading libpostal", not
//   ImportError;
// - text must be a str (bytes are refused, "Parameter could not be converted
//   to unicode"); it is sent up to its first NUL, so tokens and offsets cover
//   that part of it;
// - the option masks are taken as unsigned 64-bit integers without overflow
//   checking, as libpostal takes them; bits it does not know are passed on;
// - a token that libpostal places outside the text is a SystemError, never a
//   read past its end;
// - the module's exception class lives only in the module state.
#include <libpostal/libpostal.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../core/library.hpp"
#include "../core/lifecycle.hpp"
#include "../core/methods.hpp"
#include "../core/owned.hpp"
#include "../core/text.hpp"

using namespace addrnorm;

namespace {

inline void free_tokens(libpostal_token_t *tokens) { free(tokens); }
// libpostal's token array, freed with free().
using TokenArray = Owned<libpostal_token_t, free_tokens>;
// libpostal's language guesses: the arrays are the response's, the codes
// the classifier's own, so only libpostal's destroy releases it.
using LanguageResponse = Owned<libpostal_language_classifier_response_t, libpostal_language_classifier_response_destroy>;

// libpostal's normalized tokens: each token's string, then the array, freed
// with free().
class NormalizedTokens {
public:
    NormalizedTokens(libpostal_normalized_token_t *items, size_t count) : items_(items), count_(count) {}
    ~NormalizedTokens() {
        if (items_ == nullptr) return;
        for (size_t i = 0; i < count_; i++) free(items_[i].str);
        free(items_);
    }
    NormalizedTokens(const NormalizedTokens &) = delete;
    NormalizedTokens &operator=(const NormalizedTokens &) = delete;

private:
    libpostal_normalized_token_t *items_;
    size_t count_;
};

// The language codes, at most three bytes each as in _expand; false only
// with an exception set.
bool languages_to_codes(PyObject *languages, Utf8Array &codes) {
    return !PySequence_Check(languages) || sequence_to_utf8_array(languages, 4, codes);
}

// Character offsets of byte offsets into a UTF-8 text, counted forward from
// the last one asked for, since tokens come in the text's order: a code
// point is a byte that is not a continuation byte.  An ASCII text needs no
// counting.
class CharacterOffsets {
public:
    CharacterOffsets(const char *utf8, bool ascii) : utf8_(utf8), ascii_(ascii) {}
    Py_ssize_t at(size_t byte) {
        if (ascii_) return static_cast<Py_ssize_t>(byte);
        if (byte < byte_) {
            byte_ = 0;
            characters_ = 0;
        }
        for (; byte_ < byte; byte_++)
            if ((static_cast<unsigned char>(utf8_[byte_]) & 0xC0) != 0x80) characters_++;
        return characters_;
    }

private:
    const char *utf8_;
    bool ascii_;
    size_t byte_ = 0;
    Py_ssize_t characters_ = 0;
};

PyObject *pair(PyObject *first, PyObject *second) {
    if (first == nullptr || second == nullptr) {
        Py_XDECREF(first);
        Py_XDECREF(second);
        return nullptr;
    }
    PyObject *tuple = PyTuple_New(2);
    if (tuple == nullptr) {
        Py_DECREF(first);
        Py_DECREF(second);
        return nullptr;
    }
    PyTuple_SET_ITEM(tuple, 0, first);
    PyTuple_SET_ITEM(tuple, 1, second);
    return tuple;
}

PyObject *new_list(size_t count) {
    if (count > static_cast<size_t>(PY_SSIZE_T_MAX)) return PyErr_NoMemory();
    return PyList_New(static_cast<Py_ssize_t>(count));
}

const char *const tokenize_keywords[] = {"text", "whitespace", "offsets", nullptr};

PyObject *tokenize(PyObject *, PyObject *args, PyObject *kwargs) {
    PyObject *text = nullptr;
    unsigned int whitespace = 0;
    unsigned int offsets = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|II:tokenize", const_cast<char **>(tokenize_keywords), &text,
                                     &whitespace, &offsets))
        return nullptr;
    HeapString utf8 = HeapString::made(to_utf8_copy(text));
    if (!utf8) return nullptr;

    size_t n = 0;
    TokenArray tokens = TokenArray::made(libpostal_tokenize(utf8.get(), whitespace != 0, &n));
    if (!tokens) Py_RETURN_NONE;
    PyRef list = PyRef::made(new_list(n));
    if (!list) return nullptr;
    const size_t length = strlen(utf8.get());
    CharacterOffsets characters(utf8.get(), PyUnicode_IS_ASCII(text) != 0);
    for (size_t i = 0; i < n; i++) {
        const libpostal_token_t &token = tokens.get()[i];
        if (token.offset > length || token.len > length - token.offset) {
            PyErr_Format(PyExc_SystemError, "libpostal gave a token at bytes %zu to %zu of a text of %zu", token.offset,
                         token.offset + token.len, length);
            return nullptr;
        }
        Py_ssize_t start = characters.at(token.offset);
        Py_ssize_t end = characters.at(token.offset + token.len);
        PyObject *item;
        if (offsets != 0) {
            item = Py_BuildValue("(nnI)", start, end, static_cast<unsigned int>(token.type));
        } else {
            item = pair(PyUnicode_Substring(text, start, end), PyLong_FromLong(token.type));
        }
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

const char *const normalize_keywords[] = {"text", "options", "languages", nullptr};

PyObject *normalize_string(PyObject *, PyObject *args, PyObject *kwargs) {
    PyObject *text = nullptr;
    unsigned long long options = LIBPOSTAL_NORMALIZE_DEFAULT_STRING_OPTIONS;
    PyObject *languages = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|KO:normalize_string", const_cast<char **>(normalize_keywords),
                                     &text, &options, &languages))
        return nullptr;
    HeapString utf8 = HeapString::made(to_utf8_copy(text));
    if (!utf8) return nullptr;
    Utf8Array codes;
    if (!languages_to_codes(languages, codes)) return nullptr;

    HeapString normalized = HeapString::made(
        codes.count() > 0 ? libpostal_normalize_string_languages(utf8.get(), options, codes.count(), codes.items())
                          : libpostal_normalize_string(utf8.get(), options));
    if (!normalized) Py_RETURN_NONE;
    return PyUnicode_DecodeUTF8(normalized.get(), static_cast<Py_ssize_t>(strlen(normalized.get())), "strict");
}

const char *const normalized_tokens_keywords[] = {"text", "string_options", "token_options", "whitespace",
                                                  "languages", nullptr};

PyObject *normalized_tokens(PyObject *, PyObject *args, PyObject *kwargs) {
    PyObject *text = nullptr;
    unsigned long long string_options = LIBPOSTAL_NORMALIZE_DEFAULT_STRING_OPTIONS;
    unsigned long long token_options = LIBPOSTAL_NORMALIZE_DEFAULT_TOKEN_OPTIONS;
    unsigned int whitespace = 0;
    PyObject *languages = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|KKIO:normalized_tokens",
                                     const_cast<char **>(normalized_tokens_keywords), &text, &string_options,
                                     &token_options, &whitespace, &languages))
        return nullptr;
    HeapString utf8 = HeapString::made(to_utf8_copy(text));
    if (!utf8) return nullptr;
    Utf8Array codes;
    if (!languages_to_codes(languages, codes)) return nullptr;

    size_t n = 0;
    libpostal_normalized_token_t *tokens =
        codes.count() > 0 ? libpostal_normalized_tokens_languages(utf8.get(), string_options, token_options,
                                                                  whitespace != 0, codes.count(), codes.items(), &n)
                          : libpostal_normalized_tokens(utf8.get(), string_options, token_options, whitespace != 0,
                                                        &n);
    if (tokens == nullptr) Py_RETURN_NONE;
    NormalizedTokens owned(tokens, n);
    PyRef list = PyRef::made(new_list(n));
    if (!list) return nullptr;
    for (size_t i = 0; i < n; i++) {
        const char *token = tokens[i].str;
        PyObject *item = pair(PyUnicode_DecodeUTF8(token, static_cast<Py_ssize_t>(strlen(token)), "strict"),
                              PyLong_FromLong(tokens[i].token.type));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

const char *const classify_keywords[] = {"text", nullptr};

PyObject *classify_language(PyObject *, PyObject *args, PyObject *kwargs) {
    PyObject *text = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:classify_language", const_cast<char **>(classify_keywords),
                                     &text))
        return nullptr;
    HeapString utf8 = HeapString::made(to_utf8_copy(text));
    if (!utf8) return nullptr;

    LanguageResponse response = LanguageResponse::made(libpostal_classify_language(utf8.get()));
    if (!response) Py_RETURN_NONE;
    const libpostal_language_classifier_response_t &guesses = *response.get();
    const size_t n = guesses.languages != nullptr && guesses.probs != nullptr ? guesses.num_languages : 0;
    PyRef list = PyRef::made(new_list(n));
    if (!list) return nullptr;
    for (size_t i = 0; i < n; i++) {
        const char *code = guesses.languages[i];
        PyObject *item = pair(PyUnicode_DecodeUTF8(code, static_cast<Py_ssize_t>(strlen(code)), "strict"),
                              PyFloat_FromDouble(guesses.probs[i]));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

constexpr int keywords = METH_VARARGS | METH_KEYWORDS;

PyMethodDef text_methods[] = {
    {"tokenize", as_method(tokenize), keywords,
     "tokenize($module, text, whitespace=0, offsets=0)\n--\n\n"
     "The tokens of text as (token, type), or (start, end, type) with offsets on."},
    {"normalize_string", as_method(normalize_string), keywords,
     "normalize_string($module, text, options=DEFAULT_STRING_OPTIONS, languages=None)\n--\n\n"
     "text normalized as the string options say."},
    {"normalized_tokens", as_method(normalized_tokens), keywords,
     "normalized_tokens($module, text, string_options=DEFAULT_STRING_OPTIONS, token_options=DEFAULT_TOKEN_OPTIONS,"
     " whitespace=0, languages=None)\n--\n\n"
     "The tokens of text normalized as the string and token options say, as (token, type)."},
    {"classify_language", as_method(classify_language), keywords,
     "classify_language($module, text)\n--\n\n"
     "libpostal's language guesses for text as (code, probability), most probable first."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef text_module = {
    PyModuleDef_HEAD_INIT,
    "_text",
    "libpostal's tokenizer, its string and token normalization and its language classifier.",
    sizeof(ModuleState),
    text_methods,
    nullptr,
    module_traverse,
    module_clear_with_library,
    module_free,
};

// The option masks' defaults, published so that the package's flags can be
// checked against the header the module was built with, and named in the
// functions' signatures, where the interpreter reads them from the module.
const IntConstant text_constants[] = {
    {"DEFAULT_STRING_OPTIONS", LIBPOSTAL_NORMALIZE_DEFAULT_STRING_OPTIONS},
    {"DEFAULT_TOKEN_OPTIONS", LIBPOSTAL_NORMALIZE_DEFAULT_TOKEN_OPTIONS},
};

}  // namespace

ADDRNORM_MODULE_INIT PyInit__text(void) {
    PyRef module = PyRef::made(create_module(&text_module, "_text.Error"));
    if (!module || !acquire_library(module.get())) return nullptr;
    if (!add_int_constants(module.get(), text_constants)) {
        release_library(module.get());
        return nullptr;
    }
    return module.release();
}
