// The checked reader: client memory read without faulting on pages that are
// gone or guarded (the end-to-end values records read arguments through it
// from client stacks and heaps).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <thread>
#include <vector>

#include "objects.h"
#include "thunks/thunk.h"

using korbin::ReadClient;

namespace {

size_t PageSize() {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwPageSize;
}

bool HasGuard(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    return ::VirtualQuery(address, &info, sizeof info) && (info.Protect & PAGE_GUARD);
}

}  // namespace

// A guard page first read is the stack test's matter (the thread's own guard).
TEST(ReadClientTest, PagesWithoutAccessFailInsteadOfFaulting) {
    const size_t page = PageSize();
    auto* pages = static_cast<char*>(::VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    char copy[8];
    EXPECT_TRUE(ReadClient(pages + page - 8, copy, 8));
    EXPECT_FALSE(ReadClient(pages + page - 4, copy, 8)) << "runs into a page without access";
    EXPECT_FALSE(ReadClient(nullptr, copy, 1));
    ASSERT_TRUE(::VirtualFree(pages, 0, MEM_RELEASE));
    EXPECT_FALSE(ReadClient(pages, copy, 8)) << "released";
    EXPECT_TRUE(ReadClient(pages, copy, 0)) << "nothing to read";
    // Wrapping round the end of the address space.
    EXPECT_FALSE(ReadClient(reinterpret_cast<const void*>(~static_cast<uintptr_t>(3)), copy, 8));
}

TEST(ReadClientTest, PagesFreedOrGuardedAfterAReadFailTheNextOneWithoutAQuery) {
    const size_t page = PageSize();
    auto* pages = static_cast<char*>(::VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    std::memset(pages, 'p', 2 * page);
    char copy[8];
    ASSERT_TRUE(ReadClient(pages, copy, 8));
    // The range is cached now: the next read of it asks the system nothing.
    const auto before = korbin::CheckedReadCounts();
    ASSERT_TRUE(ReadClient(pages + page + 16, copy, 8));
    EXPECT_EQ(korbin::CheckedReadCounts().queries, before.queries) << "a cached range was queried again";
    EXPECT_EQ(std::memcmp(copy, "pppppppp", 8), 0);

    // A guard set behind the cache's back: the copy hits it, the guard is put back.
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(pages + page, page, PAGE_READWRITE | PAGE_GUARD, &old));
    EXPECT_FALSE(ReadClient(pages + page, copy, 8));
    EXPECT_TRUE(HasGuard(pages + page)) << "the guard page lost its guard";
    EXPECT_GT(korbin::CheckedReadCounts().recovered, before.recovered);
    EXPECT_FALSE(ReadClient(pages + page, copy, 8)) << "and it is refused from now on";
    EXPECT_TRUE(HasGuard(pages + page));

    ASSERT_TRUE(ReadClient(pages, copy, 8));
    ASSERT_TRUE(::VirtualFree(pages, 0, MEM_RELEASE));
    EXPECT_FALSE(ReadClient(pages, copy, 8)) << "released behind the cache's back";
}

namespace {

struct StackProbe {
    char* guard = nullptr;
    bool readRefused = false;
    bool guardKept = false;
    size_t grownBy = 0;
};

// Touches the stack ever deeper, one page at a time: the guard page must keep moving down.
__attribute__((noinline)) size_t Grow(size_t depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth == 0) return frame[0];
    return Grow(depth - 1) + frame[0] + sizeof frame;
}

DWORD WINAPI StackThread(void* parameter) {
    auto* probe = static_cast<StackProbe*>(parameter);
    // The guard page right below the committed part of this thread's stack.
    uintptr_t low = 0, high = 0;
    korbin::CurrentStack(&low, &high);
    char* guard = reinterpret_cast<char*>(low) - PageSize();
    if (!HasGuard(guard)) return 1;
    probe->guard = guard;
    char copy[16];
    // Read right up to the guard, then into it.
    probe->readRefused = ReadClient(guard + PageSize(), copy, sizeof copy) && !ReadClient(guard, copy, sizeof copy) &&
                         !ReadClient(guard + PageSize() - 8, copy, sizeof copy);
    probe->guardKept = HasGuard(guard);
    probe->grownBy = Grow(200);  // 200 KB more stack
    return 0;
}

}  // namespace

