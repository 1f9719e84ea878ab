#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ring.h"
#include "timetext.h"
#include "stubname.h"

using korbin::RingWrite;

namespace {

struct Ring {
    std::vector<uint8_t> bytes;
    uint32_t position = 0, total = 0;
    explicit Ring(uint32_t capacity) : bytes(capacity, '.') {}
    void Put(const std::string& piece) {
        RingWrite(bytes.data(), static_cast<uint32_t>(bytes.size()), &position, &total, piece.data(), piece.size());
    }
    std::string Text() const { return std::string(bytes.begin(), bytes.end()); }
};

}  // namespace

TEST(RingWriteTest, AdvancesAndDropsAFinalEndMark) {
    Ring r(10);
    r.Put("abc");
    r.Put("de\x01");
    EXPECT_EQ(r.Text(), "abcde.....");
    EXPECT_EQ(r.position, 5u);
    EXPECT_EQ(r.total, 5u);
    r.Put("\x01x");  // only a final mark is dropped
    EXPECT_EQ(r.Text(), "abcde\x01x...");
}

TEST(RingWriteTest, ExactFitLeavesPositionAtCapacityThenWraps) {
    Ring r(8);
    r.Put("12345");
    r.Put("678");
    EXPECT_EQ(r.position, 8u);
    r.Put("AB");
    EXPECT_EQ(r.Text(), "AB345678");
    EXPECT_EQ(r.position, 2u);
    EXPECT_EQ(r.total, 10u);
}

TEST(RingWriteTest, SplitsAcrossTheEndAndSurvivesPiecesLongerThanTheRing) {
    Ring r(8);
    r.Put("123456");
    r.Put("abcd");
    EXPECT_EQ(r.Text(), "cd3456ab");
    EXPECT_EQ(r.position, 2u);
    r.Put("ABCDEFGHIJKLMNOPQRST");  // 20 bytes through an 8-byte ring
    EXPECT_EQ(r.position, (2u + 20u) % 8u);
    EXPECT_EQ(r.total, 30u);
    EXPECT_EQ(r.Text(), "OPQRSTMN");
}

TEST(RingWriteTest, TotalWrapsAtTwoToTheThirtyTwo) {
    Ring r(4);
    r.total = 0xFFFFFFFEu;
    r.Put("abc");
    EXPECT_EQ(r.total, 1u);
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
    EXPECT_EQ(vx::StubHookNumber("C:\\v\\Zor#_12.dll"), 12);
    EXPECT_EQ(vx::StubHookNumber("C:\\v\\zor#_3.dll"), 3);
    EXPECT_EQ(vx::StubHookNumber("C:\\v\\ZOR#_07.DLL"), 7);
    EXPECT_EQ(vx::StubHookNumber("C:\\v\\ZoR#_3.dll"), 0);
    EXPECT_EQ(vx::StubHookNumber("C:\\v\\Zor#_.dll"), 0);
    // The first form present wins, at its first occurrence.
    EXPECT_EQ(vx::StubHookNumber("C:\\zor#_5\\Zor#_9x\\Zor#_4.dll"), 9);
    EXPECT_EQ(vx::StubHookNumber("C:\\ZOR#_5\\zor#_6.dll"), 5);
    EXPECT_EQ(vx::StubHookNumber("C:\\v\\Zor#_ -2.dll"), -2);
    // Every digit counts: hook 100 and up.
    EXPECT_EQ(vx::StubHookNumber("C:\\v\\Zor#_123.dll"), 123);
    char name[32];
    vx::FormatStubName(123, name, sizeof name);
    EXPECT_STREQ(name, "Zor#_123.dll");
    vx::FormatStubName(1, name, sizeof name);
    EXPECT_STREQ(name, "Zor#_01.dll");
    EXPECT_TRUE(vx::NamesStubCopy("c:\\I\\zOr#_05.DLL"));
    EXPECT_FALSE(vx::NamesStubCopy("C:\\zor_05.dll"));
    EXPECT_FALSE(vx::NamesStubCopy("C:\\Zor#"));
}
