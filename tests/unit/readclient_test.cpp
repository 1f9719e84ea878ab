// The checked reader: client memory read without faulting, on the calling
// thread's stack, the heap, and pages that are gone or guarded.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "objects.h"

using korbin::ReadClient;

namespace {

// A caller's local, read from a deeper frame, as the handlers read arguments.
__attribute__((noinline)) bool ReadFromCallee(const void* address, void* out, size_t size) {
    volatile char deeper[256];
    deeper[0] = 1;
    return ReadClient(address, out, size) && deeper[0] == 1;
}

}  // namespace

TEST(ReadClientTest, StackAndHeapValuesAreCopied) {
    const char local[24] = "on the caller's stack";
    char copy[24] = {};
    ASSERT_TRUE(ReadFromCallee(local, copy, sizeof local));
    EXPECT_STREQ(copy, local);

    auto* heap = static_cast<char*>(::HeapAlloc(::GetProcessHeap(), 0, 4096));
    ASSERT_NE(heap, nullptr);
    std::memset(heap, 'h', 4096);
    char part[16] = {};
    EXPECT_TRUE(ReadClient(heap + 4080, part, 16));
    EXPECT_EQ(std::memcmp(part, heap + 4080, 16), 0);
    ::HeapFree(::GetProcessHeap(), 0, heap);
    EXPECT_TRUE(ReadClient(heap, part, 0)) << "nothing to read";
    EXPECT_FALSE(ReadClient(nullptr, part, 1));
}

TEST(ReadClientTest, MissingAndGuardedPagesFailInsteadOfFaulting) {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    auto* pages = static_cast<char*>(::VirtualAlloc(nullptr, 3 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    ASSERT_TRUE(::VirtualProtect(pages + 2 * page, page, PAGE_READWRITE | PAGE_GUARD, &old));
    char copy[8];
    EXPECT_TRUE(ReadClient(pages + page - 8, copy, 8));
    EXPECT_FALSE(ReadClient(pages + page - 4, copy, 8)) << "runs into a page without access";
    EXPECT_FALSE(ReadClient(pages + 2 * page, copy, 8)) << "a guard page";
    ASSERT_TRUE(::VirtualFree(pages, 0, MEM_RELEASE));
    EXPECT_FALSE(ReadClient(pages, copy, 8)) << "released";
    // Wrapping round the end of the address space.
    EXPECT_FALSE(ReadClient(reinterpret_cast<const void*>(~static_cast<uintptr_t>(3)), copy, 8));
}

