#include "liveindex.h"

#include "objects.h"
#include "pool.h"

namespace korbin {
namespace {

size_t Hash(const void* pointer, size_t capacity) {
    auto value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
    value ^= value >> 17;
    value *= 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(value >> 20) & (capacity - 1);
}

}  // namespace

InterceptedInterface* LiveIndex::Find(const void* pointer) const {
    if (!capacity_ || !pointer) return nullptr;
    for (size_t i = Hash(pointer, capacity_);; i = (i + 1) & (capacity_ - 1)) {
        const Slot& s = slots_[i];
        if (!s.key) return nullptr;
        if (s.key == pointer && s.entry) return s.entry;
    }
}

bool LiveIndex::Grow() {
    size_t capacity = capacity_ ? capacity_ * 2 : 64;
    // Only removed slots crowd it: rebuild at the same size.
    if (live_ * 4 < capacity_) capacity = capacity_;
    auto* slots = static_cast<Slot*>(PoolAlloc(sizeof(Slot) * capacity));
    if (!slots) return false;
    for (size_t i = 0; i < capacity_; ++i) {
        if (!slots_[i].entry) continue;
        size_t j = Hash(slots_[i].key, capacity);
        while (slots[j].key) j = (j + 1) & (capacity - 1);
        slots[j] = slots_[i];
    }
    PoolFree(slots_);
    slots_ = slots;
    capacity_ = capacity;
    used_ = live_;
    return true;
}

bool LiveIndex::Insert(InterceptedInterface* entry) {
    if ((used_ + 1) * 2 > capacity_ && !Grow()) return false;
    size_t i = Hash(entry->pointer, capacity_);
    while (slots_[i].key) {
        if (slots_[i].key == entry->pointer && slots_[i].entry) {
            slots_[i].entry = entry;
            return true;
        }
        i = (i + 1) & (capacity_ - 1);
    }
    slots_[i] = Slot{entry->pointer, entry};
    ++live_;
    ++used_;
    return true;
}

void LiveIndex::Remove(const InterceptedInterface* entry) {
    if (!capacity_) return;
    for (size_t i = Hash(entry->pointer, capacity_); slots_[i].key; i = (i + 1) & (capacity_ - 1)) {
        if (slots_[i].entry == entry) {
            slots_[i].entry = nullptr;  // the key stays, so later keys remain reachable
            --live_;
            return;
        }
    }
}

void LiveIndex::Clear() { *this = LiveIndex{}; }

}  // namespace korbin
