// A stand-in for libpostal that the binding's tests build and link against.
// It exports libpostal's functions with libpostal's soname and ABI, answers
// with results a test chooses, and records what every call received, so that
// the tests can see exactly what the modules hand the library and whether
// they release what it returns.  The control functions (double_*) are meant
// to be called from Python through ctypes.
#include <libpostal/libpostal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Counters a test reads back as one ctypes structure; keep the field order in
// step with tests/libpostal_double.py.
struct Counters {
    long setup;
    long classifier_setup;
    long classifier_teardown;
    long teardown;
    long calls_while_down;     // library work asked for while not set up
    long teardown_while_down;  // a teardown with nothing set up
    long live_arrays;          // expansion arrays handed out, not yet destroyed
    long destroy_faults;       // destroy of an unknown array or with a wrong count
    long calls;                // expansion and hash calls, all entry points
    long parser_setup;
    long parser_teardown;
    long parser_teardown_while_down;  // a parser teardown with no parser set up
    long parses_while_down;           // parses asked for without the parser set up
    long live_responses;              // parser responses handed out, not yet destroyed
};

enum class ResultMode { echo, strings, null };

// A parse as a test chose it, or as the double makes it from the input.
struct Parse {
    std::vector<std::string> components;
    std::vector<std::string> labels;
};

// One side of a duplicate comparison as the library received it: a field's
// value (count 1), a record's labels and values, or a name's tokens and their
// scores.
struct DuplicateSide {
    size_t count = 0;
    std::vector<std::string> labels;
    std::vector<std::string> values;
    std::vector<double> scores;
};

struct State {
    bool setup_succeeds = true;
    bool classifier_succeeds = true;
    bool library_up = false;
    bool classifier_up = false;
    Counters counters{};

    libpostal_normalize_options_t default_options{};
    libpostal_near_dupe_hash_options_t default_hash_options{};

    long work_ns = 0;  // time each call spends, as libpostal's own work would
    ResultMode result_mode = ResultMode::echo;
    std::vector<std::string> result;

    std::string last_function;
    std::string last_input;
    libpostal_normalize_options_t last_options{};
    libpostal_near_dupe_hash_options_t last_hash_options{};
    size_t last_language_count = 0;
    std::vector<std::string> last_languages;
    size_t last_component_count = 0;
    std::vector<std::string> last_labels;
    std::vector<std::string> last_values;

    // The duplicate classifiers: the answer (compared, or chosen by the
    // test), the fuzzy defaults, and what each of the two sides carried.
    bool duplicate_fixed = false;
    libpostal_fuzzy_duplicate_status_t duplicate_result{};
    libpostal_fuzzy_duplicate_options_t default_fuzzy_options{};
    DuplicateSide last_sides[2];
    libpostal_fuzzy_duplicate_options_t last_fuzzy_options{};

    std::map<char **, size_t> live;

    // The directories the last set-ups were given (empty with *_named false:
    // libpostal's compiled-in one), and whether the classifier's file was
    // there to load.  Kept across double_reset, like the counters.
    bool setup_named = false;
    std::string setup_directory;
    bool classifier_named = false;
    std::string classifier_directory;
    bool classifier_loaded = false;

    // The address parser: whether its set-up succeeds, whether it is up,
    // the directory its last set-up was given, the answer a test chose
    // (else the input's comma-separated parts), and the options the last
    // parse received (null codes kept apart from empty ones).
    bool parser_succeeds = true;
    bool parser_up = false;
    bool parser_named = false;
    std::string parser_directory;
    ResultMode parse_mode = ResultMode::echo;
    Parse parse_result;
    std::map<libpostal_address_parser_response_t *, size_t> live_responses;
    bool last_language_given = false;
    std::string last_parser_language;
    bool last_country_given = false;
    std::string last_parser_country;
};

State &state() {
    static State s;
    return s;
}

