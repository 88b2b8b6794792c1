// The double's tokenizer, string and token normalization, language
// classifier, name keys and place languages: answers a test chooses (or, by
// default, ones made from the input), a record of what each call received,
// and an account of what it handed out, with controls of their own
// (double_text_*) beside the double's others.
//
// Like libpostal's: token arrays, normalized strings, normalized tokens (each
// string, then the array) and name keys are the caller's to free with
// free(); a language guess is released through
// libpostal_language_classifier_response_destroy, which frees its two arrays
// but not the codes, which are the classifier's own; so are the codes that
// libpostal_place_languages returns, in an array the caller frees.
#include <libpostal/libpostal.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

// The double's own state of set-up (double.cpp).
extern "C" bool double_library_up(void);
extern "C" bool double_classifier_up(void);

namespace {

// Read back as one ctypes structure: keep in step with tests/text_double.py.
struct TextCounters {
    long calls;
    long calls_while_down;    // asked for while the library (or, for a guess, its classifier) was down
    long live_responses;      // language guesses handed out, not yet destroyed
    long destroy_faults;      // destroy of a response the double never gave
};

struct TextState {
    TextCounters counters{};
    bool null_result = false;
    bool tokens_chosen = false;
    std::vector<libpostal_token_t> tokens;
    bool strings_chosen = false;
    std::vector<std::string> strings;
    std::vector<double> probs;
    // The codes a guess or place_languages points into: the classifier's own.
    std::vector<std::string> codes{"en", "fr"};

    std::string last_function;
    std::string last_input;
    unsigned long long last_string_options = 0;
    unsigned long long last_token_options = 0;
    bool last_whitespace = false;
    std::vector<std::string> last_languages;
    std::vector<std::string> last_labels;
    std::vector<std::string> last_values;
    libpostal_normalize_options_t last_options{};

