// The index files of both scan lists: a plain array of 12-byte records, each
// the offset of an entry's text in its list and the entry's change signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pollux {

// Identifies an unchanged item from one scan to the next; 0 is "none".
using ScanSignature = uint64_t;

#pragma pack(push, 1)
struct IndexRecord {
    int32_t offset;     // byte offset of the entry's text in the list
    uint32_t low;       // signature, low 32 bits
    uint32_t high;      // signature, high 32 bits
};
#pragma pack(pop)
static_assert(sizeof(IndexRecord) == 12, "index files hold 12-byte records");
static_assert(offsetof(IndexRecord, offset) == 0 && offsetof(IndexRecord, low) == 4 &&
              offsetof(IndexRecord, high) == 8, "offset, then the signature's low and high halves");

inline IndexRecord MakeRecord(int32_t offset, ScanSignature signature) {
    return {offset, static_cast<uint32_t>(signature), static_cast<uint32_t>(signature >> 32)};
}
inline ScanSignature SignatureOf(const IndexRecord& r) { return (static_cast<ScanSignature>(r.high) << 32) | r.low; }

// All three fields 0xFFFFFFFF: the end of the type-library list's library part.
inline IndexRecord SeparatorRecord() { return {-1, 0xFFFFFFFFu, 0xFFFFFFFFu}; }
inline bool IsSeparator(const IndexRecord& r) { return r.offset == -1 && r.low == 0xFFFFFFFFu && r.high == 0xFFFFFFFFu; }

// The records of an index file's bytes (a trailing partial record is ignored).
std::vector<IndexRecord> ParseIndex(std::string_view bytes);
std::string IndexBytes(const std::vector<IndexRecord>& records);

}  // namespace pollux
