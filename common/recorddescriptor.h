// The 20-byte unit in which the trace reader hands out new records
// (GetNewRecords' byte array): the reader writes it, its clients read it by
// field from this one definition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

namespace vx {

// RECORD_TYPE of the trace reader's type library.
enum RecordType : uint8_t {
    kRecordEnter = 1,
    kRecordExit = 2,
    kRecordCreate = 3,
    kRecordDestroy = 4,
    kRecordLoad = 5,
    kRecordUnload = 6,
    kRecordFinStart = 7,
    kRecordFinEnd = 8,
};

#pragma pack(push, 1)
struct RecordDescriptor {
    uint8_t type;  // RECORD_TYPE
    uint8_t zero;
    int32_t firstSerial;
    uint16_t secondSerial;
    uint32_t offset;  // of the record's first line in the trace file
    uint32_t threadId;
    uint32_t processId;
};
#pragma pack(pop)
static_assert(sizeof(RecordDescriptor) == 20);
static_assert(offsetof(RecordDescriptor, firstSerial) == 2);
static_assert(offsetof(RecordDescriptor, secondSerial) == 6);
static_assert(offsetof(RecordDescriptor, offset) == 8);
static_assert(offsetof(RecordDescriptor, threadId) == 12);
static_assert(offsetof(RecordDescriptor, processId) == 16);

// The descriptors in a byte array of `size` bytes: at most `count`, never
// past the array's end.
inline std::vector<RecordDescriptor> DescriptorsOf(const void* bytes, size_t size, long count) {
    std::vector<RecordDescriptor> out;
    if (count <= 0 || !bytes) return out;
    size_t n = std::min(static_cast<size_t>(count), size / sizeof(RecordDescriptor));
    out.resize(n);
    if (n) std::memcpy(out.data(), bytes, n * sizeof(RecordDescriptor));
    return out;
}

}  // namespace vx