// The defaults a real libpostal 1.1.3 returns.
libpostal_normalize_options_t real_default_options() {
    libpostal_normalize_options_t o{};
    o.languages = nullptr;
    o.num_languages = 0;
    o.address_components = 0xc0fe;
    o.latin_ascii = o.transliterate = o.strip_accents = o.decompose = true;
    o.lowercase = o.trim_string = o.drop_parentheticals = true;
    o.replace_numeric_hyphens = o.delete_numeric_hyphens = false;
    o.split_alpha_from_numeric = o.replace_word_hyphens = o.delete_word_hyphens = true;
    o.delete_final_periods = o.delete_acronym_periods = o.drop_english_possessives = true;
    o.delete_apostrophes = o.expand_numex = o.roman_numerals = true;
    return o;
}

libpostal_near_dupe_hash_options_t real_default_hash_options() {
    libpostal_near_dupe_hash_options_t o{};
    o.with_name = o.with_address = true;
    o.with_unit = false;
    o.with_city_or_equivalent = o.with_small_containing_boundaries = o.with_postal_code = true;
    o.with_latlon = false;
    o.latitude = 0.0;
    o.longitude = 0.0;
    o.geohash_precision = 6;
    o.name_and_address_keys = true;
    o.name_only_keys = o.address_only_keys = false;
    return o;
}

// libpostal 1.1.3's fuzzy defaults (DEFAULT_FUZZY_DUPLICATE_*_THRESHOLD).
libpostal_fuzzy_duplicate_options_t real_default_fuzzy_options() {
    libpostal_fuzzy_duplicate_options_t o{};
    o.needs_review_threshold = 0.7;
    o.likely_dupe_threshold = 0.9;
    return o;
}

void reset_results() {
    State &s = state();
    s.default_options = real_default_options();
    s.default_hash_options = real_default_hash_options();
    s.default_fuzzy_options = real_default_fuzzy_options();
    s.duplicate_fixed = false;
    s.duplicate_result = libpostal_fuzzy_duplicate_status_t{};
    s.last_sides[0] = DuplicateSide{};
    s.last_sides[1] = DuplicateSide{};
    s.last_fuzzy_options = libpostal_fuzzy_duplicate_options_t{};
    s.result_mode = ResultMode::echo;
    s.work_ns = 0;
    s.result.clear();
    s.last_function.clear();
    s.last_input.clear();
    s.last_options = libpostal_normalize_options_t{};
    s.last_hash_options = libpostal_near_dupe_hash_options_t{};
    s.last_language_count = 0;
    s.last_languages.clear();
    s.last_component_count = 0;
    s.last_labels.clear();
    s.last_values.clear();
    s.parser_succeeds = true;
    s.parse_mode = ResultMode::echo;
    s.parse_result = Parse{};
    s.last_language_given = s.last_country_given = false;
    s.last_parser_language.clear();
    s.last_parser_country.clear();
}

// A process that cannot be reached through ctypes (a command under test, its
// workers) takes its per-call work time from the environment.
// With ADDRNORM_DOUBLE_EXIT_REPORT set, the counters as the process ends
// (after the interpreter has finalized) go to standard error, so a test can
// see what happened at exit.
struct Init {
    Init() {
        reset_results();
        if (const char *work = getenv("ADDRNORM_DOUBLE_WORK_NS")) state().work_ns = strtol(work, nullptr, 10);
    }
    ~Init() {
        if (getenv("ADDRNORM_DOUBLE_EXIT_REPORT") == nullptr) return;
        const Counters &c = state().counters;
        fprintf(stderr, "double at exit: setup %ld teardown %ld classifier_teardown %ld calls_while_down %ld "
                "teardown_while_down %ld live_arrays %ld parser_setup %ld parser_teardown %ld live_responses %ld\n",
                c.setup, c.teardown, c.classifier_teardown, c.calls_while_down, c.teardown_while_down, c.live_arrays,
                c.parser_setup, c.parser_teardown, c.live_responses);
    }
} init;

void spend(long ns) {
    auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(ns);
    while (std::chrono::steady_clock::now() < until) {
    }
}

void note_call(const char *function) {
    State &s = state();
    if (s.work_ns > 0) spend(s.work_ns);
    s.counters.calls++;
    if (!s.library_up) s.counters.calls_while_down++;
    s.last_function = function;
}

const char *item(const std::vector<std::string> &strings, size_t i) {
    return i < strings.size() ? strings[i].c_str() : nullptr;
}

