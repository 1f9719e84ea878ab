#include "ring.h"

#include "linetext.h"

#include <cstring>

namespace korbin {

void RingWrite(uint8_t* ring, uint32_t capacity, uint32_t* position, uint32_t* total,
               const char* data, size_t length) {
    if (length > 0 && data[length - 1] == '\x01') --length;
    *total += static_cast<uint32_t>(length);
    uint32_t pos = *position;
    // A corrupted position must not send the copy past the ring.
    if (pos > capacity) pos = 0;
    while (length > 0) {
        size_t room = capacity - pos;
        if (length <= room) {
            CopyBytes(reinterpret_cast<char*>(ring + pos), data, length);
            pos += static_cast<uint32_t>(length);
            break;
        }
        CopyBytes(reinterpret_cast<char*>(ring + pos), data, room);
        data += room;
        length -= room;
        pos = 0;
    }
    *position = pos;
}

}  // namespace korbin
