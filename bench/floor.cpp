// The floor of the benchmark: the same libpostal calls that the modules make,
// from a C++ loop, with the same option records and the same heap copies of
// the strings, but no Python objects.  Called once per batch from Python
// through ctypes, so the crossing costs nothing per call.
#include <libpostal/libpostal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define FLOOR_CALLGRIND 1
#else
#define FLOOR_CALLGRIND 0
#endif

#define FLOOR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

char **copy_array(const char *const *strings, size_t n) {
    if (n == 0) return nullptr;
    auto **array = static_cast<char **>(calloc(n, sizeof(char *)));
    for (size_t i = 0; i < n; i++) array[i] = strdup(strings[i]);
    return array;
}

void free_array(char **array, size_t n) {
    if (array == nullptr) return;
    for (size_t i = 0; i < n; i++) free(array[i]);
    free(array);
}

// Where the results go when the benchmark checks them against the
// binding's: off (null) while timing, so that the loops stay as they were.
char *capture_buffer = nullptr;
size_t capture_capacity = 0;
size_t capture_size = 0;  // what was written, or would have been

void capture(const char *text, size_t size) {
    if (capture_size + size <= capture_capacity) std::memcpy(capture_buffer + capture_size, text, size);
    capture_size += size;
}

// Reads every returned string, as decoding it into a list would; while
// capturing, records the call as "count\0" and each string with its NUL
// ("-\0" for no result at all).
size_t touch(char **strings, size_t n) {
    if (capture_buffer != nullptr) {
        char count[32] = "-";
        if (strings != nullptr) snprintf(count, sizeof count, "%zu", n);
        capture(count, strlen(count) + 1);
    }
    if (strings == nullptr) return 0;
    size_t bytes = 0;
    for (size_t i = 0; i < n; i++) {
        size_t length = strlen(strings[i]);
        if (capture_buffer != nullptr) capture(strings[i], length + 1);
        bytes += length;
    }
    return bytes;
}

double elapsed_ns(std::chrono::steady_clock::time_point start, size_t calls) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    return static_cast<double>(ns.count()) / static_cast<double>(calls);
}

// The expansion loop: languages(a) gives the codes for address a and their
// number; flags < 0 stay at their defaults, as an omitted keyword does.
template <typename Languages>
double expand_loop(const char *const *addresses, size_t count, Languages languages, int lowercase, int split,
                   int components) {
    size_t sink = 0;
    auto start = std::chrono::steady_clock::now();
    for (size_t a = 0; a < count; a++) {
        libpostal_normalize_options_t options = libpostal_get_default_options();
        if (lowercase >= 0) options.lowercase = lowercase != 0;
        if (split >= 0) options.split_alpha_from_numeric = split != 0;
        if (components >= 0) options.address_components = static_cast<uint16_t>(components);
        char *text = strdup(addresses[a]);
        size_t n_languages = 0;
        const char *const *given = languages(a, &n_languages);
        char **codes = copy_array(given, n_languages);
        if (codes != nullptr) {
            options.languages = codes;
            options.num_languages = n_languages;
        }
        size_t n = 0;
        char **expansions = libpostal_expand_address(text, options, &n);
        free_array(codes, n_languages);
        free(text);
        sink += touch(expansions, n);
        if (expansions != nullptr) libpostal_expansion_array_destroy(expansions, n);
    }
    double ns = elapsed_ns(start, count);
    return sink == static_cast<size_t>(-1) ? 0.0 : ns;
}

}  // namespace

// ns per expand_address call over all addresses, each with the same codes.
FLOOR_EXPORT double floor_expand(const char *const *addresses, size_t count, const char *const *languages,
                                 size_t n_languages, int lowercase, int split, int components) {
    auto same = [&](size_t, size_t *n) {
        *n = n_languages;
        return languages;
    };
    return expand_loop(addresses, count, same, lowercase, split, components);
}

