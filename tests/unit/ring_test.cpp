#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ring.h"
#include "timetext.h"
#include "stubname.h"

using korbin::RingWrite;

TEST(RingWriteTest, AdvancesWrapsAndSplitsAcrossTheEnd) {
    const struct {
        uint32_t capacity, total;
        std::vector<std::string> pieces;
        const char* text;
        uint32_t position, totalAfter;
    } cases[] = {
        {10, 0, {"abc", "de\x01"}, "abcde.....", 5, 5},                  // a final end mark is dropped
        {10, 0, {"abc", "de\x01", "\x01x"}, "abcde\x01x...", 7, 7},      // only a final one
        {8, 0, {"12345", "678"}, "12345678", 8, 8},                       // an exact fit stays at the capacity
        {8, 0, {"12345", "678", "AB"}, "AB345678", 2, 10},                // then wraps
        {8, 0, {"123456", "abcd"}, "cd3456ab", 2, 10},                    // split across the end
        {8, 0, {"123456", "abcd", "ABCDEFGHIJKLMNOPQRST"}, "OPQRSTMN", 6, 30},  // longer than the ring
        {4, 0xFFFFFFFEu, {"abc"}, "abc.", 3, 1},                          // the total wraps at 2^32
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string ring(c.capacity, '.');
        uint32_t position = 0, total = c.total;
        for (const std::string& piece : c.pieces)
            RingWrite(reinterpret_cast<uint8_t*>(ring.data()), c.capacity, &position, &total, piece.data(), piece.size());
        EXPECT_EQ(ring, c.text);
        EXPECT_EQ(position, c.position);
        EXPECT_EQ(total, c.totalAfter);
    }
}

TEST(TimeText, FixedWidthWithBlankPaddedDay) {
    SYSTEMTIME t = {};
    t.wYear = 2026; t.wMonth = 12; t.wDay = 7; t.wDayOfWeek = 1;
    t.wHour = 9; t.wMinute = 5; t.wSecond = 3;
    char out[vx::kTimeTextLength + 1];
    vx::FormatTimeText(t, out);
    EXPECT_STREQ(out, "Mon Dec  7 09:05:03 2026");
    t.wDay = 25; t.wMonth = 1; t.wDayOfWeek = 0; t.wHour = 23;
    vx::FormatTimeText(t, out);
    EXPECT_STREQ(out, "Sun Jan 25 23:05:03 2026");
    t.wMonth = 13; t.wDayOfWeek = 9;  // garbage must not index past the tables
    vx::FormatTimeText(t, out);
    EXPECT_EQ(std::string(out).size(), 24u);
}

TEST(HookNumber, PrefixFormsAndTheirOrder) {
    const std::pair<const char*, int> kNames[] = {
        {"C:\\v\\Zor#_12.dll", 12}, {"C:\\v\\zor#_3.dll", 3}, {"C:\\v\\ZOR#_07.DLL", 7}, {"C:\\v\\ZoR#_3.dll", 0},
        {"C:\\v\\Zor#_.dll", 0}, {"C:\\v\\Zor#_ -2.dll", -2},
        // The first form present wins, at its first occurrence.
        {"C:\\zor#_5\\Zor#_9x\\Zor#_4.dll", 9}, {"C:\\ZOR#_5\\zor#_6.dll", 5},
        // Every digit counts: hook 100 and up.
        {"C:\\v\\Zor#_123.dll", 123},
    };
    for (const auto& [path, number] : kNames) EXPECT_EQ(vx::StubHookNumber(path), number) << path;
    char name[32];
    vx::FormatStubName(123, name, sizeof name);
    EXPECT_STREQ(name, "Zor#_123.dll");
    vx::FormatStubName(1, name, sizeof name);
    EXPECT_STREQ(name, "Zor#_01.dll");
    EXPECT_TRUE(vx::NamesStubCopy("c:\\I\\zOr#_05.DLL"));
    EXPECT_FALSE(vx::NamesStubCopy("C:\\zor_05.dll"));
    EXPECT_FALSE(vx::NamesStubCopy("C:\\Zor#"));
}
