// Memory for the kernel's records. Everything lives until the kernel unloads
// with no hooked DLL left, and is then freed at once.
#pragma once

#include <cstddef>

namespace korbin {

void* PoolAlloc(size_t size);  // zeroed; nullptr when memory is exhausted
char* PoolCopy(const char* text);
void PoolFree(void* block);
void PoolFreeAll();

}  // namespace korbin
