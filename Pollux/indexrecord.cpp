#include "indexrecord.h"

#include <cstring>

namespace pollux {

std::vector<IndexRecord> ParseIndex(std::string_view bytes) {
    std::vector<IndexRecord> records(bytes.size() / sizeof(IndexRecord));
    if (!records.empty()) std::memcpy(records.data(), bytes.data(), records.size() * sizeof(IndexRecord));
    return records;
}

std::string IndexBytes(const std::vector<IndexRecord>& records) {
    return std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(IndexRecord));
}

}  // namespace pollux
