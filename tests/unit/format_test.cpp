// Value and type-name texts, on values in the test's own memory.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "describe.h"
#include "format.h"
#include "linetext.h"
#include "pool.h"

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

std::string Date(double value) {
    char text[64];
    DateText(value, text, sizeof text);
    return text;
}

std::string Hex(const void* p) {
    char text[32];
    std::snprintf(text, sizeof text, "%llxh", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return text;
}

}  // namespace

TEST(DateTextTest, CalendarAndTwelveHourClock) {
    EXPECT_EQ(Date(36526.75), "1/1/0 6:0:0 PM");     // 1 January 2000, 18:00
    EXPECT_EQ(Date(45000.25), "3/15/23 6:0:0 AM");   // 15 March 2023, 06:00
    EXPECT_EQ(Date(45000.0), "3/15/23 12:0:0 AM");   // midnight shows 12 AM
    EXPECT_EQ(Date(45000.5), "3/15/23 12:0:0 PM");   // noon shows 12 PM
    EXPECT_EQ(Date(36585.0), "2/29/0 12:0:0 AM");    // 29 February 2000
    EXPECT_EQ(Date(45351.0 + (30 * 60 + 30) / 86400.0), "2/29/24 12:30:30 AM");  // 29 February 2024
    EXPECT_EQ(Date(1.0), "1/1/0 12:0:0 AM");         // day 1
    EXPECT_EQ(Date(0.5), "");                          // below 1: empty
}

TEST(FormatValueTest, ScalarsInDecimalAndHexadecimal) {
    // Each value is read from the low bytes of a 64-bit word, as it lies in memory.
    const struct {
        VARTYPE type;
        int64_t value;
        const char* text;
    } cases[] = {
        {VT_I4, -2, "=-2 (fffffffeh)"}, {VT_I2, -300, "=-300 (fffffed4h)"}, {VT_UI2, 65535, "=65535 (ffffh)"},
        {VT_BOOL, -1, "=VARIANT_TRUE (ffffffffh)"}, {VT_BOOL, 0, "=VARIANT_FALSE (0h)"}, {VT_BOOL, 2, "=2 (2h)"},
        {VT_CY, 123456, "=123456 (1e240h)"}, {VT_R8, std::bit_cast<int64_t>(2.5), "=2.500000"}, {VT_DATE, 0, "=0"},
        {VT_UI8, -1, "=18446744073709551615 (ffffffffffffffffh)"},
        // Control bytes must neither cut nor split the record: line breaks as
        // strings show them, the others as a dot; printable ones stay.
        {VT_I1, 'A', "=65 (41h='A')"}, {VT_I1, '\r', "=13 (dh='\x01')"}, {VT_I1, '\n', "=10 (ah='\x02')"},
        {VT_I1, '\0', "=0 (0h='.')"}, {VT_I1, '\x01', "=1 (1h='.')"}, {VT_I1, '\x1f', "=31 (1fh='.')"},
        {VT_I1, '\x7f', "=127 (7fh='.')"}, {VT_I1, ' ', "=32 (20h=' ')"}, {VT_I1, '~', "=126 (7eh='~')"},
        {VT_I1, '\xe9', "=-23 (ffffffe9h='\xe9')"},
    };
    for (const auto& c : cases) EXPECT_EQ(Format(c.type, &c.value), c.text) << c.type << " " << c.value;
}

TEST(FormatValueTest, StringsAreCutAndKeepTheRecordOnOneLine) {
    std::wstring sixty(60, L'x'), sixtyOne(61, L'y');
    BSTR whole = ::SysAllocString(sixty.c_str()), cut = ::SysAllocString(sixtyOne.c_str());
    BSTR breaks = ::SysAllocString(L"a\r\nb");
    BSTR none = nullptr;
    EXPECT_EQ(Format(VT_BSTR, &whole), "=\"" + std::string(60, 'x') + "\"");
    EXPECT_EQ(Format(VT_BSTR, &cut), "=\"" + std::string(60, 'y') + ".....\"");
    EXPECT_EQ(Format(VT_BSTR, &breaks), "=\"a\x01\x02" "b\"");
    EXPECT_EQ(Format(VT_BSTR, &none), "=NULL");
    ::SysFreeString(whole);
    ::SysFreeString(cut);
    ::SysFreeString(breaks);

    std::wstring fiftyEight(58, L'w'), fiftyNine(59, L'z');
    const wchar_t* shortText = fiftyEight.c_str();
    const wchar_t* longText = fiftyNine.c_str();
    EXPECT_EQ(Format(VT_LPWSTR, &shortText), "=\"" + std::string(58, 'w') + "\"");
    EXPECT_EQ(Format(VT_LPWSTR, &longText), "=\"" + std::string(59, 'z') + ".....\"");

    // ANSI strings by the same rule, in bytes.
    const std::string fiftyEightBytes(58, 'a'), fiftyNineBytes(59, 'b');
    const char* const narrow[] = {fiftyEightBytes.c_str(), fiftyNineBytes.c_str(), "x\r\ny", nullptr};
    EXPECT_EQ(Format(VT_LPSTR, &narrow[0]), "=\"" + fiftyEightBytes + "\"");
    EXPECT_EQ(Format(VT_LPSTR, &narrow[1]), "=\"" + fiftyNineBytes + ".....\"");
    EXPECT_EQ(Format(VT_LPSTR, &narrow[2]), "=\"x\x01\x02y\"");
    EXPECT_EQ(Format(VT_LPSTR, &narrow[3]), "=NULL");
}

