// libpostal's option records hold one-byte booleans.  The byte is read as a
// byte, so that a record whose flag holds any non-zero value reads as on
// rather than as an invalid bool.
#ifndef ADDRNORM_CORE_FLAGS_HPP
#define ADDRNORM_CORE_FLAGS_HPP

#include <cstring>

namespace addrnorm {

inline unsigned char flag_byte(const bool &flag) {
    unsigned char byte;
    static_assert(sizeof flag == sizeof byte, "libpostal's booleans are one byte");
    std::memcpy(&byte, &flag, sizeof byte);
    return byte;
}

}  // namespace addrnorm

#endif
