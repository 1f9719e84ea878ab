// Value and type-name texts, on values in the test's own memory.
#include <gtest/gtest.h>
#include <windows.h>

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "describe.h"
#include "format.h"
#include "linetext.h"

using namespace korbin;

namespace {

// Joins pieces as the trace would show them: a piece starting with 0x08
// continues the line, any other starts a new one at the indentation.
class TextSink final : public Sink {
public:
    void Piece(const char* text) override {
        if (text[0] == '\b') {
            out += text + 1;
        } else {
            out += "\n" + std::string(static_cast<size_t>(indent), ' ') + text;
        }
    }
    void Indent(int delta) override { indent += delta; }
    std::string out;
    int indent = 0;
};

std::string Format(VARTYPE code, const void* address) {
    TextSink sink;
    EXPECT_TRUE(FormatValue(sink, code, nullptr, address));
    return sink.out;
}

std::string Hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%llxh", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

}  // namespace

// The values the end-to-end records show (signed and unsigned words, money,
// VARIANT_TRUE, noon and leap days of 2024, BSTRs at their cut, wide strings
// at 59, VARIANTs, safe arrays, NULL at each pointer level) are theirs; here
// the rest of each rule.
TEST(FormatValueTest, ScalarsDatesStringsAndPointersAsTheirRulesSay) {
    // Each scalar is read from the low bytes of a 64-bit word, as it lies in memory.
    const int64_t words[] = {-2, 0, 2, std::bit_cast<int64_t>(2.5), -1, '\n', '\0', '\x01', '\x1f', '\x7f', ' ', '~', '\xe9'};
    const double dates[] = {36526.75, 45000.25, 45000.0, 36585.0, 1.0, 0.5};
    // A pointer to VT_VOID (a handle, a buffer, an object the callee casts) is
    // shown, never read through: a handle's value is no address at all.
    void* reserved = ::VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    void* handle = reserved;
    void** toHandle = &handle;
    void* null = nullptr;
    void** toNull = &null;
    int32_t seven = 7;
    int32_t* p = &seven;
    int32_t** pp = &p;
    BSTR none = nullptr;
    const std::wstring fiftyEight(58, L'w');
    const wchar_t* shortText = fiftyEight.c_str();
    // ANSI strings by the wide strings' rule, in bytes.
    const std::string fiftyEightBytes(58, 'a'), fiftyNineBytes(59, 'b');
    const char* const narrow[] = {fiftyEightBytes.c_str(), fiftyNineBytes.c_str(), "x\r\ny", nullptr};
    const struct {
        VARTYPE code;
        const void* value;
        std::string text;
    } cases[] = {
        {VT_I4, &words[0], "=-2 (fffffffeh)"}, {VT_BOOL, &words[1], "=VARIANT_FALSE (0h)"}, {VT_BOOL, &words[2], "=2 (2h)"},
        {VT_R8, &words[3], "=2.500000"}, {VT_UI8, &words[4], "=18446744073709551615 (ffffffffffffffffh)"},
        // Control bytes must neither cut nor split the record: line breaks as
        // strings show them, the others as a dot; printable ones stay.
        {VT_I1, &words[5], "=10 (ah='\x02')"}, {VT_I1, &words[6], "=0 (0h='.')"}, {VT_I1, &words[7], "=1 (1h='.')"},
        {VT_I1, &words[8], "=31 (1fh='.')"}, {VT_I1, &words[9], "=127 (7fh='.')"}, {VT_I1, &words[10], "=32 (20h=' ')"},
        {VT_I1, &words[11], "=126 (7eh='~')"}, {VT_I1, &words[12], "=-23 (ffffffe9h='\xe9')"},
        // Dates on the calendar from day 1 (1/1/0) and the twelve-hour clock; below 1 none.
        {VT_DATE, &dates[0], "=\"1/1/0 6:0:0 PM\""},     // 1 January 2000, 18:00
        {VT_DATE, &dates[1], "=\"3/15/23 6:0:0 AM\""},   // 15 March 2023, 06:00
        {VT_DATE, &dates[2], "=\"3/15/23 12:0:0 AM\""},  // midnight shows 12 AM
        {VT_DATE, &dates[3], "=\"2/29/0 12:0:0 AM\""},   // 29 February 2000
        {VT_DATE, &dates[4], "=\"1/1/0 12:0:0 AM\""}, {VT_DATE, &dates[5], "=\"\""},
        {VT_BSTR, &none, "=NULL"},
        {VT_LPWSTR, &shortText, "=\"" + std::string(58, 'w') + "\""},
        {VT_LPSTR, &narrow[0], "=\"" + fiftyEightBytes + "\""},
        {VT_LPSTR, &narrow[1], "=\"" + fiftyNineBytes + ".....\""},
        {VT_LPSTR, &narrow[2], "=\"x\x01\x02y\""},
        {VT_LPSTR, &narrow[3], "=NULL"},
        {0x0100 | VT_VOID, &handle, "=" + Hex(reserved)},
        {0x0200 | VT_VOID, &toHandle, "  ptr=" + Hex(toHandle) + "  *ptr=" + Hex(reserved)},
        {0x0200 | VT_VOID, &toNull, "  ptr=" + Hex(toNull) + "  *ptr=0h"},
        {VT_BYREF | VT_VOID, &handle, "=" + Hex(reserved)},
        // Other pointers are followed two levels.
        {0x0100 | VT_I4, &p, "  ptr=" + Hex(p) + "  *ptr=7 (7h)"},
        {0x0200 | VT_I4, &pp, "  ptr=" + Hex(pp) + "  *ptr=" + Hex(p) + "  **ptr=7 (7h)"},
    };
    for (const auto& c : cases) EXPECT_EQ(Format(c.code, c.value), c.text) << c.code << " " << c.text;
    ::VirtualFree(reserved, 0, MEM_RELEASE);
}

