// The floor of the benchmark: the same libpostal calls that the modules make,
// from a C++ loop, with the same option records and the same heap copies of
// the strings, but no Python objects.  Called once per batch from Python
// through ctypes, so the crossing costs nothing per call.
#include <libpostal/libpostal.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

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

// Reads every returned string, as decoding it into a list would.
size_t touch(char **strings, size_t n) {
    size_t bytes = 0;
    for (size_t i = 0; i < n; i++) bytes += strlen(strings[i]);
    return bytes;
}

double elapsed_ns(std::chrono::steady_clock::time_point start, size_t calls) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    return static_cast<double>(ns.count()) / static_cast<double>(calls);
}

}  // namespace

// ns per expand_address call over all addresses; lowercase < 0 leaves the
// flag at its default, as an omitted keyword does.
extern "C" __attribute__((visibility("default"))) double floor_expand(const char *const *addresses, size_t count,
                                                                      const char *const *languages, size_t n_languages,
                                                                      int lowercase, int split, int components) {
    size_t sink = 0;
    auto start = std::chrono::steady_clock::now();
    for (size_t a = 0; a < count; a++) {
        libpostal_normalize_options_t options = libpostal_get_default_options();
        if (lowercase >= 0) options.lowercase = lowercase != 0;
        if (split >= 0) options.split_alpha_from_numeric = split != 0;
        if (components >= 0) options.address_components = static_cast<uint16_t>(components);
        char *text = strdup(addresses[a]);
        char **codes = copy_array(languages, n_languages);
        if (codes != nullptr) {
            options.languages = codes;
            options.num_languages = n_languages;
        }
        size_t n = 0;
        char **expansions = libpostal_expand_address(text, options, &n);
        free_array(codes, n_languages);
        free(text);
        if (expansions != nullptr) {
            sink += touch(expansions, n);
            libpostal_expansion_array_destroy(expansions, n);
        }
    }
    double ns = elapsed_ns(start, count);
    return sink == static_cast<size_t>(-1) ? 0.0 : ns;
}

// ns per near_dupe_hashes call over records given as a flat array of labels
// and values with a field count per record.
extern "C" __attribute__((visibility("default"))) double floor_hash(const char *const *labels,
                                                                    const char *const *values,
                                                                    const size_t *fields, size_t records,
                                                                    const char *const *languages, size_t n_languages,
                                                                    int address_only, double latitude) {
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
        if (hashes != nullptr) {
            sink += touch(hashes, count);
            free_array(hashes, count);
        }
        free_array(codes, n_languages);
        free_array(value_array, n);
        free_array(label_array, n);
    }
    double ns = elapsed_ns(start, records);
    return sink == static_cast<size_t>(-1) ? 0.0 : ns;
}
