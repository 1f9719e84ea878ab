// Generated call interception, behind one small interface per architecture.
// A patched method-table slot points at the entry thunk of its thunk pair:
// the entry thunk calls the entry handler and then continues into the real
// method. i686: when the handler has put the exit thunk in place of the
// caller's return address, the method returns into the exit thunk, which
// calls the exit handler and then returns to the caller. x86_64: when the
// handler answers that the call is traced, the thunk calls the method from a
// frame of its own (with unwind information, so exceptions pass through it)
// and then the exit handler. Either way the method sees every argument
// register, the flags and its stack arguments as the client left them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace korbin {

// One intercepted call as the handlers see it, on any architecture.
struct Call {
    uint32_t thunkNumber;
    uint32_t slot;            // method-table index
    const void* frame;        // the thunk's saved state, for the argument reader
    // Entry: the object and the cell that holds the caller's return address
    // (replace it with exitThunk to see the method's return).
    void* self;
    void** returnSlot;
    void* exitThunk;          // nullptr where the thunk sees the return itself (x86_64)
    bool traced;              // set by the entry handler: the exit must be seen
    // Exit: the method's result (accumulator), the cell the exit thunk
    // returns through (set it to the caller's real return address), and the
    // stack address just above the consumed return slot: every entry of this
    // call and of the calls around it had its return slot below that.
    uintptr_t result;
    void** continuation;
    uintptr_t stackAtExit;
    // x86_64: the saved xmm0 to xmm3, 16 bytes each (floating arguments).
    const void* floatArea;
};

// Where each parameter after `this` lives at the call's entry, in order.
class ArgumentCursor {
public:
    explicit ArgumentCursor(const Call& call) : call_(call) {}
    // The cell of the next parameter of `size` bytes (floating: VT_R4 or
    // VT_R8): its value, or a pointer to it when *byReference comes back true.
    const void* Next(uint32_t size, bool floating, bool* byReference);
    // The stack cell after the parameters, or nullptr where there is none.
    const void* After() const;

private:
    const Call& call_;
    size_t position_ = 0;  // parameters taken
    size_t offset_ = 0;    // bytes taken (i686)
};

// Implemented by the interception layer; called with the thread's last-error
// value already saved (and restored after they return).
void OnCallEntry(Call& call);
void OnCallExit(Call& call);

// Bytes of one thunk pair.
size_t ThunkPairSize();
// Writes a pair for the slot whose real method is realMethod.
void WriteThunkPair(void* pair, void* realMethod, uint32_t slot, uint32_t thunkNumber);
void* EntryThunkOf(void* pair);
// Makes a written (or copied) pair known to the system's unwinder before its
// slot is patched, and forgets it before its memory is freed (x86_64; nothing
// to do on i686, whose exception chain does not walk return addresses).
bool RegisterThunkPair(void* pair);
void UnregisterThunkPair(void* pair);
void* RealMethodOf(const void* pair);

// Argument words after `this`, in order, at the call's entry: on i686 the
// stack words; on x86_64 the integer register or stack slot of that position.
uintptr_t ArgumentWord(const Call& call, size_t index);

// The checked reader's copy routine: copies `size` bytes and returns 1, or
// returns 0 when a fault inside it was recovered (see RecoverCopyFault). It
// touches no stack and no register a caller must keep, so resuming it at its
// recovery point needs nothing but the instruction pointer.
extern "C" int korbin_guarded_copy(void* to, const void* from, size_t size);

// When the context stopped at the copy's faulting instruction, moves it to
// the recovery point (the copy then returns 0) and answers true; else false,
// with the context untouched.
bool RecoverCopyFault(CONTEXT& context);

// The calling thread's current stack (its fiber's, when it runs fibers):
// [low, high) as the thread information block has it.
void CurrentStack(uintptr_t* low, uintptr_t* high);

}  // namespace korbin
