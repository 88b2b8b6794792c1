// Preloaded into a test's interpreter to make one chosen allocation fail, so
// that the out-of-memory paths of the conversions can be run for real.  Every
// other call goes straight to the C library.
#include <cstddef>
#include <cstring>

extern "C" {
void *__libc_calloc(size_t, size_t);
void *__libc_malloc(size_t);

namespace {
size_t armed_calloc_count = 0;
char armed_strdup_text[256];
bool strdup_armed = false;
}

// The next calloc of exactly count elements fails, once.
__attribute__((visibility("default"))) void failalloc_arm_calloc(size_t count) { armed_calloc_count = count; }

// The next strdup of exactly this text fails, once.
__attribute__((visibility("default"))) void failalloc_arm_strdup(const char *text) {
    strncpy(armed_strdup_text, text, sizeof armed_strdup_text - 1);
    strdup_armed = true;
}

__attribute__((visibility("default"))) void *calloc(size_t count, size_t size) {
    if (armed_calloc_count != 0 && count == armed_calloc_count) {
        armed_calloc_count = 0;
        return nullptr;
    }
    return __libc_calloc(count, size);
}

__attribute__((visibility("default"))) char *strdup(const char *text) {
    if (strdup_armed && strcmp(text, armed_strdup_text) == 0) {
        strdup_armed = false;
        return nullptr;
    }
    size_t size = strlen(text) + 1;
    char *copy = static_cast<char *>(__libc_malloc(size));
    if (copy != nullptr) memcpy(copy, text, size);
    return copy;
}
}
