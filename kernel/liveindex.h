// Live intercepted interfaces by interface pointer, so that the handlers'
// lookup costs the same with ten or ten thousand objects alive. A pointer is
// live in at most one entry, so this finds exactly what a walk of the list
// would find first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korbin {

struct InterceptedInterface;

class LiveIndex {
public:
    InterceptedInterface* Find(const void* pointer) const;
    // False when memory for a larger table was not available (the entry is
    // then not findable, as if it were not intercepted).
    bool Insert(InterceptedInterface* entry);
    void Remove(const InterceptedInterface* entry);
    void Clear();  // forgets everything; the memory goes with the pool
    size_t size() const { return live_; }

private:
    bool Grow();
    struct Slot {
        const void* key;
        InterceptedInterface* entry;  // nullptr with a key: removed
    };
    Slot* slots_ = nullptr;
    size_t capacity_ = 0;  // a power of two, or 0
    size_t live_ = 0;
    size_t used_ = 0;      // live and removed slots
};

}  // namespace korbin