TEST(ReadClientTest, AThreadsStackStillGrowsAfterReadsAtItsGuardPage) {
    StackProbe probe;
    HANDLE thread = ::CreateThread(nullptr, 1024 * 1024, StackThread, &probe, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(::WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 99;
    ::GetExitCodeThread(thread, &code);
    ::CloseHandle(thread);
    ASSERT_EQ(code, 0u) << "no guard page found below the thread's stack";
    EXPECT_TRUE(probe.readRefused) << "a read touching the guard page was not refused";
    EXPECT_TRUE(probe.guardKept);
    EXPECT_GT(probe.grownBy, 200u * 1024);
}

namespace {

LONG g_clientSeen = 0;
LONG g_clientAccess = 0;
constexpr DWORD kClientCode = 0xE0C0FFEE;

LONG CALLBACK ClientHandler(EXCEPTION_POINTERS* pointers) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (code == kClientCode) {
        ++g_clientSeen;
        return EXCEPTION_CONTINUE_EXECUTION;  // raised continuable: the client goes on after the raise
    }
    if (code == EXCEPTION_ACCESS_VIOLATION) ++g_clientAccess;
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

// Several threads read pages that another thread keeps freeing and
// reallocating, while the client's own vectored handler raises and takes its
// own exceptions: no crash, every read either right or refused, and the
// client's handler sees its own exceptions and none of the reader's faults.
// (A read is right when it shows what some page at that address held.)
TEST(ReadClientTest, PagesFreedUnderReadsOnOtherThreadsNeverFaultTheClient) {
    const size_t page = PageSize();
    constexpr int kPages = 16;
    // Pages come from one reserved range, walked round: an address is reused
    // only long after its page was taken away (a guard put back by the
    // handler must not land on a page the churn has just filled again).
    constexpr size_t kRangePages = 4096;
    auto* range = static_cast<char*>(::VirtualAlloc(nullptr, kRangePages * page, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(range, nullptr);
    size_t cursor = 0;
    auto commit = [&](DWORD protect) {
        char* fresh = range + (cursor++ % kRangePages) * page;
        ::VirtualAlloc(fresh, page, MEM_COMMIT, PAGE_READWRITE);
        std::memset(fresh, 'x', page);
        DWORD was;
        ::VirtualProtect(fresh, page, protect, &was);
        return fresh;
    };
    static char* volatile slots[kPages];
    for (auto& s : slots) s = commit(PAGE_READWRITE);
    void* client = ::AddVectoredExceptionHandler(0, ClientHandler);
    ASSERT_NE(client, nullptr);
    g_clientSeen = g_clientAccess = 0;
    volatile LONG stop = 0, wrong = 0;
    auto churn = [&] {
        for (unsigned i = 0; !stop; ++i) {
            // Taken away under the readers, back elsewhere as a readable, guard or no-access page.
            ::VirtualFree(slots[i % kPages], page, MEM_DECOMMIT);
            slots[i % kPages] = commit(i % 3 == 0 ? PAGE_NOACCESS : i % 3 == 1 ? (PAGE_READWRITE | PAGE_GUARD) : PAGE_READWRITE);
        }
    };
    auto reader = [&](int seed) {
        for (unsigned i = seed; !stop; i += 7) {
            char copy[32] = {};
            char* at = slots[i % kPages] + (i * 13) % (page - sizeof copy);
            // A page committed again reads as zeros until it is filled.
            if (ReadClient(at, copy, sizeof copy))
                for (char c : copy)
                    if (c != 'x' && c != 0) ::InterlockedIncrement(&wrong);
            if (i % 64 == 0) ::RaiseException(kClientCode, 0, 0, nullptr);
        }
    };
    const unsigned long recoveredBefore = korbin::CheckedReadCounts().recovered;
    auto raced = [&] { return korbin::CheckedReadCounts().recovered - recoveredBefore; };
    std::vector<std::thread> threads;
    threads.emplace_back(churn);
    for (int t = 0; t < 3; ++t) threads.emplace_back(reader, t);
    // Until copies were caught by the churn often enough (or 10 s went by).
    for (int waited = 0; (raced() < 50 || g_clientSeen == 0) && waited < 10000; waited += 10) ::Sleep(10);
    stop = 1;
    for (auto& t : threads) t.join();
    ::RemoveVectoredExceptionHandler(client);
    ::VirtualFree(range, 0, MEM_RELEASE);
    EXPECT_GE(raced(), 50u) << "the churn seldom caught a copy: the test proves little";
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(g_clientSeen, 0) << "the client's own exceptions did not reach its handler";
    EXPECT_EQ(g_clientAccess, 0) << "a fault of the reader reached the client's handler";
}
