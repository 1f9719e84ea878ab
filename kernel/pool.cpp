#include "pool.h"

#include "locks.h"

#include <windows.h>
#include <cstdint>
#include <cstring>

namespace korbin {
namespace {

// Both kinds of block start with this header; a standard block follows it
// with its bitmap, its run-length table and its data units.
struct BlockHeader {
    BlockHeader* next;
    size_t size;     // bytes reserved for the block
    size_t oversize; // 1 for a block holding one large request
};
static_assert(sizeof(BlockHeader) <= kPoolOversizeHeader);
static_assert(kPoolDataOffset + kPoolUnits * kPoolUnitSize <= kPoolBlockSize);
static_assert(kPoolUnits % 32 == 0, "the bitmap is scanned a word at a time");

constexpr size_t kBitmapOffset = 40;
constexpr size_t kRunTableOffset = kBitmapOffset + kPoolUnits / 8;
static_assert(kRunTableOffset + kPoolUnits * 2 == kPoolDataOffset);

// The list lives in the module, not in the process block: the block can be
// unmapped (a failed hook) while pool memory is still in use.
void* g_ownHead = nullptr;
void** const g_head = &g_ownHead;
// A lock word like the record locks: a thread ended while allocating (the
// process exiting under it) must not block the detach that frees records.
volatile LONG g_lock = 0;

class PoolLock {
public:
    PoolLock() { TakeLock(&g_lock, CurrentOwnerId(), nullptr); }
    ~PoolLock() { ReleaseLock(&g_lock); }
};

uint32_t* Bitmap(BlockHeader* b) { return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(b) + kBitmapOffset); }
uint16_t* Runs(BlockHeader* b) { return reinterpret_cast<uint16_t*>(reinterpret_cast<char*>(b) + kRunTableOffset); }
char* Data(BlockHeader* b) { return reinterpret_cast<char*>(b) + kPoolDataOffset; }

bool IsFree(const uint32_t* bits, size_t unit) { return (bits[unit / 32] & (1u << (unit % 32))) == 0; }

void Mark(uint32_t* bits, size_t first, size_t count, bool used) {
    for (size_t u = first; u < first + count; ++u) {
        if (used)
            bits[u / 32] |= 1u << (u % 32);
        else
            bits[u / 32] &= ~(1u << (u % 32));
    }
}

BlockHeader* NewBlock(size_t size, bool oversize) {
    void* memory = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (!memory) return nullptr;
    auto* block = static_cast<BlockHeader*>(memory);
    block->size = size;
    block->oversize = oversize ? 1 : 0;
    // Appended, so the search keeps list order.
    void** link = g_head;
    while (*link) link = reinterpret_cast<void**>(&static_cast<BlockHeader*>(*link)->next);
    *link = block;
    return block;
}

// First run of `units` free units, scanning each bitmap word from its lowest bit.
void* TakeRun(BlockHeader* b, size_t units) {
    uint32_t* bits = Bitmap(b);
    size_t run = 0;
    for (size_t u = 0; u < kPoolUnits; ++u) {
        // Long-lived descriptions fill the first words: a full word is passed
        // at once, not bit by bit at every allocation of a call.
        if (u % 32 == 0 && bits[u / 32] == 0xFFFFFFFFu) {
            run = 0;
            u += 31;
            continue;
        }
        if (!IsFree(bits, u)) {
            run = 0;
            continue;
        }
        if (++run == units) {
            size_t first = u + 1 - units;
            Mark(bits, first, units, true);
            Runs(b)[first] = static_cast<uint16_t>(units);
            char* at = Data(b) + first * kPoolUnitSize;
            std::memset(at, 0, units * kPoolUnitSize);
            return at;
        }
    }
    return nullptr;
}

}  // namespace

void* PoolAlloc(size_t size) {
    if (size == 0) return nullptr;
    PoolLock lock;
    if (size > kPoolUnits * kPoolUnitSize) {
        // Fresh pages are zero-filled already.
        BlockHeader* block = NewBlock(size + kPoolOversizeHeader, true);
        return block ? reinterpret_cast<char*>(block) + kPoolOversizeHeader : nullptr;
    }
    size_t units = (size + kPoolUnitSize - 1) / kPoolUnitSize;
    for (auto* b = static_cast<BlockHeader*>(*g_head); b; b = b->next) {
        if (b->oversize) continue;
        if (void* at = TakeRun(b, units)) return at;
    }
    BlockHeader* block = NewBlock(kPoolBlockSize, false);
    return block ? TakeRun(block, units) : nullptr;
}

char* PoolCopy(const char* text) {
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(PoolAlloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

void PoolFree(void* address) {
    if (!address) return;
    PoolLock lock;
    auto* p = static_cast<char*>(address);
    for (auto* b = static_cast<BlockHeader*>(*g_head); b; b = b->next) {
        char* base = reinterpret_cast<char*>(b);
        if (p < base || p >= base + b->size) continue;
        // Oversize blocks stay until everything is freed.
        if (b->oversize || p < Data(b)) return;
        size_t unit = static_cast<size_t>(p - Data(b)) / kPoolUnitSize;
        uint16_t count = Runs(b)[unit];
        if (count == 0) return;
        Mark(Bitmap(b), unit, count, false);
        Runs(b)[unit] = 0;
        return;
    }
}

void PoolFreeAll() {
    PoolLock lock;
    auto* b = static_cast<BlockHeader*>(*g_head);
    *g_head = nullptr;
    while (b) {
        BlockHeader* next = b->next;
        ::VirtualFree(b, 0, MEM_RELEASE);
        b = next;
    }
}

size_t PoolBlockCount() {
    PoolLock lock;
    size_t n = 0;
    for (auto* b = static_cast<BlockHeader*>(*g_head); b; b = b->next) ++n;
    return n;
}

}  // namespace korbin
