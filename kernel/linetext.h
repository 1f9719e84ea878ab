// printf-style formatting of trace lines without the C runtime's printf for
// the conversions the records use: that printf costs more than the rest of
// a record's text together.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstring>

namespace korbin {

// Copies a few bytes without a call: most pieces of a line are short, and
// the C runtime's copy costs more in its call than in the bytes.
inline void CopyBytes(char* to, const char* from, size_t n) {
    if (n >= 64) {
        std::memcpy(to, from, n);
        return;
    }
    for (; n >= 8; n -= 8, to += 8, from += 8) __builtin_memcpy(to, from, 8);
    if (n & 4) {
        __builtin_memcpy(to, from, 4);
        to += 4;
        from += 4;
    }
    if (n & 2) {
        __builtin_memcpy(to, from, 2);
        to += 2;
        from += 2;
    }
    if (n & 1) *to = *from;
}

// Formats into out (size > 0 bytes, NUL-terminated, cut to fit) when every
// conversion is %s, %c, %d, %u or %x, the last three also with l, or %%:
// the length written. Any other conversion (a width, a flag, a precision, a
// float) is left to vsnprintf, with the same result.
size_t FormatLineText(char* out, size_t size, const char* format, va_list args);

// Wide text in the ANSI code page into out (size > 0 bytes, NUL-terminated),
// cut to fit: `count` characters, or -1 for all up to the NUL; nullptr is
// empty. The length written.
size_t NarrowText(const wchar_t* wide, int count, char* out, size_t size);

}  // namespace korbin
