// x86_64: a thunk pair of 264 bytes per slot, entry code at 0, exit code at
// 120, then the data both read RIP-relative (so a pair can be copied):
//   240 entry continuation (the real method)   248 exit continuation (placeholder)
//   256 thunk number (32 bits), slot (32 bits)
// Each thunk:
//   push [rip+continuation]; pushfq; push rax, rcx, rdx, r8, r9, r10, r11, rbx
//   mov rbx, rsp; sub rsp, 64; and rsp, -16; movaps xmm0..xmm3 to [rsp..]
//   mov rcx, rbx; lea rdx, [rip+info]; mov r8, rsp; sub rsp, 32
//   mov rax, <handler cell>; call [rax]; add rsp, 32
//   movaps xmm0..xmm3 back; mov rsp, rbx; pop rbx, r11 ... rax; popfq; ret
// The handler runs on a 16-byte aligned stack with shadow space; the final
// ret jumps to the continuation (the real method, or for the exit thunk the
// caller's return address that the handler wrote into the frame).
#include <windows.h>

#include <cstring>

#include "thunk.h"

namespace korbin {
namespace {

constexpr size_t kCodeSize = 118;
constexpr size_t kExitCode = 120;
constexpr size_t kEntryContinuation = 240;
constexpr size_t kExitContinuation = 248;
constexpr size_t kInfo = 256;
constexpr size_t kPairSize = 264;

constexpr unsigned char kCode[kCodeSize] = {
    0xFF, 0x35, 0x00, 0x00, 0x00, 0x00,              // push [rip+rel32]       (rel32 at 2)
    0x9C, 0x50, 0x51, 0x52, 0x41, 0x50, 0x41, 0x51,  // pushfq, rax, rcx, rdx, r8, r9
    0x41, 0x52, 0x41, 0x53, 0x53,                    // r10, r11, rbx
    0x48, 0x89, 0xE3,                                // mov rbx, rsp
    0x48, 0x83, 0xEC, 0x40,                          // sub rsp, 64
    0x48, 0x83, 0xE4, 0xF0,                          // and rsp, -16
    0x0F, 0x29, 0x04, 0x24,                          // movaps [rsp], xmm0
    0x0F, 0x29, 0x4C, 0x24, 0x10,                    // movaps [rsp+16], xmm1
    0x0F, 0x29, 0x54, 0x24, 0x20,                    // movaps [rsp+32], xmm2
    0x0F, 0x29, 0x5C, 0x24, 0x30,                    // movaps [rsp+48], xmm3
    0x48, 0x89, 0xD9,                                // mov rcx, rbx
    0x48, 0x8D, 0x15, 0x00, 0x00, 0x00, 0x00,        // lea rdx, [rip+rel32]    (rel32 at 55)
    0x49, 0x89, 0xE0,                                // mov r8, rsp
    0x48, 0x83, 0xEC, 0x20,                          // sub rsp, 32
    0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0,              // mov rax, imm64          (imm64 at 68)
    0xFF, 0x10,                                      // call [rax]
    0x48, 0x83, 0xC4, 0x20,                          // add rsp, 32
    0x0F, 0x28, 0x04, 0x24,                          // movaps xmm0, [rsp]
    0x0F, 0x28, 0x4C, 0x24, 0x10,                    // movaps xmm1, [rsp+16]
    0x0F, 0x28, 0x54, 0x24, 0x20,                    // movaps xmm2, [rsp+32]
    0x0F, 0x28, 0x5C, 0x24, 0x30,                    // movaps xmm3, [rsp+48]
    0x48, 0x89, 0xDC,                                // mov rsp, rbx
    0x5B, 0x41, 0x5B, 0x41, 0x5A, 0x41, 0x59, 0x41,  // pop rbx, r11, r10, r9,
    0x58, 0x5A, 0x59, 0x58,                          //     r8, rdx, rcx, rax
    0x9D, 0xC3,                                      // popfq; ret
};
constexpr size_t kPushRel = 2, kPushNext = 6;
constexpr size_t kLeaRel = 55, kLeaNext = 59;
constexpr size_t kHandlerImm = 68;

// Each field is the operand of the instruction it sits in.
static_assert(kCode[kPushRel - 2] == 0xFF && kCode[kPushRel - 1] == 0x35 && kPushNext == kPushRel + 4);
static_assert(kCode[kLeaRel - 3] == 0x48 && kCode[kLeaRel - 2] == 0x8D && kCode[kLeaRel - 1] == 0x15 &&
              kLeaNext == kLeaRel + 4);
static_assert(kCode[kHandlerImm - 2] == 0x48 && kCode[kHandlerImm - 1] == 0xB8 && kCode[kHandlerImm + 8] == 0xFF);
static_assert(kCode[kCodeSize - 1] == 0xC3);
// The exit code after the entry code, the data after both.
static_assert(kCodeSize <= kExitCode && kExitCode + kCodeSize <= kEntryContinuation);
static_assert(kExitContinuation == kEntryContinuation + 8 && kInfo == kExitContinuation + 8 && kInfo + 8 == kPairSize);

// Frame words from the saved rbx upwards: the pushes in reverse.
constexpr size_t kFrameRcx = 6, kFrameRdx = 5, kFrameR8 = 4, kFrameR9 = 3;
constexpr size_t kFrameRax = 7, kFrameContinuation = 9, kFrameReturn = 10;
static_assert(kFrameR9 == 3 && kFrameR8 == kFrameR9 + 1 && kFrameRdx == kFrameR8 + 1 && kFrameRcx == kFrameRdx + 1);
static_assert(kFrameContinuation == kFrameRax + 2 && kFrameReturn == kFrameContinuation + 1);  // flags between

struct Info {
    uint32_t thunkNumber;
    uint32_t slot;
};

void PutRel32(unsigned char* code, size_t field, size_t next, size_t target) {
    int32_t rel = static_cast<int32_t>(static_cast<ptrdiff_t>(target) - static_cast<ptrdiff_t>(next));
    std::memcpy(code + field, &rel, 4);
}

void EntryHandler(uint64_t* frame, const Info* info, const void* floatArea) {
    DWORD lastError = ::GetLastError();
    Call call = {};
    call.thunkNumber = info->thunkNumber;
    call.slot = info->slot;
    call.frame = frame;
    call.self = reinterpret_cast<void*>(frame[kFrameRcx]);
    call.floatArea = floatArea;
    call.returnSlot = reinterpret_cast<void**>(&frame[kFrameReturn]);
    call.exitThunk = const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(info) - kInfo + kExitCode);
    OnCallEntry(call);
    ::SetLastError(lastError);
}

void ExitHandler(uint64_t* frame, const Info* info, const void*) {
    DWORD lastError = ::GetLastError();
    Call call = {};
    call.thunkNumber = info->thunkNumber;
    call.slot = info->slot;
    call.frame = frame;
    call.result = frame[kFrameRax];
    call.continuation = reinterpret_cast<void**>(&frame[kFrameContinuation]);
    call.stackAtExit = reinterpret_cast<uintptr_t>(&frame[kFrameReturn]);
    OnCallExit(call);
    ::SetLastError(lastError);
}

using Handler = void (*)(uint64_t*, const Info*, const void*);
Handler g_entryCell = EntryHandler;
Handler g_exitCell = ExitHandler;

void WriteThunk(unsigned char* pair, size_t at, size_t continuation, Handler* cell) {
    unsigned char* code = pair + at;
    std::memcpy(code, kCode, kCodeSize);
    PutRel32(code, kPushRel, at + kPushNext, continuation);
    PutRel32(code, kLeaRel, at + kLeaNext, kInfo);
    void* cellAddress = cell;
    std::memcpy(code + kHandlerImm, &cellAddress, 8);
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

size_t ThunkPairSize() { return kPairSize; }

void WriteThunkPair(void* pairMemory, void* realMethod, uint32_t slot, uint32_t thunkNumber) {
    auto* pair = static_cast<unsigned char*>(pairMemory);
    std::memset(pair, 0xCC, kPairSize);
    WriteThunk(pair, 0, kEntryContinuation, &g_entryCell);
    WriteThunk(pair, kExitCode, kExitContinuation, &g_exitCell);
    std::memcpy(pair + kEntryContinuation, &realMethod, 8);
    const uint64_t placeholder = 0x5555555555555555ull;
    std::memcpy(pair + kExitContinuation, &placeholder, 8);
    Info info = {thunkNumber, slot};
    std::memcpy(pair + kInfo, &info, sizeof info);
}

void* EntryThunkOf(void* pair) { return pair; }

void* RealMethodOf(const void* pair) {
    void* method;
    std::memcpy(&method, static_cast<const unsigned char*>(pair) + kEntryContinuation, 8);
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
