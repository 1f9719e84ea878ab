#include "pool.h"

#include <windows.h>
#include <cstring>

namespace korbin {
namespace {
HANDLE g_heap = nullptr;
}

void* PoolAlloc(size_t size) {
    if (!g_heap) {
        // A heap of our own keeps the client's heap untouched and frees everything in one call.
        HANDLE heap = ::HeapCreate(0, 0, 0);
        if (!heap) return nullptr;
        if (::InterlockedCompareExchangePointer(&g_heap, heap, nullptr) != nullptr) ::HeapDestroy(heap);
    }
    return ::HeapAlloc(g_heap, HEAP_ZERO_MEMORY, size);
}

char* PoolCopy(const char* text) {
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(PoolAlloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

void PoolFree(void* block) {
    if (block && g_heap) ::HeapFree(g_heap, 0, block);
}

void PoolFreeAll() {
    if (HANDLE heap = ::InterlockedExchangePointer(&g_heap, nullptr)) ::HeapDestroy(heap);
}

}  // namespace korbin
