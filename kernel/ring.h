// The text ring of the trace map.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korbin {

// Copies a piece into the ring at *position, wrapping at capacity, and adds its
// length to *total. A final 0x01 byte (the end-of-record mark) is left out.
// A piece longer than the ring wraps as often as needed.
void RingWrite(uint8_t* ring, uint32_t capacity, uint32_t* position, uint32_t* total,
               const char* data, size_t length);

}  // namespace korbin
