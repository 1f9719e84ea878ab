// The thunks executed for real, with handlers of the test's own that clobber
// every scratch register and the last-error value: the methods must see their
// arguments, flags and stack as the caller left them, and the caller the
// method's results.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "thunks/thunk.h"

using namespace korbin;

extern "C" void vx_clobber_scratch();
extern "C" uintptr_t vx_method_flags();     // returns the flags it was entered with
// Calls method(object) with the flags set to `flags` at the call.
extern "C" uintptr_t vx_call_with_flags(void* object, void* method, uintptr_t flags);
extern "C" uintptr_t vx_method_stack();     // returns its stack pointer at entry, mod 16

#ifdef _WIN64
asm(".text\n"
    ".globl vx_clobber_scratch\n"
    "vx_clobber_scratch:\n"
    "    movabs $0xDEADBEEFDEADBEEF, %rax\n"
    "    mov %rax, %rcx\n    mov %rax, %rdx\n    mov %rax, %r8\n    mov %rax, %r9\n"
    "    mov %rax, %r10\n    mov %rax, %r11\n"
    "    movq %rax, %xmm0\n  movq %rax, %xmm1\n  movq %rax, %xmm2\n  movq %rax, %xmm3\n"
    "    movq %rax, %xmm4\n  movq %rax, %xmm5\n"
    "    xor %eax, %eax\n    stc\n"
    "    ret\n"
    ".globl vx_method_flags\n"
    "vx_method_flags:\n"
    "    pushfq\n    pop %rax\n    ret\n"
    ".globl vx_method_stack\n"
    "vx_method_stack:\n"
    "    mov %rsp, %rax\n    and $15, %rax\n    ret\n"
    ".globl vx_call_with_flags\n"
    "vx_call_with_flags:\n"
    "    sub $40, %rsp\n    push %r8\n    popfq\n    call *%rdx\n    add $40, %rsp\n    ret\n");
#else
asm(".text\n"
    ".globl _vx_clobber_scratch\n"
    "_vx_clobber_scratch:\n"
    "    mov $0xDEADBEEF, %eax\n    mov %eax, %ecx\n    mov %eax, %edx\n"
    "    stc\n    ret\n"
    ".globl _vx_method_flags\n"
    "_vx_method_flags:\n"
    "    pushf\n    pop %eax\n    ret $4\n"
    ".globl _vx_method_stack\n"
    "_vx_method_stack:\n"
    "    mov %esp, %eax\n    and $15, %eax\n    ret $4\n"
    ".globl _vx_call_with_flags\n"
    "_vx_call_with_flags:\n"
    "    mov 4(%esp), %eax\n    mov 8(%esp), %ecx\n    mov 12(%esp), %edx\n"
    "    push %eax\n    push %edx\n    popf\n    call *%ecx\n    ret\n");
#endif

namespace {

struct Seen {
    uint32_t thunkNumber, slot;
    void* self;
    std::vector<uintptr_t> args;
    uintptr_t result;
    bool alignedHandler;
};

struct Pending {
    void** slot;
    void* realReturn;
};

std::vector<Seen> g_entries, g_exits;
std::vector<Pending> g_pending;
bool g_trace = true;

__attribute__((noinline)) bool HandlerStackAligned() {
#ifdef _WIN64
    // With a frame, rbp is the entry stack pointer less 8: 16-aligned when the call was.
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) % 16 == 0;
#else
    return true;
#endif
}

}  // namespace

namespace korbin {

void OnCallEntry(Call& call) {
    Seen s{call.thunkNumber, call.slot, call.self, {}, 0, HandlerStackAligned()};
    for (size_t i = 0; i < 6; ++i) s.args.push_back(ArgumentWord(call, i));
    g_entries.push_back(s);
    ::SetLastError(999);
    vx_clobber_scratch();
    if (!g_trace) return;
    g_pending.push_back({call.returnSlot, *call.returnSlot});
    if (call.exitThunk) *call.returnSlot = call.exitThunk;
    call.traced = true;
}

void OnCallExit(Call& call) {
    // The nearest pending call below the exit's stack.
    size_t best = g_pending.size();
    for (size_t i = 0; i < g_pending.size(); ++i) {
        auto at = reinterpret_cast<uintptr_t>(g_pending[i].slot);
        if (at < call.stackAtExit &&
            (best == g_pending.size() || at > reinterpret_cast<uintptr_t>(g_pending[best].slot)))
            best = i;
    }
    if (best == g_pending.size()) std::abort();  // the thunk would return nowhere
    *call.continuation = g_pending[best].realReturn;
    g_pending.erase(g_pending.begin() + static_cast<ptrdiff_t>(best));
    g_exits.push_back({call.thunkNumber, call.slot, nullptr, {}, call.result, HandlerStackAligned()});
    ::SetLastError(998);
    vx_clobber_scratch();
}

}  // namespace korbin