// A pointer to VT_VOID (a handle, a buffer, an object the callee casts) is
// shown, never read through: a handle's value is no address at all.
TEST(FormatValueTest, VoidPointersAreShownNotFollowed) {
    void* reserved = ::VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    void* handle = reserved;
    void** toHandle = &handle;
    void* null = nullptr;
    void** toNull = &null;
    const struct {
        VARTYPE code;
        const void* value;
        std::string text;
    } cases[] = {
        {0x0100 | VT_VOID, &handle, "=" + Hex(reserved)},
        {0x0200 | VT_VOID, &toHandle, "  ptr=" + Hex(toHandle) + "  *ptr=" + Hex(reserved)},
        {0x0200 | VT_VOID, &toNull, "  ptr=" + Hex(toNull) + "  *ptr=0h"},
        {VT_BYREF | VT_VOID, &handle, "=" + Hex(reserved)},
    };
    for (const auto& c : cases) EXPECT_EQ(Format(c.code, c.value), c.text) << c.code;
    ::VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(FormatValueTest, PointersAreFollowedTwoLevelsAndNullsShown) {
    int32_t seven = 7;
    int32_t* p = &seven;
    int32_t** pp = &p;
    EXPECT_EQ(Format(0x0100 | VT_I4, &p), "  ptr=" + Hex(p) + "  *ptr=7 (7h)");
    EXPECT_EQ(Format(0x0200 | VT_I4, &pp), "  ptr=" + Hex(pp) + "  *ptr=" + Hex(p) + "  **ptr=7 (7h)");
    int32_t* null = nullptr;
    int32_t** toNull = &null;
    EXPECT_EQ(Format(0x0100 | VT_I4, &null), "=NULL");
    EXPECT_EQ(Format(0x0200 | VT_I4, &toNull), "  ptr=" + Hex(toNull) + "  *ptr=NULL");
}

TEST(FormatValueTest, UnreadablePointerStopsTheValue) {
    void* reserved = ::VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    TextSink sink;
    EXPECT_FALSE(FormatValue(sink, 0x0100 | VT_I4, nullptr, &reserved));
    EXPECT_EQ(sink.out, "  ptr=" + Hex(reserved)) << "what was written stays";
    BSTR bad = reinterpret_cast<BSTR>(static_cast<char*>(reserved) + 16);  // its length prefix unreadable too
    EXPECT_FALSE(FormatValue(sink, VT_BSTR, nullptr, &bad));
    ::VirtualFree(reserved, 0, MEM_RELEASE);
}

TEST(FormatValueTest, VariantsAndSafeArraysShowTheirOwnTypes) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = 5;
    EXPECT_EQ(Format(VT_VARIANT, &v), "=5 (5h) (VT_I4)");

    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
    SAFEARRAY* grid = ::SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(grid, nullptr);
    int32_t* data = nullptr;
    ::SafeArrayAccessData(grid, reinterpret_cast<void**>(&data));
    for (int i = 0; i < 6; ++i) data[i] = i * 10;
    ::SafeArrayUnaccessData(grid);
    VARIANT holder;
    ::VariantInit(&holder);
    V_VT(&holder) = VT_ARRAY | VT_I4;
    V_ARRAY(&holder) = grid;
    // The array keeps its bounds last dimension first: the outer loop runs
    // over the three elements from 1, elements follow in memory order.
    const std::string expected = "\n{ elements  (VT_I4)\n   [1,0]=0 (0h)\n   [1,1]=10 (ah)\n   [2,0]=20 (14h)"
                                 "\n   [2,1]=30 (1eh)\n   [3,0]=40 (28h)\n   [3,1]=50 (32h)\n} (VT_ARRAY VT_I4)";
    EXPECT_EQ(Format(VT_VARIANT, &holder), expected);
    ::VariantClear(&holder);
}

TEST(TypeNameTest, FlagsPointerLevelsAndBaseTypes) {
    char name[96];
    TypeName(0x0203, name, sizeof name);
    EXPECT_STREQ(name, "\bVT_POINTER* VT_I4");
    TypeName(VT_ARRAY | VT_BSTR, name, sizeof name);
    EXPECT_STREQ(name, "\bVT_ARRAY VT_BSTR");
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
    const Formatted cases[] = {
        BothWays(256, "*** Serial# of call: %u.%u *** ", 3u, 4294967295u),
        BothWays(256, "\b TID=%lxh PID=%lxh [%d]", 0x1a2bul, 0xfffffffful, -2147483647 - 1),
        BothWays(256, "Class: %s (instance# %d)", "VxSample Calc Class", 0),
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
