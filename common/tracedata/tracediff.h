// Two traces compared as two runs of one scenario: calls aligned per process
// and thread (each numbered in order of appearance), by class, interface,
// method and in-values; what differs by nature between runs (pointers,
// handles, process and thread ids, record numbers, times, instance numbers,
// which are renumbered per thread in order of appearance, live-instance
// counts) left out. Threads pair up by the calls they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tracerecord.h"

namespace vx {

struct CompareOptions {
    std::set<std::string> fields;   // "in", "out", "results", "instances", "loads", "reports"
    std::set<std::string> methods;  // "Release" or "IUnknown::Release"
};

// Reads a comma-separated --ignore list into `options`; false, with the
// reason, for an empty item.
bool AddIgnored(const std::string& list, CompareOptions* options, std::string* error);

// One call (ENTER with its EXIT) or other event of a trace, reduced.
struct TraceEvent {
    long record = 0;         // the record number (the ENTER's for a call)
    uint64_t key = 0;        // what aligns it
    uint64_t outcome = 0;    // what it gave back: out-values, results, counts
    bool call = false;
    std::string text;        // one line for people
};

class ComparableTrace {
public:
    explicit ComparableTrace(const CompareOptions& options) : options_(options) {}
    void Take(const TraceRecord& record);
    // Calls whose EXIT never came are kept, shown as such.
    void Finish();

    struct Stream {
        size_t process = 0, thread = 0;  // ordinals from 1
        std::vector<TraceEvent> events;
    };
    const std::vector<Stream>& streams() const { return streams_; }
    size_t calls() const { return calls_; }
    size_t events() const;

private:
    struct Open {
        TraceRecord enter;
        size_t stream, index;
    };
    Stream& StreamOf(const TraceRecord& record);
    long Instance(const TraceRecord& record);
    void Add(const TraceRecord& record, const std::string& key, const std::string& outcome, std::string text,
             bool call);
    void CloseCall(Open& open, const TraceRecord* exit);

    CompareOptions options_;
    std::vector<Stream> streams_;
    std::map<uint32_t, size_t> processes_;                                // pid → ordinal
    std::map<std::pair<uint32_t, uint32_t>, size_t> threads_;             // (pid, tid) → stream
    std::map<std::tuple<uint32_t, std::string, long>, long> instances_;  // (pid, class, instance) → renumbered
    std::map<std::pair<size_t, std::string>, long> perThread_;            // (stream, class) → instances seen
    std::vector<Open> open_;
    size_t calls_ = 0;
};

enum class Change : char { Same = '=', OnlyInA = '-', OnlyInB = '+', OtherOutcome = '~' };

struct Difference {
    Change change;
    size_t process, thread;
    const TraceEvent* a;  // null for OnlyInB
    const TraceEvent* b;  // null for OnlyInA
};

struct Comparison {
    bool equal = true;
    size_t onlyInA = 0, onlyInB = 0, otherOutcome = 0;
    size_t callsA = 0, callsB = 0, eventsA = 0, eventsB = 0;
    std::vector<Difference> differences;  // in stream order, then event order
    // The first difference (by record number) among up to `context` events
    // of its thread on each side, in order.
    std::vector<Difference> around;
    size_t first = 0;  // its place in `around`
};

// Both traces must outlive the result, which points into them.
Comparison Compare(const ComparableTrace& a, const ComparableTrace& b, size_t context = 3);

// What `vxtrace diff` prints: the first difference with its context and a
// summary, or that the traces match.
std::string ComparisonReport(const Comparison& comparison);

}  // namespace vx
