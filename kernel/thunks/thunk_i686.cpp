// i686: the 31-byte thunk template, twice per slot (entry at 0, exit at 31).
// The handlers are __stdcall with three arguments and find the thunk's
// pushes, the saved registers and the call's own stack above them.
#include <windows.h>

#include <cstring>

#include "thunk.h"

namespace korbin {
namespace {

constexpr size_t kThunkSize = 31;
constexpr size_t kPairSize = 2 * kThunkSize;

// One thunk; a pair is two copies, the entry thunk at 0 and the exit thunk at 31.
constexpr unsigned char kTemplate[kThunkSize] = {
    0x68, 0x55, 0x55, 0x55, 0x55,        //  0: push imm32     continuation (exit: placeholder)
    0x60,                                //  5: pushad
    0x9C,                                //  6: pushfd
    0x68, 0xCC, 0xCC, 0xCC, 0xCC,        //  7: push imm32     slot offset (index * 4)
    0x68, 0xDD, 0xDD, 0xDD, 0xDD,        // 12: push imm32     thunk number
    0x68, 0xEE, 0xEE, 0xEE, 0xEE,        // 17: push imm32     0xEEEEEEEE, unused
    0xFF, 0x15, 0x00, 0x00, 0x00, 0x00,  // 22: call [imm32]   the handler's cell
    0x9D,                                // 28: popfd
    0x61,                                // 29: popad
    0xC3,                                // 30: ret            to the continuation
};

constexpr size_t kContinuation = 1;
constexpr size_t kSlotOffset = 8;
constexpr size_t kThunkNumber = 13;
constexpr size_t kHandlerCell = 24;
constexpr size_t kAfterCall = 28;  // the handler's return address

// Each field is the immediate of the instruction before it.
static_assert(kTemplate[kContinuation - 1] == 0x68 && kTemplate[kContinuation] == 0x55);
static_assert(kTemplate[kSlotOffset - 1] == 0x68 && kTemplate[kSlotOffset] == 0xCC);
static_assert(kTemplate[kThunkNumber - 1] == 0x68 && kTemplate[kThunkNumber] == 0xDD);
static_assert(kTemplate[kHandlerCell - 2] == 0xFF && kTemplate[kHandlerCell - 1] == 0x15);
static_assert(kHandlerCell + 4 == kAfterCall && kTemplate[kAfterCall] == 0x9D);
static_assert(kTemplate[kThunkSize - 1] == 0xC3);

// Stack words as a handler sees them (index = byte offset / 4).
constexpr size_t kWordThunkNumber = 2;
constexpr size_t kWordSlotOffset = 3;
constexpr size_t kWordEax = 12;
constexpr size_t kWordContinuation = 13;
constexpr size_t kWordReturn = 14;
constexpr size_t kWordThis = 15;
constexpr size_t kWordFirstArgument = 16;
// Above the return slot: the three pushed constants, the flags, the eight
// registers of pushad (eax pushed first, so highest), then the continuation.
static_assert(kWordThunkNumber == 2 && kWordSlotOffset == 3);
static_assert(kWordEax == 1 + 3 + 1 + 7 && kWordContinuation == kWordEax + 1);
static_assert(kWordReturn == kWordContinuation + 1 && kWordThis == kWordReturn + 1);

void Put32(void* at, uint32_t value) { std::memcpy(at, &value, 4); }

}  // namespace

extern "C" void __stdcall korbin_entry32(uint32_t* stack);
extern "C" void __stdcall korbin_exit32(uint32_t* stack);
extern "C" void korbin_entry_handler32();
extern "C" void korbin_exit_handler32();

// The cells the thunks call through.
extern "C" {
void (*korbin_entry_cell32)() = korbin_entry_handler32;
void (*korbin_exit_cell32)() = korbin_exit_handler32;
}

// Handlers as the template calls them: __stdcall, three arguments. They pass
// the address of their own return slot (the stack as the tables describe
// it) to the C++ side.
asm(".text\n"
    ".globl _korbin_entry_handler32\n"
    "_korbin_entry_handler32:\n"
    "    push %esp\n"
    "    call _korbin_entry32@4\n"
    "    ret $12\n"
    ".globl _korbin_exit_handler32\n"
    "_korbin_exit_handler32:\n"
    "    push %esp\n"
    "    call _korbin_exit32@4\n"
    "    ret $12\n");

extern "C" void __stdcall korbin_entry32(uint32_t* stack) {
    DWORD lastError = ::GetLastError();
    Call call = {};
    call.thunkNumber = stack[kWordThunkNumber];
    call.slot = stack[kWordSlotOffset] / 4;
    call.frame = stack;
    call.self = reinterpret_cast<void*>(stack[kWordThis]);
    call.returnSlot = reinterpret_cast<void**>(&stack[kWordReturn]);
    // The handler returns into the entry thunk; the exit thunk follows it.
    call.exitThunk = reinterpret_cast<void*>(stack[0] - kAfterCall + kThunkSize);
    OnCallEntry(call);
    ::SetLastError(lastError);
}

extern "C" void __stdcall korbin_exit32(uint32_t* stack) {
    DWORD lastError = ::GetLastError();
    Call call = {};
    call.thunkNumber = stack[kWordThunkNumber];
    call.slot = stack[kWordSlotOffset] / 4;
    call.frame = stack;
    call.result = stack[kWordEax];
    call.continuation = reinterpret_cast<void**>(&stack[kWordContinuation]);
    call.stackAtExit = reinterpret_cast<uintptr_t>(&stack[kWordReturn]);
    OnCallExit(call);
    ::SetLastError(lastError);
}

// The copy keeps the caller's esi and edi in eax and edx (scratch registers
// of the calling convention), so that it has no stack frame to unwind.
extern "C" char korbin_copy_fault_begin[], korbin_copy_fault_end[], korbin_copy_recover[];
asm(".text\n"
    ".globl _korbin_guarded_copy\n"
    "_korbin_guarded_copy:\n"
    "    mov %esi, %eax\n"
    "    mov %edi, %edx\n"
    "    mov 4(%esp), %edi\n"      // to
    "    mov 8(%esp), %esi\n"      // from
    "    mov 12(%esp), %ecx\n"     // size
    "    cld\n"
    ".globl _korbin_copy_fault_begin\n"
    "_korbin_copy_fault_begin:\n"
    "    rep movsb\n"               // the only instruction that reads client memory
    ".globl _korbin_copy_fault_end\n"
    "_korbin_copy_fault_end:\n"
    "    mov %eax, %esi\n"
    "    mov %edx, %edi\n"
    "    mov $1, %eax\n"
    "    ret\n"
    ".globl _korbin_copy_recover\n"
    "_korbin_copy_recover:\n"
    "    mov %eax, %esi\n"
    "    mov %edx, %edi\n"
    "    xor %eax, %eax\n"
    "    ret\n");

bool RecoverCopyFault(CONTEXT& context) {
    const auto at = static_cast<uintptr_t>(context.Eip);
    if (at < reinterpret_cast<uintptr_t>(korbin_copy_fault_begin) ||
        at >= reinterpret_cast<uintptr_t>(korbin_copy_fault_end))
        return false;
    context.Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(korbin_copy_recover));
    return true;
}

