// libpostal's option records hold one-byte booleans.  The byte is read as a
// byte, so that a record whose flag holds any non-zero value reads as on
// rather than as an invalid bool.
#ifndef ADDRNORM_CORE_FLAGS_HPP
#define ADDRNORM_CORE_FLAGS_HPP

#include <cstddef>
#include <cstring>

namespace addrnorm {

inline unsigned char flag_byte(const bool &flag) {
    unsigned char byte;
    static_assert(sizeof flag == sizeof byte, "libpostal's booleans are one byte");
    std::memcpy(&byte, &flag, sizeof byte);
    return byte;
}

// The flag fields of an option record, in the order of their keywords: each
// is loaded from libpostal's default record into the parse target of its
// keyword (the interpreter's "I" unit), so that an omitted keyword passes the
// default through, and stored back as on when the parsed value is non-zero.
template <typename Record, size_t N>
void load_flags(const Record &record, bool Record::*const (&fields)[N], unsigned int (&targets)[N]) {
    for (size_t i = 0; i < N; i++) targets[i] = flag_byte(record.*fields[i]) != 0;
}

template <typename Record, size_t N>
void store_flags(Record &record, bool Record::*const (&fields)[N], const unsigned int (&values)[N]) {
    for (size_t i = 0; i < N; i++) record.*fields[i] = values[i] != 0;
}

}  // namespace addrnorm

#endif