std::vector<std::string> copy_strings(char **strings, size_t n) {
    std::vector<std::string> out;
    if (strings == nullptr) return out;
    for (size_t i = 0; i < n; i++) out.emplace_back(strings[i] ? strings[i] : "");
    return out;
}

// Results are allocated with the C heap's calloc and strdup: expansion arrays
// come back through libpostal_expansion_array_destroy, hash arrays are freed by
// the caller with free(), as libpostal's own are.
char **make_array(const std::vector<std::string> &strings, size_t *n) {
    char **array = static_cast<char **>(calloc(strings.size() + 1, sizeof(char *)));
    for (size_t i = 0; i < strings.size(); i++) array[i] = strdup(strings[i].c_str());
    *n = strings.size();
    return array;
}

char **answer(const std::vector<std::string> &echo, size_t *n) {
    State &s = state();
    switch (s.result_mode) {
    case ResultMode::null:
        return nullptr;
    case ResultMode::strings:
        return make_array(s.result, n);
    case ResultMode::echo:
        break;
    }
    return make_array(echo, n);
}

char **expand(const char *function, char *input, libpostal_normalize_options_t options, size_t *n) {
    State &s = state();
    note_call(function);
    s.last_input = input ? input : "";
    s.last_options = options;
    s.last_language_count = options.num_languages;
    s.last_languages = copy_strings(options.languages, options.num_languages);
    char **array = answer({s.last_input}, n);
    if (array != nullptr) {
        s.live[array] = *n;
        s.counters.live_arrays++;
    }
    return array;
}

char **hash(const char *function, size_t num_components, char **labels, char **values,
            libpostal_near_dupe_hash_options_t options, size_t num_languages, char **languages,
            size_t *num_hashes) {
    State &s = state();
    note_call(function);
    s.last_component_count = num_components;
    s.last_labels = copy_strings(labels, num_components);
    s.last_values = copy_strings(values, num_components);
    s.last_hash_options = options;
    s.last_language_count = num_languages;
    s.last_languages = copy_strings(languages, num_languages);
    std::vector<std::string> echo;
    for (size_t i = 0; i < num_components; i++) echo.push_back(s.last_labels[i] + "|" + s.last_values[i]);
    return answer(echo, num_hashes);
}

void note_languages(size_t num_languages, char **languages) {
    State &s = state();
    s.last_language_count = num_languages;
    s.last_languages = copy_strings(languages, num_languages);
}

// Unless a test chose the answer: an exact duplicate when the two sides
// carried the same strings (similarity 1), else none (similarity 0).
libpostal_fuzzy_duplicate_status_t duplicate_answer() {
    State &s = state();
    if (s.duplicate_fixed) return s.duplicate_result;
    const DuplicateSide &a = s.last_sides[0];
    const DuplicateSide &b = s.last_sides[1];
    bool same = a.count == b.count && a.labels == b.labels && a.values == b.values;
    return same ? libpostal_fuzzy_duplicate_status_t{LIBPOSTAL_EXACT_DUPLICATE, 1.0}
                : libpostal_fuzzy_duplicate_status_t{LIBPOSTAL_NON_DUPLICATE, 0.0};
}

libpostal_duplicate_status_t compare_values(const char *function, char *value1, char *value2,
                                            libpostal_duplicate_options_t options) {
    State &s = state();
    note_call(function);
    note_languages(options.num_languages, options.languages);
    char *values[2] = {value1, value2};
    for (size_t i = 0; i < 2; i++) {
        s.last_sides[i] = DuplicateSide{};
        s.last_sides[i].count = 1;
        s.last_sides[i].values = copy_strings(&values[i], 1);
    }
    return duplicate_answer().status;
}

void note_tokens(DuplicateSide &side, size_t num_tokens, char **tokens, const double *scores) {
    side = DuplicateSide{};
    side.count = num_tokens;
    side.values = copy_strings(tokens, num_tokens);
    if (scores != nullptr) side.scores.assign(scores, scores + num_tokens);
}

