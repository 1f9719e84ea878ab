// The kernel's own memory: records, strings and thunks all come from blocks
// of executable pages reserved here, never from the client's heap. Blocks are
// only given back when everything is freed at once.
#pragma once

#include <cstddef>

namespace korbin {

constexpr size_t kPoolBlockSize = 262144;
constexpr size_t kPoolUnits = 14400;
constexpr size_t kPoolUnitSize = 16;
constexpr size_t kPoolDataOffset = 30640;
constexpr size_t kPoolOversizeHeader = 24;

void* PoolAlloc(size_t size);  // zero-filled; nullptr for 0 bytes or when memory is exhausted
char* PoolCopy(const char* text);
void PoolFree(void* address);  // an address no allocation returned is ignored
void PoolFreeAll();
size_t PoolBlockCount();

}  // namespace korbin
