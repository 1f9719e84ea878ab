// Method-table patching on tables of the test's own: extension, restoring,
// and a table that cannot be made writable.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "objects.h"
#include "pool.h"
#include "thunks/thunk.h"

using namespace korbin;

namespace {

int STDMETHODCALLTYPE Slot(void*) { return 0; }

class PatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_objects = ObjectModel{};
        PoolFreeAll();
        // A table in pages of its own, read-only as compilers leave them.
        table = static_cast<void**>(::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        for (int i = 0; i < 8; ++i) {
            original.push_back(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(&Slot) + i));
            table[i] = original.back();
        }
        DWORD old;
        ::VirtualProtect(table, 4096, PAGE_READONLY, &old);
        object = &table;
    }
    void TearDown() override {
        g_objects = ObjectModel{};
        PoolFreeAll();
        ::VirtualFree(table, 0, MEM_RELEASE);
    }
    DWORD Protection() const {
        MEMORY_BASIC_INFORMATION info;
        ::VirtualQuery(table, &info, sizeof info);
        return info.Protect;
    }

    void** table = nullptr;
    void* object = nullptr;
    std::vector<void*> original;
};

}  // namespace

TEST_F(PatchTest, ExtendingKeepsTheRealMethodsAndRestoringPutsEveryOneBack) {
    ASSERT_TRUE(PatchMethodTable(object, 3));
    EXPECT_EQ(Protection(), static_cast<DWORD>(PAGE_READONLY)) << "protection restored";
    ASSERT_NE(g_objects.tables, nullptr);
    unsigned char* firstBlock = g_objects.tables->thunks;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(table[i], firstBlock + i * ThunkPairSize());
        EXPECT_EQ(RealMethodOf(table[i]), original[i]);
    }
    EXPECT_EQ(table[3], original[3]);
    EXPECT_EQ(g_objects.nextThunkNumber, 3u);

    ASSERT_TRUE(PatchMethodTable(object, 8));
    EXPECT_EQ(g_objects.tables->slots, 8u);
    EXPECT_EQ(g_objects.tables->next, nullptr) << "one record per table";
    for (int i = 0; i < 8; ++i) EXPECT_EQ(RealMethodOf(table[i]), original[i]) << i;
    EXPECT_EQ(g_objects.nextThunkNumber, 8u) << "numbers reserved only for the new slots";

    EXPECT_TRUE(PatchMethodTable(object, 5)) << "already covered";
    EXPECT_EQ(g_objects.nextThunkNumber, 8u);

    RestoreMethodTables();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(table[i], original[i]) << i;
    EXPECT_EQ(g_objects.tables, nullptr);
    EXPECT_EQ(Protection(), static_cast<DWORD>(PAGE_READONLY));
}

TEST_F(PatchTest, TableInsideAFreedRangeIsPutBackThenForgotten) {
    ASSERT_TRUE(PatchMethodTable(object, 4));
    int other = 0;
    RestoreTablesIn(&other, sizeof other);  // not this table
    EXPECT_NE(g_objects.tables, nullptr);
    RestoreTablesIn(table, 4096);
    EXPECT_EQ(g_objects.tables, nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(table[i], original[i]);
}

TEST_F(PatchTest, TableThatCannotBeMadeWritableIsLeftAlone) {
    // Reserved, never committed: no protection change can make it writable.
    void* reserved = ::VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
    void* fake = reserved;
    EXPECT_FALSE(PatchMethodTable(&fake, 3));
    EXPECT_EQ(g_objects.unwritableTables, 1u);
    EXPECT_EQ(g_objects.tables, nullptr);
    ::VirtualFree(reserved, 0, MEM_RELEASE);
    // An object whose own memory cannot be read is not patched either.
    EXPECT_FALSE(PatchMethodTable(reserved, 3));
}
