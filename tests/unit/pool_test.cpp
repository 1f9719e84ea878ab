#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "pool.h"

using namespace korbin;

namespace {

class PoolTest : public ::testing::Test {
protected:
    void SetUp() override { PoolFreeAll(); }
    void TearDown() override { PoolFreeAll(); }
};

// Blocks start on the 64 KiB boundaries VirtualAlloc hands out.
uintptr_t Offset(const void* p) { return reinterpret_cast<uintptr_t>(p) % 65536; }

}  // namespace

TEST_F(PoolTest, UnitsAreSixteenBytesFromTheDataStartZeroFilledAndExecutable) {
    EXPECT_EQ(PoolAlloc(0), nullptr);
    auto* a = static_cast<unsigned char*>(PoolAlloc(1));
    auto* b = static_cast<unsigned char*>(PoolAlloc(17));
    auto* c = static_cast<unsigned char*>(PoolAlloc(16));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(Offset(a), kPoolDataOffset);
    EXPECT_EQ(b, a + 16);
    EXPECT_EQ(c, b + 32);  // 17 bytes take two units
    for (int i = 0; i < 32; ++i) EXPECT_EQ(b[i], 0);
    std::memset(b, 0xAB, 32);
    PoolFree(b);
    auto* again = static_cast<unsigned char*>(PoolAlloc(20));
    EXPECT_EQ(again, b);  // first fit reuses the freed run
    EXPECT_EQ(again[0], 0);
    EXPECT_EQ(again[31], 0);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(::VirtualQuery(a, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_EXECUTE_READWRITE)) << "thunks run from the pool";
}

TEST_F(PoolTest, FreeIgnoresForeignAndInnerAddresses) {
    auto* a = static_cast<char*>(PoolAlloc(48));
    auto* b = static_cast<char*>(PoolAlloc(16));
    int local = 0;
    PoolFree(&local);
    PoolFree(a + 16);  // inside a run, not its start: length 0 there
    EXPECT_EQ(PoolAlloc(16), b + 16);
    PoolFree(a);
    EXPECT_EQ(PoolAlloc(48), a);
}

TEST_F(PoolTest, FullBlockAppendsAnotherOversizeGetsItsOwnAndFreeAllGivesEveryOneBack) {
    const size_t blockData = kPoolUnits * kPoolUnitSize;
    void* whole = PoolAlloc(blockData);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(PoolBlockCount(), 1u);
    void* next = PoolAlloc(16);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(PoolBlockCount(), 2u);
    EXPECT_EQ(Offset(next), kPoolDataOffset);

    auto* big = static_cast<unsigned char*>(PoolAlloc(blockData + 1));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(PoolBlockCount(), 3u);
    EXPECT_EQ(Offset(big), kPoolOversizeHeader);
    big[blockData] = 1;  // the whole request is usable
    // Freeing the first block's run makes room there again, before block 2.
    PoolFree(whole);
    EXPECT_EQ(PoolAlloc(32), whole);
    // Freeing them all gives every block back.
    PoolFreeAll();
    EXPECT_EQ(PoolBlockCount(), 0u);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(::VirtualQuery(big, &info, sizeof info), 0u);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

TEST_F(PoolTest, FullBitmapWordsArePassedOverAndARunMayCrossTheirEdge) {
    std::vector<char*> units;
    for (int i = 0; i < 70; ++i) units.push_back(static_cast<char*>(PoolAlloc(16)));
    ASSERT_EQ(units[69], units[0] + 69 * kPoolUnitSize);
    // The first word full, the first unit after it free.
    PoolFree(units[32]);
    EXPECT_EQ(PoolAlloc(16), units[32]);
    // Two free units on either side of the words' edge.
    PoolFree(units[31]);
    PoolFree(units[32]);
    EXPECT_EQ(PoolAlloc(2 * kPoolUnitSize), units[31]);
}
