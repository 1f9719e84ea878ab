#include "linetext.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace korbin {
namespace {

// The digits of value in base 10 or 16 (lowercase), into the end of a buffer.
char* Digits(unsigned long value, unsigned base, char* end) {
    do {
        unsigned digit = static_cast<unsigned>(value % base);
        *--end = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= base;
    } while (value != 0);
    return end;
}

class Output {
public:
    Output(char* out, size_t size) : out_(out), room_(size - 1) {}
    void Put(const char* text, size_t length) {
        length = std::min(length, room_ - used_);
        CopyBytes(out_ + used_, text, length);
        used_ += length;
    }
    size_t Finish() {
        out_[used_] = '\0';
        return used_;
    }

private:
    char* out_;
    size_t room_;
    size_t used_ = 0;
};

}  // namespace

size_t FormatLineText(char* out, size_t size, const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    Output text(out, size);
    for (const char* p = format; *p;) {
        const char* percent = p;
        while (*percent && *percent != '%') ++percent;
        if (!*percent) {
            text.Put(p, static_cast<size_t>(percent - p));
            break;
        }
        text.Put(p, static_cast<size_t>(percent - p));
        const char* spec = percent + 1;
        const bool isLong = *spec == 'l';
        if (isLong) ++spec;
        char digits[24];
        char* const end = digits + sizeof digits;
        switch (*spec) {
        case '%':
            if (isLong) goto other;
            text.Put("%", 1);
            break;
        case 's': {
            if (isLong) goto other;
            const char* s = va_arg(args, const char*);
            if (!s) s = "(null)";
            text.Put(s, std::strlen(s));
            break;
        }
        case 'c': {
            if (isLong) goto other;
            char c = static_cast<char>(va_arg(args, int));
            text.Put(&c, 1);
            break;
        }
        case 'd': {
            long value = isLong ? va_arg(args, long) : va_arg(args, int);
            unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
            char* start = Digits(magnitude, 10, end);
            if (value < 0) *--start = '-';
            text.Put(start, static_cast<size_t>(end - start));
            break;
        }
        case 'u':
        case 'x': {
            unsigned long value = isLong ? va_arg(args, unsigned long) : va_arg(args, unsigned);
            char* start = Digits(value, *spec == 'u' ? 10 : 16, end);
            text.Put(start, static_cast<size_t>(end - start));
            break;
        }
        default:
        other:
            {
                int n = std::vsnprintf(out, size, format, again);
                va_end(again);
                if (n < 0) {
                    out[0] = '\0';
                    return 0;
                }
                return std::min(static_cast<size_t>(n), size - 1);
            }
        }
        p = spec + 1;
    }
    va_end(again);
    return text.Finish();
}

size_t NarrowText(const wchar_t* wide, int count, char* out, size_t size) {
    out[0] = '\0';
    if (!wide) return 0;
    if (count < 0) count = static_cast<int>(std::wcslen(wide));
    const int room = static_cast<int>(std::min<size_t>(size - 1, 0x7FFFFFFF));
    auto convert = [&](int characters) {
        return characters ? ::WideCharToMultiByte(CP_ACP, 0, wide, characters, out, room, nullptr, nullptr) : 0;
    };
    int n = convert(count);
    // Too long for `out`: what fits, a byte a character in most ANSI code
    // pages, two at most.
    if (n == 0 && count > room) n = convert(room);
    if (n == 0 && count > room / 2) n = convert(room / 2);
    out[n > 0 ? n : 0] = '\0';
    return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace korbin