void CurrentStack(uintptr_t* low, uintptr_t* high) {
    const NT_TIB* tib;
    asm("mov %%fs:0x18, %0" : "=r"(tib));  // the block's own address
    *low = reinterpret_cast<uintptr_t>(tib->StackLimit);
    *high = reinterpret_cast<uintptr_t>(tib->StackBase);
}

size_t ThunkPairSize() { return kPairSize; }

void WriteThunkPair(void* pair, void* realMethod, uint32_t slot, uint32_t thunkNumber) {
    auto* p = static_cast<unsigned char*>(pair);
    std::memcpy(p, kTemplate, kThunkSize);
    std::memcpy(p + kThunkSize, kTemplate, kThunkSize);
    Put32(p + kContinuation, reinterpret_cast<uint32_t>(realMethod));
    for (size_t copy = 0; copy < 2; ++copy) {
        unsigned char* t = p + copy * kThunkSize;
        Put32(t + kSlotOffset, slot * 4);
        Put32(t + kThunkNumber, thunkNumber);
    }
    Put32(p + kHandlerCell, reinterpret_cast<uint32_t>(&korbin_entry_cell32));
    Put32(p + kThunkSize + kHandlerCell, reinterpret_cast<uint32_t>(&korbin_exit_cell32));
}

void* EntryThunkOf(void* pair) { return pair; }

bool RegisterThunkPair(void*) { return true; }
void UnregisterThunkPair(void*) {}

void* RealMethodOf(const void* pair) {
    uint32_t value;
    std::memcpy(&value, static_cast<const unsigned char*>(pair) + kContinuation, 4);
    return reinterpret_cast<void*>(value);
}

const void* ArgumentCursor::Next(uint32_t size, bool, bool* byReference) {
    // By value on the stack, each taking its size rounded up to 4 bytes.
    *byReference = false;
    const auto* at = reinterpret_cast<const char*>(&static_cast<const uint32_t*>(call_.frame)[kWordFirstArgument]) + offset_;
    offset_ += (size + 3) / 4 * 4;
    ++position_;
    return at;
}

const void* ArgumentCursor::After() const {
    return reinterpret_cast<const char*>(&static_cast<const uint32_t*>(call_.frame)[kWordFirstArgument]) + offset_;
}

uintptr_t ArgumentWord(const Call& call, size_t index) {
    return static_cast<const uint32_t*>(call.frame)[kWordFirstArgument + index];
}

}  // namespace korbin