libpostal_fuzzy_duplicate_status_t compare_fuzzy(const char *function, size_t num_tokens1, char **tokens1,
                                                 double *token_scores1, size_t num_tokens2, char **tokens2,
                                                 double *token_scores2, libpostal_fuzzy_duplicate_options_t options) {
    State &s = state();
    note_call(function);
    note_languages(options.num_languages, options.languages);
    s.last_fuzzy_options = options;
    note_tokens(s.last_sides[0], num_tokens1, tokens1, token_scores1);
    note_tokens(s.last_sides[1], num_tokens2, tokens2, token_scores2);
    return duplicate_answer();
}

// libpostal's compiled-in data directory, as its build defines it
// ($(datadir)/libpostal); the path below appears in the library's read-only
// data exactly as it does in libpostal's, where the package looks for it.
#ifndef LIBPOSTAL_DATA_DIR
#define LIBPOSTAL_DATA_DIR "/usr/local/share/libpostal"
#endif
const char default_dictionary_path[] = LIBPOSTAL_DATA_DIR "/address_expansions/address_dictionary.dat";

// Each data file starts with its table's signature, which libpostal checks
// before loading the rest: a file without it fails libpostal's set-up, and
// fails the double's just the same, so that a damaged data directory is
// refused here as it would be there.
struct DataFile {
    const char *path;
    uint32_t signature;
};
const DataFile base_files[] = {
    {"transliteration/transliteration.dat", 0xAAAAAAAAu},
    {"numex/numex.dat", 0xBBBBBBBBu},
    {"address_expansions/address_dictionary.dat", 0xBABABABAu},
};
const DataFile classifier_file = {"language_classifier/language_classifier.dat", 0xC0C0C0C0u};
const DataFile parser_files[] = {
    {"address_parser/address_parser_crf.dat", 0xCBCBCBCBu},
    {"address_parser/address_parser_postal_codes.dat", 0xCDCDCDCDu},
    {"address_parser/address_parser_phrases.dat", 0xCECECECEu},
    {"address_parser/address_parser_vocab.trie", 0xCFCFCFCFu},
};

// The labels the echo parse gives the comma-separated parts of its input,
// in turn: enough for a test to see parts reach the fields they name.
const char *const echo_labels[] = {"road", "city", "postcode", "country"};

char *copy_of(const std::string &text) { return strdup(text.c_str()); }

bool readable(const std::string &directory, const DataFile &file) {
    FILE *stream = fopen((directory + "/" + file.path).c_str(), "rb");
    if (stream == nullptr) return false;
    unsigned char bytes[4] = {};
    size_t got = fread(bytes, 1, sizeof bytes, stream);
    fclose(stream);
    uint32_t signature =
        (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
    return got == sizeof bytes && signature == file.signature;
}

}  // namespace

// libpostal's interface.

bool libpostal_setup(void) {
    State &s = state();
    s.counters.setup++;
    s.setup_named = false;
    s.setup_directory.clear();
    s.library_up = s.setup_succeeds;
    return s.setup_succeeds;
}

// With a directory, the base data must be there (as libpostal loads it);
// null means the compiled-in directory, as in libpostal.
bool libpostal_setup_datadir(char *datadir) {
    if (datadir == nullptr) return libpostal_setup();
    State &s = state();
    s.counters.setup++;
    s.setup_named = true;
    s.setup_directory = datadir;
    bool found = true;
    for (const DataFile &file : base_files) found = found && readable(s.setup_directory, file);
    s.library_up = s.setup_succeeds && found;
    return s.library_up;
}

bool libpostal_setup_language_classifier(void) {
    State &s = state();
    s.counters.classifier_setup++;
    if (!s.library_up) s.counters.calls_while_down++;
    s.classifier_named = false;
    s.classifier_directory.clear();
    s.classifier_loaded = s.classifier_succeeds;
    s.classifier_up = s.classifier_succeeds;
    return s.classifier_succeeds;
}