// The same with codes of each address's own: address a takes
// n_languages[a] codes, in order, from the flat array languages.
FLOOR_EXPORT double floor_expand_each(const char *const *addresses, size_t count, const char *const *languages,
                                      const size_t *n_languages) {
    size_t offset = 0;
    auto own = [&](size_t a, size_t *n) {
        *n = n_languages[a];
        const char *const *codes = languages + offset;
        offset += n_languages[a];
        return codes;
    };
    return expand_loop(addresses, count, own, -1, -1, -1);
}

// ns per near_dupe_hashes call over records given as a flat array of labels
// and values with a field count per record.
FLOOR_EXPORT double floor_hash(const char *const *labels, const char *const *values, const size_t *fields,
                               size_t records, const char *const *languages, size_t n_languages, int address_only,
                               double latitude) {
    size_t sink = 0;
    auto start = std::chrono::steady_clock::now();
    size_t offset = 0;
    for (size_t r = 0; r < records; r++) {
        libpostal_near_dupe_hash_options_t options = libpostal_get_near_dupe_hash_default_options();
        if (address_only >= 0) options.address_only_keys = address_only != 0;
        if (latitude == latitude) {  // not NaN: given
            options.with_latlon = true;
            options.latitude = latitude;
        }
        size_t n = fields[r];
        char **label_array = copy_array(labels + offset, n);
        char **value_array = copy_array(values + offset, n);
        char **codes = copy_array(languages, n_languages);
        offset += n;
        size_t count = 0;
        char **hashes = n_languages > 0 ? libpostal_near_dupe_hashes_languages(n, label_array, value_array, options,
                                                                               n_languages, codes, &count)
                                        : libpostal_near_dupe_hashes(n, label_array, value_array, options, &count);
        sink += touch(hashes, count);
        if (hashes != nullptr) free_array(hashes, count);
        free_array(codes, n_languages);
        free_array(value_array, n);
        free_array(label_array, n);
    }
    double ns = elapsed_ns(start, records);
    return sink == static_cast<size_t>(-1) ? 0.0 : ns;
}

// Captures the results of the calls that follow into buffer (null: stop).
FLOOR_EXPORT void floor_capture(char *buffer, size_t capacity) {
    capture_buffer = buffer;
    capture_capacity = buffer == nullptr ? 0 : capacity;
    capture_size = 0;
}

// Bytes the capture took, or needed when more than its capacity.
FLOOR_EXPORT size_t floor_captured() { return capture_size; }

// ns per parse_address call over all addresses, with libpostal's default
// options: the copy of each address, the parse, every component and label
// read (captured as touch() does, "2n\0" then each component and its
// label), and the response destroyed.
FLOOR_EXPORT double floor_parse(const char *const *addresses, size_t count) {
    size_t sink = 0;
    auto start = std::chrono::steady_clock::now();
    for (size_t a = 0; a < count; a++) {
        char *text = strdup(addresses[a]);
        libpostal_address_parser_response_t *response =
            libpostal_parse_address(text, libpostal_get_address_parser_default_options());
        free(text);
        if (response == nullptr) {
            sink += touch(nullptr, 0);
            continue;
        }
        size_t n = response->num_components;
        if (capture_buffer != nullptr) {
            char pairs[32];
            snprintf(pairs, sizeof pairs, "%zu", 2 * n);
            capture(pairs, strlen(pairs) + 1);
        }
        for (size_t i = 0; i < n; i++) {
            const char *pair[] = {response->components[i], response->labels[i]};
            for (const char *text : pair) {
                size_t length = strlen(text);
                if (capture_buffer != nullptr) capture(text, length + 1);
                sink += length;
            }
        }
        libpostal_address_parser_response_destroy(response);
    }
    double ns = elapsed_ns(start, count);
    return sink == static_cast<size_t>(-1) ? 0.0 : ns;
}

// callgrind's controls, for the benchmark's counts of instructions: whether
// they are built in, and, run under callgrind, instrumentation on or off
// (instrument 1 or 0; -1 leaves it), the counts zeroed, and a dump of the
// counts since the last dump or zeroing under a name.
FLOOR_EXPORT int floor_callgrind_built() { return FLOOR_CALLGRIND; }

FLOOR_EXPORT void floor_callgrind(int instrument, int zero, const char *dump_name) {
#if FLOOR_CALLGRIND
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