namespace {

struct Object;
using IntMethod = int64_t(STDMETHODCALLTYPE*)(Object*, int32_t, double, int64_t, float, int32_t, double, int32_t);
using RealMethod = double(STDMETHODCALLTYPE*)(Object*, float, int32_t, double, double);

struct Object {
    void** table;
    DWORD errorSeen;
};

int64_t STDMETHODCALLTYPE Mix(Object* self, int32_t a, double b, int64_t c, float d, int32_t e, double f, int32_t g) {
    self->errorSeen = ::GetLastError();
    ::SetLastError(777);
    return a + static_cast<int64_t>(b * 1000) + c * 3 + static_cast<int64_t>(d * 100) + e * 7 +
           static_cast<int64_t>(f * 10) + g * 11;
}

double STDMETHODCALLTYPE Blend(Object*, float a, int32_t b, double c, double d) { return a * 2 + b + c / 4 + d * d; }

constexpr size_t kSlots = 4;

class ThunkTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_entries.clear();
        g_exits.clear();
        g_pending.clear();
        g_trace = true;
        original = {reinterpret_cast<void*>(Mix), reinterpret_cast<void*>(Blend), reinterpret_cast<void*>(vx_method_flags),
                    reinterpret_cast<void*>(vx_method_stack)};
        std::memcpy(table, original.data(), sizeof table);
        pairs = static_cast<unsigned char*>(
            ::VirtualAlloc(nullptr, ThunkPairSize() * kSlots, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        ASSERT_NE(pairs, nullptr);
        object.table = table;
    }
    void TearDown() override {
        if (patched)
            for (size_t i = 0; i < kSlots; ++i) UnregisterThunkPair(pairs + i * ThunkPairSize());
        ::VirtualFree(pairs, 0, MEM_RELEASE);
    }

    void Patch() {
        for (size_t i = 0; i < kSlots; ++i) {
            WriteThunkPair(pairs + i * ThunkPairSize(), table[i], static_cast<uint32_t>(i), static_cast<uint32_t>(40 + i));
            ASSERT_TRUE(RegisterThunkPair(pairs + i * ThunkPairSize()));
            table[i] = EntryThunkOf(pairs + i * ThunkPairSize());
        }
        patched = true;
        ::FlushInstructionCache(::GetCurrentProcess(), pairs, ThunkPairSize() * kSlots);
    }

    int64_t CallMix() {
        return reinterpret_cast<IntMethod>(object.table[0])(&object, -5, 2.5, 3000000000LL, 1.25f, 9, -0.5, 4);
    }
    double CallBlend() { return reinterpret_cast<RealMethod>(object.table[1])(&object, 1.5f, -3, 10.0, 0.5); }

    std::vector<void*> original;
    bool patched = false;
    void* table[kSlots];
    Object object{};
    unsigned char* pairs = nullptr;
};

}  // namespace