// Like libpostal's, reports success when the model file is missing: the
// library then runs without a classifier (double_classifier_loaded says so).
bool libpostal_setup_language_classifier_datadir(char *datadir) {
    if (datadir == nullptr) return libpostal_setup_language_classifier();
    State &s = state();
    s.counters.classifier_setup++;
    if (!s.library_up) s.counters.calls_while_down++;
    s.classifier_named = true;
    s.classifier_directory = datadir;
    s.classifier_loaded = s.classifier_succeeds && readable(s.classifier_directory, classifier_file);
    s.classifier_up = s.classifier_succeeds;
    return s.classifier_succeeds;
}

void libpostal_teardown_language_classifier(void) {
    State &s = state();
    s.counters.classifier_teardown++;
    s.classifier_up = false;
}

void libpostal_teardown(void) {
    State &s = state();
    s.counters.teardown++;
    if (!s.library_up) s.counters.teardown_while_down++;
    s.library_up = false;
}

libpostal_normalize_options_t libpostal_get_default_options(void) { return state().default_options; }

char **libpostal_expand_address(char *input, libpostal_normalize_options_t options, size_t *n) {
    return expand("libpostal_expand_address", input, options, n);
}

char **libpostal_expand_address_root(char *input, libpostal_normalize_options_t options, size_t *n) {
    return expand("libpostal_expand_address_root", input, options, n);
}

void libpostal_expansion_array_destroy(char **expansions, size_t n) {
    State &s = state();
    if (expansions == nullptr) return;
    auto found = s.live.find(expansions);
    if (found == s.live.end()) {
        s.counters.destroy_faults++;
        return;  // not ours: freeing it could only make matters worse
    }
    if (found->second != n) s.counters.destroy_faults++;
    for (size_t i = 0; i < found->second; i++) free(expansions[i]);
    free(expansions);
    s.live.erase(found);
    s.counters.live_arrays--;
}

libpostal_near_dupe_hash_options_t libpostal_get_near_dupe_hash_default_options(void) {
    return state().default_hash_options;
}

char **libpostal_near_dupe_hashes(size_t num_components, char **labels, char **values,
                                  libpostal_near_dupe_hash_options_t options, size_t *num_hashes) {
    return hash("libpostal_near_dupe_hashes", num_components, labels, values, options, 0, nullptr, num_hashes);
}

char **libpostal_near_dupe_hashes_languages(size_t num_components, char **labels, char **values,
                                            libpostal_near_dupe_hash_options_t options, size_t num_languages,
                                            char **languages, size_t *num_hashes) {
    return hash("libpostal_near_dupe_hashes_languages", num_components, labels, values, options, num_languages,
                languages, num_hashes);
}

libpostal_duplicate_options_t libpostal_get_default_duplicate_options(void) {
    return libpostal_duplicate_options_t{0, nullptr};
}

libpostal_duplicate_options_t libpostal_get_duplicate_options_with_languages(size_t num_languages, char **languages) {
    return libpostal_duplicate_options_t{num_languages, languages};
}

libpostal_duplicate_status_t libpostal_is_name_duplicate(char *value1, char *value2,
                                                         libpostal_duplicate_options_t options) {
    return compare_values("libpostal_is_name_duplicate", value1, value2, options);
}

libpostal_duplicate_status_t libpostal_is_street_duplicate(char *value1, char *value2,
                                                           libpostal_duplicate_options_t options) {
    return compare_values("libpostal_is_street_duplicate", value1, value2, options);
}

libpostal_duplicate_status_t libpostal_is_house_number_duplicate(char *value1, char *value2,
                                                                 libpostal_duplicate_options_t options) {
    return compare_values("libpostal_is_house_number_duplicate", value1, value2, options);
}

libpostal_duplicate_status_t libpostal_is_po_box_duplicate(char *value1, char *value2,
                                                           libpostal_duplicate_options_t options) {
    return compare_values("libpostal_is_po_box_duplicate", value1, value2, options);
}

libpostal_duplicate_status_t libpostal_is_unit_duplicate(char *value1, char *value2,
                                                         libpostal_duplicate_options_t options) {
    return compare_values("libpostal_is_unit_duplicate", value1, value2, options);
}

libpostal_duplicate_status_t libpostal_is_floor_duplicate(char *value1, char *value2,
                                                          libpostal_duplicate_options_t options) {
    return compare_values("libpostal_is_floor_duplicate", value1, value2, options);
}

