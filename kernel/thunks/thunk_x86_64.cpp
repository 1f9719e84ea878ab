// x86_64: one thunk per patched slot that owns a real frame. It saves the
// argument registers, asks the entry handler whether the call is traced, and
// either leaves its frame and jumps on into the real method (untraced: the
// method returns straight to the caller) or calls the method itself with a
// copy of the caller's stack arguments, then calls the exit handler and
// returns. The caller's return address stays where it is, and the pair
// carries unwind information for its frame, registered as a function table:
// an exception that leaves the method (a C++ throw, a raised exception its
// client catches) unwinds through the thunk like through any function.
//
// The template below is assembled once and copied per slot; its data follow
// the code and are read RIP-relative, so a copy works wherever it lands, and
// the function entry's addresses are relative to the pair's own start.
#include <windows.h>

#include <cstring>

#include "thunk.h"

// Frame of the thunk, from its stack pointer after the prologue (16-aligned):
//     0  the method's argument area: the caller's 32 words from its home
//        slots on (fewer near the stack's base), copied for a traced call
//   256  rcx, rdx, r8, r9, r10, r11 as the caller left them
//   304  xmm0 to xmm3
//   368  the method's rax     376  the caller's flags     384  the method's xmm0
//   408  (frame size) saved rdi, rsi, then the caller's return address at 424

// The caller's flags and argument registers back from the frame, as the
// caller left them: before the traced call of the method and before the
// untraced jump into it.
#define KORBIN_PAIR_RELOAD \
    "    pushq 376(%rsp)\n" \
    "    popfq\n" \
    "    mov 256(%rsp), %rcx\n" \
    "    mov 264(%rsp), %rdx\n" \
    "    mov 272(%rsp), %r8\n" \
    "    mov 280(%rsp), %r9\n" \
    "    mov 288(%rsp), %r10\n" \
    "    mov 296(%rsp), %r11\n" \
    "    movaps 304(%rsp), %xmm0\n" \
    "    movaps 320(%rsp), %xmm1\n" \
    "    movaps 336(%rsp), %xmm2\n" \
    "    movaps 352(%rsp), %xmm3\n"

asm(".section .rdata,\"dr\"\n"
    ".p2align 4\n"
    ".globl korbin_pair_template\n"
    "korbin_pair_template:\n"
    "    push %rsi\n"
    "    push %rdi\n"
    "    lea -408(%rsp), %rsp\n"  // lea: the flags stay the caller's
    "korbin_pair_prologue_end:\n"
    "    mov %rcx, 256(%rsp)\n"
    "    mov %rdx, 264(%rsp)\n"
    "    mov %r8, 272(%rsp)\n"
    "    mov %r9, 280(%rsp)\n"
    "    mov %r10, 288(%rsp)\n"
    "    mov %r11, 296(%rsp)\n"
    "    movaps %xmm0, 304(%rsp)\n"
    "    movaps %xmm1, 320(%rsp)\n"
    "    movaps %xmm2, 336(%rsp)\n"
    "    movaps %xmm3, 352(%rsp)\n"
    "    pushfq\n"
    "    popq 376(%rsp)\n"
    "    mov %rsp, %rcx\n"
    "    lea korbin_pair_info(%rip), %rdx\n"
    "    call *korbin_pair_entry(%rip)\n"
    "    test %rax, %rax\n"
    "    jz 1f\n"
    // Traced: the caller's stack arguments, up to the stack's base.
    "    lea 432(%rsp), %rsi\n"
    "    mov %gs:8, %rcx\n"
    "    sub %rsi, %rcx\n"
    "    shr $3, %rcx\n"
    "    cmp $32, %rcx\n"
    "    jbe 2f\n"
    "    mov $32, %ecx\n"
    "2:  mov %rsp, %rdi\n"
    "    rep movsq\n"
    KORBIN_PAIR_RELOAD
    "    call *korbin_pair_continuation(%rip)\n"
    "    mov %rax, 368(%rsp)\n"
    "    movaps %xmm0, 384(%rsp)\n"
    "    mov %rsp, %rcx\n"
    "    lea korbin_pair_info(%rip), %rdx\n"
    "    call *korbin_pair_exit(%rip)\n"
    "    mov 368(%rsp), %rax\n"
    "    movaps 384(%rsp), %xmm0\n"
    "    add $408, %rsp\n"
    "    pop %rdi\n"
    "    pop %rsi\n"
    "    ret\n"
    // Untraced: everything as the caller left it, straight into the method.
    "1:\n"
    KORBIN_PAIR_RELOAD
    "    lea 408(%rsp), %rsp\n"  // lea: the flags stay the caller's
    "    pop %rdi\n"
    "    pop %rsi\n"
    "    jmp *korbin_pair_continuation(%rip)\n"
    ".globl korbin_pair_code_end\n"
    "korbin_pair_code_end:\n"
    "    .p2align 3, 0xCC\n"
    ".globl korbin_pair_continuation\n"
    "korbin_pair_continuation: .quad 0\n"   // the real method
    ".globl korbin_pair_entry\n"
    "korbin_pair_entry: .quad 0\n"          // the entry handler
    ".globl korbin_pair_exit\n"
    "korbin_pair_exit: .quad 0\n"           // the exit handler
    ".globl korbin_pair_info\n"
    "korbin_pair_info: .long 0, 0\n"        // thunk number, slot
    // The function entry (begin, end, unwind information), relative to the pair.
    ".globl korbin_pair_function\n"
    "korbin_pair_function:\n"
    "    .long 0, korbin_pair_code_end - korbin_pair_template, korbin_pair_unwind - korbin_pair_template\n"
    // Version 1, no handler; the prologue's three steps, last first.
    "korbin_pair_unwind:\n"
    "    .byte 1, korbin_pair_prologue_end - korbin_pair_template, 4, 0\n"
    "    .byte korbin_pair_prologue_end - korbin_pair_template, 0x01\n"  // lea rsp: large allocation,
    "    .short 408 / 8\n"                                               //   in 8-byte units
    "    .byte 2, 0x70\n"                                                // push rdi
    "    .byte 1, 0x60\n"                                                // push rsi
    "    .p2align 3, 0\n"
    ".globl korbin_pair_end\n"
    "korbin_pair_end:\n"
    ".text\n");

