// addrnorm._wordclass: libpostal's token type codes under their names.  Needs
// only the interpreter: it neither links nor starts libpostal.
//
// Publishes the 43 TOKEN_TYPE_* integer constants and no function.  Its
// exception class, like the other modules', lives only in the module state:
// there is no Error attribute.
#include "../core/lifecycle.hpp"
#include "../core/owned.hpp"

using namespace addrnorm;

namespace {

const IntConstant token_types[] = {
    {"TOKEN_TYPE_END", 0},
    {"TOKEN_TYPE_WORD", 1},
    {"TOKEN_TYPE_ABBREVIATION", 2},
    {"TOKEN_TYPE_IDEOGRAPHIC_CHAR", 3},
    {"TOKEN_TYPE_HANGUL_SYLLABLE", 4},
    {"TOKEN_TYPE_ACRONYM", 5},
    {"TOKEN_TYPE_PHRASE", 10},
    {"TOKEN_TYPE_EMAIL", 20},
    {"TOKEN_TYPE_URL", 21},
    {"TOKEN_TYPE_US_PHONE", 22},
    {"TOKEN_TYPE_INTL_PHONE", 23},
    {"TOKEN_TYPE_NUMERIC", 50},
    {"TOKEN_TYPE_ORDINAL", 51},
    {"TOKEN_TYPE_ROMAN_NUMERAL", 52},
    {"TOKEN_TYPE_IDEOGRAPHIC_NUMBER", 53},
    {"TOKEN_TYPE_PERIOD", 100},
    {"TOKEN_TYPE_EXCLAMATION", 101},
    {"TOKEN_TYPE_QUESTION_MARK", 102},
    {"TOKEN_TYPE_COMMA", 103},
    {"TOKEN_TYPE_COLON", 104},
    {"TOKEN_TYPE_SEMICOLON", 105},
    {"TOKEN_TYPE_PLUS", 106},
    {"TOKEN_TYPE_AMPERSAND", 107},
    {"TOKEN_TYPE_AT_SIGN", 108},
    {"TOKEN_TYPE_POUND", 109},
    {"TOKEN_TYPE_ELLIPSIS", 110},
    {"TOKEN_TYPE_DASH", 111},
    {"TOKEN_TYPE_BREAKING_DASH", 112},
    {"TOKEN_TYPE_HYPHEN", 113},
    {"TOKEN_TYPE_PUNCT_OPEN", 114},
    {"TOKEN_TYPE_PUNCT_CLOSE", 115},
    {"TOKEN_TYPE_DOUBLE_QUOTE", 119},
    {"TOKEN_TYPE_SINGLE_QUOTE", 120},
    {"TOKEN_TYPE_OPEN_QUOTE", 121},
    {"TOKEN_TYPE_CLOSE_QUOTE", 122},
    {"TOKEN_TYPE_SLASH", 124},
    {"TOKEN_TYPE_BACKSLASH", 125},
    {"TOKEN_TYPE_GREATER_THAN", 126},
    {"TOKEN_TYPE_LESS_THAN", 127},
    {"TOKEN_TYPE_OTHER", 200},
    {"TOKEN_TYPE_WHITESPACE", 300},
    {"TOKEN_TYPE_NEWLINE", 301},
    {"TOKEN_TYPE_INVALID_CHAR", 500},
};

PyMethodDef wordclass_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef wordclass_module = {
    PyModuleDef_HEAD_INIT,
    "_wordclass",
    nullptr,
    sizeof(ModuleState),
    wordclass_methods,
    nullptr,
    module_traverse,
    module_clear,
    module_free,
};

}  // namespace

ADDRNORM_MODULE_INIT PyInit__wordclass(void) {
    PyRef module = PyRef::made(create_module(&wordclass_module, "_wordclass.Error"));
    if (!module || !add_int_constants(module.get(), token_types)) return nullptr;
    return module.release();
}