libpostal_duplicate_status_t libpostal_is_postal_code_duplicate(char *value1, char *value2,
                                                                libpostal_duplicate_options_t options) {
    return compare_values("libpostal_is_postal_code_duplicate", value1, value2, options);
}

libpostal_duplicate_status_t libpostal_is_toponym_duplicate(size_t num_components1, char **labels1, char **values1,
                                                            size_t num_components2, char **labels2, char **values2,
                                                            libpostal_duplicate_options_t options) {
    State &s = state();
    note_call("libpostal_is_toponym_duplicate");
    note_languages(options.num_languages, options.languages);
    const size_t counts[2] = {num_components1, num_components2};
    char **const labels[2] = {labels1, labels2};
    char **const values[2] = {values1, values2};
    for (size_t i = 0; i < 2; i++) {
        s.last_sides[i] = DuplicateSide{};
        s.last_sides[i].count = counts[i];
        s.last_sides[i].labels = copy_strings(labels[i], counts[i]);
        s.last_sides[i].values = copy_strings(values[i], counts[i]);
    }
    return duplicate_answer().status;
}

libpostal_fuzzy_duplicate_options_t libpostal_get_default_fuzzy_duplicate_options(void) {
    return state().default_fuzzy_options;
}

libpostal_fuzzy_duplicate_options_t libpostal_get_default_fuzzy_duplicate_options_with_languages(size_t num_languages,
                                                                                                 char **languages) {
    libpostal_fuzzy_duplicate_options_t options = state().default_fuzzy_options;
    options.num_languages = num_languages;
    options.languages = languages;
    return options;
}

libpostal_fuzzy_duplicate_status_t libpostal_is_name_duplicate_fuzzy(size_t num_tokens1, char **tokens1,
                                                                     double *token_scores1, size_t num_tokens2,
                                                                     char **tokens2, double *token_scores2,
                                                                     libpostal_fuzzy_duplicate_options_t options) {
    return compare_fuzzy("libpostal_is_name_duplicate_fuzzy", num_tokens1, tokens1, token_scores1, num_tokens2,
                         tokens2, token_scores2, options);
}

libpostal_fuzzy_duplicate_status_t libpostal_is_street_duplicate_fuzzy(size_t num_tokens1, char **tokens1,
                                                                       double *token_scores1, size_t num_tokens2,
                                                                       char **tokens2, double *token_scores2,
                                                                       libpostal_fuzzy_duplicate_options_t options) {
    return compare_fuzzy("libpostal_is_street_duplicate_fuzzy", num_tokens1, tokens1, token_scores1, num_tokens2,
                         tokens2, token_scores2, options);
}

// The address parser.  Like libpostal's, its set-up loads nothing twice and
// reads the model from DIR/address_parser; a parse with the parser down is
// answered with null, as libpostal answers it.

bool libpostal_setup_parser_datadir(char *datadir) {
    State &s = state();
    s.counters.parser_setup++;
    if (!s.library_up) s.counters.calls_while_down++;
    s.parser_named = datadir != nullptr;
    s.parser_directory = datadir ? datadir : "";
    bool found = true;
    if (datadir != nullptr)
        for (const DataFile &file : parser_files) found = found && readable(s.parser_directory, file);
    s.parser_up = s.parser_up || (s.parser_succeeds && found);
    return s.parser_up;
}

bool libpostal_setup_parser(void) { return libpostal_setup_parser_datadir(nullptr); }

void libpostal_teardown_parser(void) {
    State &s = state();
    s.counters.parser_teardown++;
    if (!s.parser_up) s.counters.parser_teardown_while_down++;
    s.parser_up = false;
}

libpostal_address_parser_options_t libpostal_get_address_parser_default_options(void) {
    return libpostal_address_parser_options_t{nullptr, nullptr};
}

