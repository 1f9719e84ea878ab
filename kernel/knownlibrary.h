// The fifth source of interface descriptions: "VxKnown.tlb" beside the
// kernel, the platform's standard interfaces (IActiveScript, IPersistStreamInit,
// IConnectionPointContainer and the like) that components implement without
// describing them anywhere.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace korbin {

constexpr char kKnownLibraryName[] = "VxKnown.tlb";

// Whether the file is the library built with this kernel (its size and
// digest): checked at kernel load, where no library may be loaded yet, so
// that the start banner can say what is missing, and again before loading.
bool KnownLibraryLooksWhole(const char* path);

// The banner's line about it: "" when it looks whole.
void KnownLibraryNotice(const char* path, char* out, size_t outSize);

// Loads it once (at kernel start); nullptr when it cannot be used.
ITypeLib* LoadKnownLibrary(const char* path);

}  // namespace korbin