    std::set<libpostal_language_classifier_response_t *> live;
};

TextState &text_state() {
    static TextState s;
    return s;
}

void note(const char *function, const char *input, bool needs_classifier = false) {
    TextState &s = text_state();
    s.counters.calls++;
    if (!double_library_up() || (needs_classifier && !double_classifier_up())) s.counters.calls_while_down++;
    s.last_function = function;
    s.last_input = input != nullptr ? input : "";
    s.last_languages.clear();
    s.last_labels.clear();
    s.last_values.clear();
}

void note_languages(size_t n, char **languages) {
    auto &out = text_state().last_languages;
    for (size_t i = 0; i < n && languages != nullptr; i++) out.emplace_back(languages[i] ? languages[i] : "");
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The input's words, split at ASCII whitespace, as byte offsets: NUMERIC
// when all digits, else WORD; with whitespace, each run of it a WHITESPACE
// token too.
std::vector<libpostal_token_t> echo_tokens(const char *input, bool whitespace) {
    std::vector<libpostal_token_t> out;
    size_t n = strlen(input);
    for (size_t i = 0; i < n;) {
        size_t start = i;
        bool space = is_space(input[i]);
        bool digits = true;
        while (i < n && is_space(input[i]) == space) {
            digits = digits && input[i] >= '0' && input[i] <= '9';
            i++;
        }
        if (space && !whitespace) continue;
        uint16_t type = space ? 300 : digits ? 50 : 1;
        out.push_back(libpostal_token_t{start, i - start, type});
    }
    return out;
}

std::vector<libpostal_token_t> answer_tokens(const char *input, bool whitespace) {
    TextState &s = text_state();
    return s.tokens_chosen ? s.tokens : echo_tokens(input, whitespace);
}

char **string_array(const std::vector<std::string> &strings, size_t *n) {
    char **array = static_cast<char **>(calloc(strings.size() + 1, sizeof(char *)));
    for (size_t i = 0; i < strings.size(); i++) array[i] = strdup(strings[i].c_str());
    *n = strings.size();
    return array;
}

// An array of pointers into the classifier's own codes.
char **borrowed_codes(size_t *n) {
    TextState &s = text_state();
    if (s.strings_chosen && s.codes != s.strings) s.codes = s.strings;
    char **array = static_cast<char **>(calloc(s.codes.size() + 1, sizeof(char *)));
    for (size_t i = 0; i < s.codes.size(); i++) array[i] = const_cast<char *>(s.codes[i].c_str());
    *n = s.codes.size();
    return array;
}

char *normalize(const char *function, char *input, uint64_t options, size_t num_languages, char **languages) {
    TextState &s = text_state();
    note(function, input);
    s.last_string_options = options;
    note_languages(num_languages, languages);
    if (s.null_result) return nullptr;
    return strdup(s.strings_chosen && !s.strings.empty() ? s.strings[0].c_str() : input);
}

libpostal_normalized_token_t *normalized(const char *function, char *input, uint64_t string_options,
                                         uint64_t token_options, bool whitespace, size_t num_languages,
                                         char **languages, size_t *n) {
    TextState &s = text_state();
    note(function, input);
    s.last_string_options = string_options;
    s.last_token_options = token_options;
    s.last_whitespace = whitespace;
    note_languages(num_languages, languages);
    if (s.null_result) return nullptr;
    std::vector<libpostal_token_t> tokens = answer_tokens(input, whitespace);
    std::vector<std::string> strings;
    if (s.strings_chosen) {
        strings = s.strings;
        tokens.resize(strings.size(), libpostal_token_t{0, 0, 1});
    } else {
        // A chosen token may lie outside the text: its string is what of it
        // lies inside.
        const size_t length = strlen(input);
        for (const libpostal_token_t &token : tokens) {
            const size_t start = token.offset < length ? token.offset : length;
            strings.emplace_back(input + start, token.len < length - start ? token.len : length - start);
        }
    }
    auto *result = static_cast<libpostal_normalized_token_t *>(calloc(strings.size() + 1, sizeof(libpostal_normalized_token_t)));
    for (size_t i = 0; i < strings.size(); i++) result[i] = {strdup(strings[i].c_str()), tokens[i]};
    *n = strings.size();
    return result;
}

}  // namespace

libpostal_token_t *libpostal_tokenize(char *input, bool whitespace, size_t *n) {
    TextState &s = text_state();
    note("libpostal_tokenize", input);
    s.last_whitespace = whitespace;
    if (s.null_result) return nullptr;
    std::vector<libpostal_token_t> tokens = answer_tokens(input, whitespace);
    auto *array = static_cast<libpostal_token_t *>(calloc(tokens.size() + 1, sizeof(libpostal_token_t)));
    if (!tokens.empty()) memcpy(array, tokens.data(), tokens.size() * sizeof(libpostal_token_t));
    *n = tokens.size();
    return array;
}

char *libpostal_normalize_string(char *input, uint64_t options) {
    return normalize("libpostal_normalize_string", input, options, 0, nullptr);
}

char *libpostal_normalize_string_languages(char *input, uint64_t options, size_t num_languages, char **languages) {
    return normalize("libpostal_normalize_string_languages", input, options, num_languages, languages);
}

libpostal_normalized_token_t *libpostal_normalized_tokens(char *input, uint64_t string_options, uint64_t token_options,
                                                          bool whitespace, size_t *n) {
    return normalized("libpostal_normalized_tokens", input, string_options, token_options, whitespace, 0, nullptr, n);
}

libpostal_normalized_token_t *libpostal_normalized_tokens_languages(char *input, uint64_t string_options,
                                                                    uint64_t token_options, bool whitespace,
                                                                    size_t num_languages, char **languages,
                                                                    size_t *n) {
    return normalized("libpostal_normalized_tokens_languages", input, string_options, token_options, whitespace,
                      num_languages, languages, n);
}

libpostal_language_classifier_response_t *libpostal_classify_language(char *address) {
    TextState &s = text_state();
    note("libpostal_classify_language", address, true);
    if (s.null_result) return nullptr;
    size_t n = 0;
    auto *response =
        static_cast<libpostal_language_classifier_response_t *>(malloc(sizeof(libpostal_language_classifier_response_t)));
    response->languages = borrowed_codes(&n);
    response->num_languages = n;
    response->probs = static_cast<double *>(calloc(n + 1, sizeof(double)));
    for (size_t i = 0; i < n; i++) response->probs[i] = i < s.probs.size() ? s.probs[i] : 1.0 / static_cast<double>(i + 2);
    s.live.insert(response);
    s.counters.live_responses++;
    return response;
}

void libpostal_language_classifier_response_destroy(libpostal_language_classifier_response_t *self) {
    TextState &s = text_state();
    if (self == nullptr) return;
    if (s.live.erase(self) == 0) {
        s.counters.destroy_faults++;
        return;  // not ours: freeing it could only make matters worse
    }
    free(self->languages);
    free(self->probs);
    free(self);
    s.counters.live_responses--;
}

char **libpostal_near_dupe_name_hashes(char *name, libpostal_normalize_options_t normalize_options, size_t *num_hashes) {
    TextState &s = text_state();
    note("libpostal_near_dupe_name_hashes", name);
    s.last_options = normalize_options;
    note_languages(normalize_options.num_languages, normalize_options.languages);
    s.last_options.languages = nullptr;
    if (s.null_result) return nullptr;
    return string_array(s.strings_chosen ? s.strings : std::vector<std::string>{std::string("name|") + name},
                        num_hashes);
}

char **libpostal_place_languages(size_t num_components, char **labels, char **values, size_t *num_languages) {
    TextState &s = text_state();
    note("libpostal_place_languages", nullptr, true);
    for (size_t i = 0; i < num_components; i++) {
        s.last_labels.emplace_back(labels[i]);
        s.last_values.emplace_back(values[i]);
    }
    if (s.null_result) return nullptr;
    return borrowed_codes(num_languages);
}

// Control and read-back, for the tests.

DOUBLE_EXPORT void double_text_reset(void) {
    TextCounters counters = text_state().counters;
    text_state() = TextState{};
    text_state().counters = counters;
}

DOUBLE_EXPORT const TextCounters *double_text_counters(void) { return &text_state().counters; }

// Every later call answers null until the double is reset.
DOUBLE_EXPORT void double_text_set_null_result(void) { text_state().null_result = true; }

// Every later tokenize (and normalized_tokens, for the types) answers with
// these tokens, whatever the input.
DOUBLE_EXPORT void double_text_set_tokens(const libpostal_token_t *tokens, size_t n) {
    text_state().tokens_chosen = true;
    text_state().tokens.assign(tokens, tokens + n);
}

// Every later call answers with these byte strings (not necessarily UTF-8):
// normalize_string with the first, normalized_tokens with all, the name keys
// with all, and a guess and place_languages with them as codes (a guess with
// the probabilities given, 1/2, 1/3, ... past them).
DOUBLE_EXPORT void double_text_set_strings(const char *const *strings, size_t n, const double *probs, size_t n_probs) {
    TextState &s = text_state();
    s.strings_chosen = true;
    s.strings.assign(strings, strings + n);
    s.probs.assign(probs, probs + n_probs);
}

DOUBLE_EXPORT const char *double_text_last_function(void) { return text_state().last_function.c_str(); }
DOUBLE_EXPORT const char *double_text_last_input(void) { return text_state().last_input.c_str(); }
DOUBLE_EXPORT unsigned long long double_text_last_string_options(void) { return text_state().last_string_options; }
DOUBLE_EXPORT unsigned long long double_text_last_token_options(void) { return text_state().last_token_options; }
DOUBLE_EXPORT bool double_text_last_whitespace(void) { return text_state().last_whitespace; }
DOUBLE_EXPORT const libpostal_normalize_options_t *double_text_last_options(void) { return &text_state().last_options; }

// The last call's languages, labels and values by index; null past the end.
DOUBLE_EXPORT size_t double_text_last_count(int which) {
    TextState &s = text_state();
    return (which == 0 ? s.last_languages : which == 1 ? s.last_labels : s.last_values).size();
}
DOUBLE_EXPORT const char *double_text_last_item(int which, size_t i) {
    TextState &s = text_state();
    const std::vector<std::string> &items = which == 0 ? s.last_languages : which == 1 ? s.last_labels : s.last_values;
    return i < items.size() ? items[i].c_str() : nullptr;
}
