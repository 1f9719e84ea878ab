// Helpers of the trace-logic tests: descriptors written byte by byte as the
// reader lays them out, and a trace reader that answers from a table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "recinfo.h"

namespace tl_test {

inline void Put(std::string* d, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) (*d)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// One 20-byte descriptor: type, a byte the window ignores, first serial,
// slot, text offset, thread id and process id, little-endian.
inline std::string Desc(uint8_t type, int32_t patch, uint16_t slot, uint32_t pointer, uint32_t tid, uint32_t pid) {
    std::string d(20, '\0');
    d[0] = static_cast<char>(type);
    d[1] = '\x5A';
    Put(&d, 2, static_cast<uint32_t>(patch), 4);
    Put(&d, 6, slot, 2);
    Put(&d, 8, pointer, 4);
    Put(&d, 12, tid, 4);
    Put(&d, 16, pid, 4);
    return d;
}

struct FakeRecord {
    std::string method;
    std::string cls;
    int32_t instance = 0;
    std::string dll;
    std::string commandLine;
    std::vector<std::string> lines;  // after the header line
};

// Answers the record-text members from `records` by RecPtr; counts calls.
class FakeReader : public shell::TraceReaderTexts {
public:
    std::map<uint32_t, FakeRecord> records;
    std::map<std::string, int> calls;
    bool brokenSource = false;  // every line read answers " ", as a reader whose file went away

    std::string GetMethodName(uint32_t p) override { return ++calls["GetMethodName"], records[p].method; }
    std::string GetClassName(uint32_t p, int32_t* instance) override {
        ++calls["GetClassName"];
        *instance = records[p].instance;
        return records[p].cls;
    }
    std::string GetDllShortName(uint32_t p) override { return ++calls["GetDllShortName"], records[p].dll; }
    std::string GetProcessCommandLine(uint32_t p) override {
        return ++calls["GetProcessCommandLine"], records[p].commandLine;
    }
    std::string GetFirstRecordString(uint32_t p) override {
        ++calls["GetFirstRecordString"];
        current_ = p;
        line_ = 0;
        return brokenSource ? " " : "header of " + std::to_string(p);
    }
    std::string GetNextRecordString() override {
        ++calls["GetNextRecordString"];
        if (brokenSource) return " ";
        const auto& lines = records[current_].lines;
        return line_ < lines.size() ? lines[line_++] : std::string();
    }
    void Diagn(const std::string&) override {}

private:
    uint32_t current_ = 0;
    size_t line_ = 0;
};

// A record as the kernel writes it to the trace file: CR LF, the first line
// continued by thread, process and record numbers, further lines; the end
// line CR LF that the next record's first line follows.
inline std::string TraceRecord(const std::string& first, unsigned tid, unsigned pid, int number,
                               const std::vector<std::string>& more = {}) {
    char tail[64];
    std::snprintf(tail, sizeof tail, " TID=%xh PID=%xh [%d]", tid, pid, number);
    std::string text = "\r\n" + first + tail;
    for (const std::string& line : more) text += "\r\n" + line;
    return text + "\r\n";
}

}  // namespace tl_test
