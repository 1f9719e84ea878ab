// Reading client memory without faulting and without a system call on the
// common path: the pages are checked first (a per-thread cache of ranges
// already found readable keeps VirtualQuery away from repeated reads), then
// the bytes are copied by one small routine of the kernel's own. A vectored
// handler recovers a fault only inside that routine and only on a thread that
// marked itself as reading (pages freed or protected by another thread
// between the check and the copy); every other exception goes on untouched.
#pragma once

#include <cstddef>

namespace korbin {

// Adds the vectored handler; called at kernel load (and, for code linked
// without the module's entry, on the first read). Stopping removes it.
void StartCheckedReads();
void StopCheckedReads();

// A thread ends: its cache goes back for others.
void CheckedReadsThreadEnding();

// Copies `size` bytes of client memory; false when any byte is unreadable,
// lies on a guard or no-access page, or faulted during the copy.
bool ReadClient(const void* address, void* out, size_t size);

// Counters for tests and benchmarks: page queries made, faults recovered.
struct CheckedReadStats {
    unsigned long queries;
    unsigned long recovered;
};
CheckedReadStats CheckedReadCounts();

}  // namespace korbin
