// addrnorm._expand: every normalized form of an address, and the address
// component bits that make up expand_address's address_components mask.
//
// Publishes expand_address(address, languages=None, address_components=...,
// <seventeen flags>..., root=0) and the fifteen ADDRESS_* constants; importing
// it sets libpostal up (one share of the process's set-up, see library.hpp).
// Deliberate, and fixed for callers:
// - argument errors name "pyexpand", the name behind the format string's
//   colon, not expand_address;
// - a failed set-up raises TypeError "Error loading libpostal", not
//   ImportError, so the import fails with that TypeError;
// - bytes pass the parser's type check for the address and are then refused
//   ("Parameter could not be converted to unicode"); only str is taken;
// - a str as languages is a sequence of one-character codes; anything that
//   is not a sequence is ignored;
// - the module's exception class lives only in the module state: there is
//   no Error attribute, and no function raises it.
#include <libpostal/libpostal.h>

#include "../core/flags.hpp"
#include "../core/library.hpp"
#include "../core/lifecycle.hpp"
#include "../core/methods.hpp"
#include "../core/normalize_flags.hpp"
#include "../core/owned.hpp"
#include "../core/text.hpp"

using namespace addrnorm;

namespace {

// The parser's keyword list: it is also the positional order.  The flags
// follow normalize_flags.
const char *const expand_keywords[] = {
    "address",
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
    "root",
    nullptr,
};
const char expand_format[] = "O|OHIIIIIIIIIIIIIIIIII:pyexpand";

constexpr size_t flag_count = normalize_flag_count;

const IntConstant address_components[] = {
    {"ADDRESS_NONE", 0x0000},
    {"ADDRESS_ANY", 0x0001},
    {"ADDRESS_NAME", 0x0002},
    {"ADDRESS_HOUSE_NUMBER", 0x0004},
    {"ADDRESS_STREET", 0x0008},
    {"ADDRESS_UNIT", 0x0010},
    {"ADDRESS_LEVEL", 0x0020},
    {"ADDRESS_STAIRCASE", 0x0040},
    {"ADDRESS_ENTRANCE", 0x0080},
    {"ADDRESS_CATEGORY", 0x0100},
    {"ADDRESS_NEAR", 0x0200},
    {"ADDRESS_TOPONYM", 0x2000},
    {"ADDRESS_POSTAL_CODE", 0x4000},
    {"ADDRESS_PO_BOX", 0x8000},
    {"ADDRESS_ALL", 0xffff},
};

// libpostal's expansion array, released through the library.
class ExpansionArray {
public:
    ExpansionArray(char **items, size_t count) : items_(items), count_(count) {}
    ~ExpansionArray() {
        if (items_ != nullptr) libpostal_expansion_array_destroy(items_, count_);
    }
    ExpansionArray(const ExpansionArray &) = delete;
    ExpansionArray &operator=(const ExpansionArray &) = delete;

private:
    char **items_;
    size_t count_;
};

PyObject *expand_address(PyObject *, PyObject *args, PyObject *kwargs) {
    libpostal_normalize_options_t options = libpostal_get_default_options();

    PyObject *address = nullptr;
    PyObject *languages = Py_None;
    unsigned short components = options.address_components;
    unsigned int flags[flag_count];
    load_flags(options, normalize_flags, flags);
    unsigned int root = 0;

    if (!PyArg_ParseTupleAndKeywords(args, kwargs, expand_format, const_cast<char **>(expand_keywords), &address,
                                     &languages, &components, &flags[0], &flags[1], &flags[2], &flags[3], &flags[4],
                                     &flags[5], &flags[6], &flags[7], &flags[8], &flags[9], &flags[10], &flags[11],
                                     &flags[12], &flags[13], &flags[14], &flags[15], &flags[16], &root))
        return nullptr;

    options.address_components = components;
    store_flags(options, normalize_flags, flags);

    HeapString text = HeapString::made(to_utf8_copy(address));
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

    size_t n = 0;
    char **expansions = root != 0 ? libpostal_expand_address_root(text.get(), options, &n)
                                  : libpostal_expand_address(text.get(), options, &n);
    codes.reset();
    text.reset();
    if (expansions == nullptr) Py_RETURN_NONE;
    ExpansionArray owned(expansions, n);
    return utf8_array_to_list(expansions, n);
}

PyMethodDef expand_methods[] = {
    {"expand_address", as_method(expand_address),
     METH_VARARGS | METH_KEYWORDS, "expand_address(text, **kw)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef expand_module = {
    PyModuleDef_HEAD_INIT,
    "_expand",
    nullptr,
    sizeof(ModuleState),
    expand_methods,
    nullptr,
    module_traverse,
    module_clear_with_library,
    module_free,
};

}  // namespace

ADDRNORM_MODULE_INIT PyInit__expand(void) {
    PyRef module = PyRef::made(create_module(&expand_module, "_expand.Error"));
    if (!module || !acquire_library(module.get())) return nullptr;
    if (!add_int_constants(module.get(), address_components)) {
        release_library(module.get());
        return nullptr;
    }
    return module.release();
}
