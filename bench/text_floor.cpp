// The floor of the text functions' benchmark: the same libpostal calls that
// _text's functions and _kinhash's name keys and place languages make, from a
// C++ loop, with the same heap copy of each text and the same defaults, each
// result read through and released as the modules release it, but no Python
// objects.  Called once per pass from Python through ctypes, so the crossing
// costs nothing per call.
#include <libpostal/libpostal.h>

#include <cstdlib>
#include <cstring>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define TEXT_FLOOR_CALLGRIND 1
#else
#define TEXT_FLOOR_CALLGRIND 0
#endif

#define FLOOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Reads a string as decoding it into a str would.
size_t touch(const char *text) { return text != nullptr ? strlen(text) : 0; }

size_t one_call(int which, const char *given) {
    char *text = strdup(given);
    size_t sink = 0;
    size_t n = 0;
    switch (which) {
    case 0: {
        libpostal_token_t *tokens = libpostal_tokenize(text, false, &n);
        for (size_t i = 0; i < n && tokens != nullptr; i++) sink += tokens[i].offset + tokens[i].len + tokens[i].type;
        free(tokens);
        break;
    }
    case 1: {
        char *normalized = libpostal_normalize_string(text, LIBPOSTAL_NORMALIZE_DEFAULT_STRING_OPTIONS);
        sink += touch(normalized);
        free(normalized);
        break;
    }
    case 2: {
        libpostal_normalized_token_t *tokens = libpostal_normalized_tokens(
            text, LIBPOSTAL_NORMALIZE_DEFAULT_STRING_OPTIONS, LIBPOSTAL_NORMALIZE_DEFAULT_TOKEN_OPTIONS, false, &n);
        for (size_t i = 0; i < n && tokens != nullptr; i++) {
            sink += touch(tokens[i].str) + tokens[i].token.type;
            free(tokens[i].str);
        }
        free(tokens);
        break;
    }
    case 3: {
        libpostal_language_classifier_response_t *guesses = libpostal_classify_language(text);
        for (size_t i = 0; guesses != nullptr && i < guesses->num_languages; i++)
            sink += touch(guesses->languages[i]) + (guesses->probs[i] > 0.5);
        libpostal_language_classifier_response_destroy(guesses);
        break;
    }
    case 4: {
        char **keys = libpostal_near_dupe_name_hashes(text, libpostal_get_default_options(), &n);
        for (size_t i = 0; i < n && keys != nullptr; i++) {
            sink += touch(keys[i]);
            free(keys[i]);
        }
        free(keys);
        break;
    }
    case 5: {
        // The record the benchmark sends: the text as a road.
        char *labels[] = {strdup("road")};
        char *values[] = {text};
        char **codes = libpostal_place_languages(1, labels, values, &n);
        for (size_t i = 0; i < n && codes != nullptr; i++) sink += touch(codes[i]);
        free(codes);
        free(labels[0]);
        break;
    }
    default:
        break;
    }
    free(text);
    return sink;
}

}  // namespace

// One pass of function `which` over the texts; returns what was read, so
// that no call can be left out.
FLOOR_EXPORT size_t text_floor_pass(int which, const char *const *texts, size_t count) {
    size_t sink = 0;
    for (size_t i = 0; i < count; i++) sink += one_call(which, texts[i]);
    return sink;
}

FLOOR_EXPORT int text_floor_callgrind_built() { return TEXT_FLOOR_CALLGRIND; }

// Under callgrind: instrumentation on or off (1 or 0; -1 leaves it), the
// counts zeroed, and a dump of the counts under a name.
FLOOR_EXPORT void text_floor_callgrind(int instrument, int zero, const char *dump_name) {
#if TEXT_FLOOR_CALLGRIND
    if (instrument > 0) CALLGRIND_START_INSTRUMENTATION;
    if (instrument == 0) CALLGRIND_STOP_INSTRUMENTATION;
    if (zero) CALLGRIND_ZERO_STATS;
    if (dump_name != nullptr) CALLGRIND_DUMP_STATS_AT(dump_name);
#else
    (void)instrument;
    (void)zero;
    (void)dump_name;
#endif
}