extern "C" const unsigned char korbin_pair_template[], korbin_pair_code_end[], korbin_pair_continuation[],
    korbin_pair_entry[], korbin_pair_exit[], korbin_pair_info[], korbin_pair_function[], korbin_pair_end[];

namespace korbin {
namespace {

size_t At(const unsigned char* label) { return static_cast<size_t>(label - korbin_pair_template); }

// Frame words from the thunk's stack pointer after its prologue.
constexpr size_t kFrameRcx = 32, kFrameRdx = 33, kFrameR8 = 34, kFrameR9 = 35;
constexpr size_t kFloatArea = 304, kFrameResult = 46, kFrameReturn = 53;
static_assert(kFrameR9 == kFrameRcx + 3 && kFrameRcx * 8 == 256 && kFloatArea == 256 + 6 * 8);
static_assert(kFrameResult * 8 == kFloatArea + 64 && kFrameReturn * 8 == 408 + 16);

struct Info {
    uint32_t thunkNumber;
    uint32_t slot;
};

uint64_t EntryHandler(uint64_t* frame, const Info* info) {
    DWORD lastError = ::GetLastError();
    Call call = {};
    call.thunkNumber = info->thunkNumber;
    call.slot = info->slot;
    call.frame = frame;
    call.self = reinterpret_cast<void*>(frame[kFrameRcx]);
    call.floatArea = reinterpret_cast<const char*>(frame) + kFloatArea;
    call.returnSlot = reinterpret_cast<void**>(&frame[kFrameReturn]);
    call.exitThunk = nullptr;  // the thunk sees the return itself
    OnCallEntry(call);
    ::SetLastError(lastError);
    return call.traced ? 1 : 0;
}

void ExitHandler(uint64_t* frame, const Info* info) {
    DWORD lastError = ::GetLastError();
    Call call = {};
    void* returnTo = nullptr;  // the thunk returns through its own frame
    call.thunkNumber = info->thunkNumber;
    call.slot = info->slot;
    call.frame = frame;
    call.result = frame[kFrameResult];
    call.continuation = &returnTo;
    call.stackAtExit = reinterpret_cast<uintptr_t>(&frame[kFrameReturn + 1]);
    OnCallExit(call);
    ::SetLastError(lastError);
}

}  // namespace

// The copy keeps the caller's rdi and rsi in r9 and r10 (scratch registers
// of the calling convention): a leaf without a frame, which needs no unwind
// information.
extern "C" char korbin_copy_fault_begin[], korbin_copy_fault_end[], korbin_copy_recover[];
asm(".text\n"
    ".globl korbin_guarded_copy\n"
    "korbin_guarded_copy:\n"
    "    mov %rdi, %r9\n"
    "    mov %rsi, %r10\n"
    "    mov %rcx, %rdi\n"         // to
    "    mov %rdx, %rsi\n"         // from
    "    mov %r8, %rcx\n"          // size
    "    cld\n"
    ".globl korbin_copy_fault_begin\n"
    "korbin_copy_fault_begin:\n"
    "    rep movsb\n"               // the only instruction that reads client memory
    ".globl korbin_copy_fault_end\n"
    "korbin_copy_fault_end:\n"
    "    mov %r9, %rdi\n"
    "    mov %r10, %rsi\n"
    "    mov $1, %eax\n"
    "    ret\n"
    ".globl korbin_copy_recover\n"
    "korbin_copy_recover:\n"
    "    mov %r9, %rdi\n"
    "    mov %r10, %rsi\n"
    "    xor %eax, %eax\n"
    "    ret\n");

bool RecoverCopyFault(CONTEXT& context) {
    const auto at = static_cast<uintptr_t>(context.Rip);
    if (at < reinterpret_cast<uintptr_t>(korbin_copy_fault_begin) ||
        at >= reinterpret_cast<uintptr_t>(korbin_copy_fault_end))
        return false;
    context.Rip = reinterpret_cast<uintptr_t>(korbin_copy_recover);
    return true;
}

void CurrentStack(uintptr_t* low, uintptr_t* high) {
    const NT_TIB* tib;
    asm("mov %%gs:0x30, %0" : "=r"(tib));  // the block's own address
    *low = reinterpret_cast<uintptr_t>(tib->StackLimit);
    *high = reinterpret_cast<uintptr_t>(tib->StackBase);
}

size_t ThunkPairSize() { return At(korbin_pair_end); }

void WriteThunkPair(void* pairMemory, void* realMethod, uint32_t slot, uint32_t thunkNumber) {
    auto* pair = static_cast<unsigned char*>(pairMemory);
    std::memcpy(pair, korbin_pair_template, ThunkPairSize());
    void* const entry = reinterpret_cast<void*>(EntryHandler);
    void* const exit = reinterpret_cast<void*>(ExitHandler);
    std::memcpy(pair + At(korbin_pair_continuation), &realMethod, 8);
    std::memcpy(pair + At(korbin_pair_entry), &entry, 8);
    std::memcpy(pair + At(korbin_pair_exit), &exit, 8);
    const Info info = {thunkNumber, slot};
    std::memcpy(pair + At(korbin_pair_info), &info, sizeof info);
}

bool RegisterThunkPair(void* pair) {
    return ::RtlAddFunctionTable(
               reinterpret_cast<PRUNTIME_FUNCTION>(static_cast<unsigned char*>(pair) + At(korbin_pair_function)), 1,
               reinterpret_cast<DWORD64>(pair)) != FALSE;
}

void UnregisterThunkPair(void* pair) {
    ::RtlDeleteFunctionTable(
        reinterpret_cast<PRUNTIME_FUNCTION>(static_cast<unsigned char*>(pair) + At(korbin_pair_function)));
}

void* EntryThunkOf(void* pair) { return pair; }

void* RealMethodOf(const void* pair) {
    void* method;
    std::memcpy(&method, static_cast<const unsigned char*>(pair) + At(korbin_pair_continuation), 8);
    return method;
}

const void* ArgumentCursor::Next(uint32_t size, bool floating, bool* byReference) {
    // Position 0 is `this`; the first four travel in registers (integers in
    // rcx, rdx, r8, r9, floating ones in xmm0 to xmm3), the rest in 8-byte
    // stack slots; values of other sizes than 1, 2, 4 or 8 go by reference.
    const size_t k = ++position_;
    const auto* frame = static_cast<const uint64_t*>(call_.frame);
    static constexpr size_t kRegister[] = {kFrameRcx, kFrameRdx, kFrameR8, kFrameR9};
    const void* at;
    if (k < 4)
        at = floating && call_.floatArea ? static_cast<const char*>(call_.floatArea) + 16 * k
                                         : static_cast<const void*>(&frame[kRegister[k]]);
    else
        at = &frame[kFrameReturn + 1 + k];
    *byReference = !(size == 1 || size == 2 || size == 4 || size == 8);
    if (*byReference) return *static_cast<const void* const*>(at);
    return at;
}

const void* ArgumentCursor::After() const { return nullptr; }

uintptr_t ArgumentWord(const Call& call, size_t index) {
    const auto* frame = static_cast<const uint64_t*>(call.frame);
    switch (index) {
    case 0:
        return frame[kFrameRdx];
    case 1:
        return frame[kFrameR8];
    case 2:
        return frame[kFrameR9];
    default:
        // Above the return address: the four home slots, then the fifth
        // argument position onwards (this counts as the first).
        return frame[kFrameReturn + 1 + (index + 1)];
    }
}

}  // namespace korbin