// An unreadable pointer's value (its record ended there, what was written kept)
// is the types scenario's end to end; a string's length prefix is read first.
TEST(FormatValueTest, UnreadableStringStopsTheValue) {
    void* reserved = ::VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    TextSink sink;
    BSTR bad = reinterpret_cast<BSTR>(static_cast<char*>(reserved) + 16);  // its length prefix unreadable too
    EXPECT_FALSE(FormatValue(sink, VT_BSTR, nullptr, &bad));
    ::VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(TypeNameTest, AnUndefinedBaseTypeIsSaid) {
    char name[96];
    TypeName(0x00FE, name, sizeof name);
    EXPECT_STREQ(name, "\b(not defined value)");
}

namespace {

// Both formatters on the same arguments, into buffers of the same size.
struct Formatted {
    std::string ours;
    std::string runtime;
};
Formatted BothWays(size_t size, const char* format, ...) {
    std::string ours(size, '#'), runtime(size, '#');
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    size_t length = FormatLineText(ours.data(), size, format, args);
    std::vsnprintf(runtime.data(), size, format, copy);
    va_end(copy);
    va_end(args);
    EXPECT_EQ(length, std::strlen(ours.c_str())) << format;
    return {ours.c_str(), runtime.c_str()};
}

}  // namespace

TEST(LineTextTest, EveryConversionComesOutAsTheRuntimeWritesIt) {
    const char* nothing = nullptr;
    // The records' own lines (serials, thread and process ids, numbers, names)
    // are the end-to-end golden records'; here the edges of each conversion.
    const Formatted cases[] = {
        BothWays(256, "%u.%u %lxh [%d]", 4294967295u, 0xfffffffful, -2147483647 - 1),
        BothWays(256, "%ld %lu %x %c%%%s", -5l, 4000000000ul, 0xabcdefu, 'Z', nothing),
        BothWays(256, "no conversion at all"),
        // Left to the runtime, after the conversions before them were read.
        BothWays(256, "%s %08x %5d|%-3s|", "a", 0x1fu, 42, "b"),
        BothWays(256, "%d %f %lld", 7, 2.5, -9000000000ll),
        // Cut to the buffer, in the literal text and in a conversion.
        BothWays(8, "long literal text %d", 1),
        BothWays(8, "ab%scd", "0123456789"),
        BothWays(6, "%u", 1234567890u),
    };
    for (const Formatted& c : cases) EXPECT_EQ(c.ours, c.runtime);
}

// Names, strings and GUIDs reach the records through one narrowing: a text
// too long for its buffer comes out cut, never empty.
TEST(LineTextTest, WideTextIsNarrowedAndCutToItsBuffer) {
    const std::wstring longName(300, L'n');
    struct Case {
        const wchar_t* wide;
        int count;
        size_t size;
        std::string expected;
    } cases[] = {
        {nullptr, -1, 8, ""},
        {L"Divide", -1, 64, "Divide"},
        {L"Divide", 3, 64, "Div"},
        {L"Divide", 0, 64, ""},
        {L"Divide", -1, 4, "Div"},
        {longName.c_str(), -1, 256, std::string(255, 'n')},
    };
    for (const Case& c : cases) {
        char out[256];
        std::memset(out, '#', sizeof out);
        size_t length = NarrowText(c.wide, c.count, out, c.size);
        EXPECT_EQ(c.expected, out) << c.size;
        EXPECT_EQ(c.expected.size(), length);
    }
}