libpostal_address_parser_response_t *libpostal_parse_address(char *address, libpostal_address_parser_options_t options) {
    State &s = state();
    note_call("libpostal_parse_address");
    s.last_input = address ? address : "";
    s.last_language_given = options.language != nullptr;
    s.last_parser_language = options.language ? options.language : "";
    s.last_country_given = options.country != nullptr;
    s.last_parser_country = options.country ? options.country : "";
    if (!s.parser_up) {
        s.counters.parses_while_down++;
        return nullptr;
    }
    if (s.parse_mode == ResultMode::null) return nullptr;
    Parse parse = s.parse_result;
    if (s.parse_mode == ResultMode::echo) {
        parse = Parse{};
        size_t start = 0;
        while (start <= s.last_input.size()) {
            size_t end = s.last_input.find(',', start);
            if (end == std::string::npos) end = s.last_input.size();
            std::string part = s.last_input.substr(start, end - start);
            size_t first = part.find_first_not_of(' ');
            size_t last = part.find_last_not_of(' ');
            if (first != std::string::npos) {
                parse.components.push_back(part.substr(first, last - first + 1));
                parse.labels.push_back(echo_labels[parse.labels.size() % 4]);
            }
            start = end + 1;
        }
    }
    auto *response = static_cast<libpostal_address_parser_response_t *>(calloc(1, sizeof(libpostal_address_parser_response_t)));
    size_t n = parse.components.size();
    response->num_components = n;
    response->components = static_cast<char **>(calloc(n + 1, sizeof(char *)));
    response->labels = static_cast<char **>(calloc(n + 1, sizeof(char *)));
    for (size_t i = 0; i < n; i++) {
        response->components[i] = copy_of(parse.components[i]);
        response->labels[i] = copy_of(parse.labels[i]);
    }
    s.live_responses[response] = n;
    s.counters.live_responses++;
    return response;
}

void libpostal_address_parser_response_destroy(libpostal_address_parser_response_t *self) {
    State &s = state();
    if (self == nullptr) return;
    auto found = s.live_responses.find(self);
    if (found == s.live_responses.end()) {
        s.counters.destroy_faults++;
        return;
    }
    for (size_t i = 0; i < self->num_components; i++) {
        free(self->components[i]);
        free(self->labels[i]);
    }
    free(self->components);
    free(self->labels);
    free(self);
    s.live_responses.erase(found);
    s.counters.live_responses--;
}

// Control and read-back, for the tests.

DOUBLE_EXPORT void double_set_setup_results(bool setup_succeeds, bool classifier_succeeds) {
    state().setup_succeeds = setup_succeeds;
    state().classifier_succeeds = classifier_succeeds;
}

DOUBLE_EXPORT const Counters *double_counters(void) { return &state().counters; }
DOUBLE_EXPORT bool double_library_up(void) { return state().library_up; }
DOUBLE_EXPORT bool double_classifier_up(void) { return state().classifier_up; }

DOUBLE_EXPORT void double_reset(void) { reset_results(); }

// The parser's set-up fails (true) or succeeds when its files are there.
DOUBLE_EXPORT void double_set_parser_setup_result(bool succeeds) { state().parser_succeeds = succeeds; }
DOUBLE_EXPORT bool double_parser_up(void) { return state().parser_up; }
DOUBLE_EXPORT const char *double_parser_directory(void) {
    return state().parser_named ? state().parser_directory.c_str() : nullptr;
}

// Every later parse answers with these n components and labels (byte
// strings, not necessarily UTF-8) until the double is reset.
DOUBLE_EXPORT void double_set_parse_result(const char *const *components, const char *const *labels, size_t n) {
    State &s = state();
    s.parse_mode = ResultMode::strings;
    s.parse_result.components.assign(components, components + n);
    s.parse_result.labels.assign(labels, labels + n);
}
DOUBLE_EXPORT void double_set_null_parse(void) { state().parse_mode = ResultMode::null; }

// The last parse's language and country: null when it was sent none.
DOUBLE_EXPORT const char *double_last_parser_language(void) {
    return state().last_language_given ? state().last_parser_language.c_str() : nullptr;
}
DOUBLE_EXPORT const char *double_last_parser_country(void) {
    return state().last_country_given ? state().last_parser_country.c_str() : nullptr;
}

