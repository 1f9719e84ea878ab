// Helpers of the trace-logic tests: descriptors as the reader hands them out,
// and a trace reader that answers from a table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recinfo.h"
#include "recorddescriptor.h"
#include "tracelogic.h"

namespace tl_test {

// One descriptor as the reader hands it out, written by field from the one
// definition of its layout (a nonzero byte where the window reads nothing).
inline std::string Desc(uint8_t type, int32_t patch, uint16_t slot, uint32_t pointer, uint32_t tid, uint32_t pid) {
    const vx::RecordDescriptor d = {type, 0x5A, patch, slot, pointer, tid, pid};
    return std::string(reinterpret_cast<const char*>(&d), sizeof d);
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

// A trace view fed descriptor batches, its names answered by the fake reader.
class ViewFixture : public ::testing::Test {
protected:
    std::vector<shell::TreeNode> Feed(const std::string& batch) {
        return view.RegNewRecords(reinterpret_cast<const uint8_t*>(batch.data()), batch.size(), reader, options);
    }

    FakeReader reader;
    shell::TreeViewOptions options;
    shell::TraceView view;
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
