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

// push imm32 (continuation) / pushad / pushfd / push slot offset / push thunk
// number / push 0xEEEEEEEE / call [handler cell] / popfd / popad / ret
constexpr unsigned char kTemplate[kPairSize] = {
    0x68, 0x55, 0x55, 0x55, 0x55, 0x60, 0x9C, 0x68, 0xCC, 0xCC, 0xCC, 0xCC, 0x68, 0xDD, 0xDD, 0xDD,
    0xDD, 0x68, 0xEE, 0xEE, 0xEE, 0xEE, 0xFF, 0x15, 0x00, 0x00, 0x00, 0x00, 0x9D, 0x61, 0xC3,
    0x68, 0x55, 0x55, 0x55, 0x55, 0x60, 0x9C, 0x68, 0xCC, 0xCC, 0xCC, 0xCC, 0x68, 0xDD, 0xDD, 0xDD,
    0xDD, 0x68, 0xEE, 0xEE, 0xEE, 0xEE, 0xFF, 0x15, 0x00, 0x00, 0x00, 0x00, 0x9D, 0x61, 0xC3,
};

constexpr size_t kContinuation = 1;
constexpr size_t kSlotOffset = 8;
constexpr size_t kThunkNumber = 13;
constexpr size_t kHandlerCell = 24;

// Stack words as a handler sees them (index = byte offset / 4).
constexpr size_t kWordThunkNumber = 2;
constexpr size_t kWordSlotOffset = 3;
constexpr size_t kWordEax = 12;
constexpr size_t kWordContinuation = 13;
constexpr size_t kWordReturn = 14;
constexpr size_t kWordThis = 15;
constexpr size_t kWordFirstArgument = 16;

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
    // The handler returns to the entry thunk's offset 28; the exit thunk follows 3 bytes on.
    call.exitThunk = reinterpret_cast<void*>(stack[0] + 3);
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

size_t ThunkPairSize() { return kPairSize; }

void WriteThunkPair(void* pair, void* realMethod, uint32_t slot, uint32_t thunkNumber) {
    auto* p = static_cast<unsigned char*>(pair);
    std::memcpy(p, kTemplate, kPairSize);
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