// The directory the last set-up of the library or of its classifier was
// given; null for the compiled-in one (or before any set-up).
DOUBLE_EXPORT const char *double_setup_directory(void) {
    return state().setup_named ? state().setup_directory.c_str() : nullptr;
}
DOUBLE_EXPORT const char *double_classifier_directory(void) {
    return state().classifier_named ? state().classifier_directory.c_str() : nullptr;
}
DOUBLE_EXPORT bool double_classifier_loaded(void) { return state().classifier_loaded; }
DOUBLE_EXPORT const char *double_default_dictionary_path(void) { return default_dictionary_path; }

DOUBLE_EXPORT void double_set_default_options(const libpostal_normalize_options_t *options) {
    state().default_options = *options;
}

DOUBLE_EXPORT void double_set_near_dupe_default_options(const libpostal_near_dupe_hash_options_t *options) {
    state().default_hash_options = *options;
}

// Every later call answers with these strings (NUL-terminated byte strings,
// not necessarily UTF-8) until the result is set again.
DOUBLE_EXPORT void double_set_result(const char *const *strings, size_t n) {
    State &s = state();
    s.result_mode = ResultMode::strings;
    s.result.assign(strings, strings + n);
}

// Each later expansion or hash call spends this long working, so that
// parallel runs can be measured against a cost like libpostal's.
DOUBLE_EXPORT void double_set_work_ns(long ns) { state().work_ns = ns; }

DOUBLE_EXPORT void double_set_null_result(void) { state().result_mode = ResultMode::null; }
DOUBLE_EXPORT void double_set_echo_result(void) { state().result_mode = ResultMode::echo; }

DOUBLE_EXPORT const char *double_last_function(void) { return state().last_function.c_str(); }
DOUBLE_EXPORT const char *double_last_input(void) { return state().last_input.c_str(); }
DOUBLE_EXPORT const libpostal_normalize_options_t *double_last_options(void) { return &state().last_options; }
DOUBLE_EXPORT const libpostal_near_dupe_hash_options_t *double_last_hash_options(void) {
    return &state().last_hash_options;
}
DOUBLE_EXPORT size_t double_last_language_count(void) { return state().last_language_count; }
DOUBLE_EXPORT const char *double_last_language(size_t i) { return item(state().last_languages, i); }
DOUBLE_EXPORT size_t double_last_component_count(void) { return state().last_component_count; }
DOUBLE_EXPORT const char *double_last_label(size_t i) { return item(state().last_labels, i); }
DOUBLE_EXPORT const char *double_last_value(size_t i) { return item(state().last_values, i); }

// Every later duplicate call answers with this status and similarity (the
// similarity only reaches the fuzzy callers) until the double is reset.
DOUBLE_EXPORT void double_set_duplicate_result(int status, double similarity) {
    State &s = state();
    s.duplicate_fixed = true;
    s.duplicate_result.status = static_cast<libpostal_duplicate_status_t>(status);
    s.duplicate_result.similarity = similarity;
}

DOUBLE_EXPORT void double_set_fuzzy_default_thresholds(double needs_review, double likely_dupe) {
    state().default_fuzzy_options.needs_review_threshold = needs_review;
    state().default_fuzzy_options.likely_dupe_threshold = likely_dupe;
}

// The last duplicate call's sides (0 and 1): each one's count, and its
// labels, values (or tokens) and scores by index, null past what it carried.
DOUBLE_EXPORT size_t double_last_side_count(size_t side) { return state().last_sides[side & 1].count; }
DOUBLE_EXPORT const char *double_last_side_label(size_t side, size_t i) {
    return item(state().last_sides[side & 1].labels, i);
}
DOUBLE_EXPORT const char *double_last_side_value(size_t side, size_t i) {
    return item(state().last_sides[side & 1].values, i);
}
DOUBLE_EXPORT size_t double_last_side_score_count(size_t side) { return state().last_sides[side & 1].scores.size(); }
DOUBLE_EXPORT double double_last_side_score(size_t side, size_t i) {
    const std::vector<double> &scores = state().last_sides[side & 1].scores;
    return i < scores.size() ? scores[i] : 0.0;
}
DOUBLE_EXPORT const libpostal_fuzzy_duplicate_options_t *double_last_fuzzy_options(void) {
    return &state().last_fuzzy_options;
}