TEST_F(ThunkTest, ResultsArgumentsAndLastErrorPassThroughUnchanged) {
    ::SetLastError(4321);
    const int64_t plainInt = CallMix();
    EXPECT_EQ(object.errorSeen, 4321u);
    EXPECT_EQ(::GetLastError(), 777u);
    const double plainReal = CallBlend();

    Patch();
    object.errorSeen = 0;
    ::SetLastError(4321);
    EXPECT_EQ(CallMix(), plainInt);
    EXPECT_EQ(object.errorSeen, 4321u) << "the entry handler's last error leaked into the method";
    EXPECT_EQ(::GetLastError(), 777u) << "the exit handler's last error leaked to the caller";
    EXPECT_EQ(CallBlend(), plainReal);

    ASSERT_EQ(g_entries.size(), 2u);
    ASSERT_EQ(g_exits.size(), 2u);
    EXPECT_EQ(g_entries[0].thunkNumber, 40u);
    EXPECT_EQ(g_entries[0].slot, 0u);
    EXPECT_EQ(g_entries[0].self, &object);
    EXPECT_EQ(static_cast<int32_t>(g_entries[0].args[0]), -5);
    EXPECT_EQ(g_entries[1].slot, 1u);
    EXPECT_EQ(g_exits[0].thunkNumber, 40u);
#ifdef _WIN64
    EXPECT_EQ(static_cast<int64_t>(g_exits[0].result), plainInt);
    // Integer positions: a in rdx, c in r9's position (third), e fifth on the stack.
    EXPECT_EQ(static_cast<int64_t>(g_entries[0].args[2]), 3000000000LL);
    EXPECT_EQ(static_cast<int32_t>(g_entries[0].args[4]), 9);
    for (const Seen& s : g_entries) EXPECT_TRUE(s.alignedHandler);
    for (const Seen& s : g_exits) EXPECT_TRUE(s.alignedHandler);
#else
    EXPECT_EQ(static_cast<uint32_t>(g_exits[0].result), static_cast<uint32_t>(plainInt));
    // Stack words: a, then b's two words, then c's two.
    double b;
    std::memcpy(&b, &g_entries[0].args[1], 4);
    std::memcpy(reinterpret_cast<char*>(&b) + 4, &g_entries[0].args[2], 4);
    EXPECT_EQ(b, 2.5);
    EXPECT_EQ(g_entries[0].args[3], static_cast<uint32_t>(3000000000LL & 0xFFFFFFFF));
#endif
}

TEST_F(ThunkTest, UntracedCallStillRunsAndFlagsAndStackArriveAsLeft) {
    // Carry, parity, adjust, zero, sign and overflow (direction stays clear).
    const uintptr_t arithmetic = 0x8D5;
    const uintptr_t plainStack = reinterpret_cast<uintptr_t(STDMETHODCALLTYPE*)(Object*)>(original[3])(&object);
    Patch();
    for (bool trace : {true, false}) {
        g_trace = trace;
        for (uintptr_t flags : {arithmetic, uintptr_t{0}, uintptr_t{0x41}}) {
            EXPECT_EQ(vx_call_with_flags(&object, table[2], flags | 2) & arithmetic, flags)
                << "trace " << trace << " flags " << flags;
        }
        EXPECT_EQ(reinterpret_cast<uintptr_t(STDMETHODCALLTYPE*)(Object*)>(table[3])(&object), plainStack);
        EXPECT_EQ(CallMix(), reinterpret_cast<IntMethod>(original[0])(&object, -5, 2.5, 3000000000LL, 1.25f, 9, -0.5, 4));
    }
#ifdef _WIN64
    EXPECT_EQ(plainStack, 8u) << "a method is entered with the stack 8 past a 16-byte boundary";
#endif
}

#ifdef _WIN64
// An exception unwinds through a traced call by the pair's own function entry
// (the exceptions scenario end to end throws through it a thousand times):
// here that each pair, wherever it lies, registers and unregisters its entry.
TEST(ThunkBytes, PairCarriesItsFunctionEntryRelativeToItself) {
    const size_t size = ThunkPairSize();
    ASSERT_EQ(size % 8, 0u) << "pairs follow each other in a block";
    auto* pair = static_cast<unsigned char*>(
        ::VirtualAlloc(nullptr, 2 * size, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    ASSERT_NE(pair, nullptr);
    WriteThunkPair(pair, reinterpret_cast<void*>(0x1122334455667788ull), 7, 0x1234);
    // A copy one pair further on is a pair of its own.
    std::memcpy(pair + size, pair, size);
    for (unsigned char* at : {pair, pair + size}) {
        ASSERT_TRUE(RegisterThunkPair(at));
        EXPECT_EQ(RealMethodOf(at), reinterpret_cast<void*>(0x1122334455667788ull));
        DWORD64 base = 0;
        const RUNTIME_FUNCTION* function = ::RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(at + 40), &base, nullptr);
        ASSERT_NE(function, nullptr) << "the unwinder does not know the pair";
        EXPECT_EQ(base, reinterpret_cast<DWORD64>(at));
        EXPECT_EQ(function->BeginAddress, 0u);
        EXPECT_GT(function->EndAddress, 40u);
        EXPECT_LT(function->EndAddress, size);
        UnregisterThunkPair(at);
        EXPECT_EQ(::RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(at + 40), &base, nullptr), nullptr);
    }
    ::VirtualFree(pair, 0, MEM_RELEASE);
}
#endif
