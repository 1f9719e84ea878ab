// Filters that hide without deleting, highlight rules, and the statistics of
// a trace view. Rules read as Process Monitor's do: on one field any rule
// may show a record, across fields every field must; a record a hide rule
// matches is hidden; a call hidden hides what ran inside it, except what a
// show rule names itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recinfo.h"
#include "tracerecords.h"

namespace shell {

enum class FilterField { Process, Thread, Class, Instance, Interface, Method, Kind, Result };
constexpr int kFilterFieldCount = 8;

// "Process", "Thread", "Class", "Instance", "Interface", "Method", "Kind", "Result".
const char* FieldName(FilterField field);

struct FilterRule {
    FilterField field = FilterField::Class;
    std::string value;  // '*' matches any run of characters; letter case is ignored
    bool show = true;   // show what it matches, or hide it
    bool operator==(const FilterRule&) const = default;
};

// A record's value for a field: process and thread ids in hexadecimal as the
// trace writes them; kind "call", "create", "destroy", "load", "unload";
// result "failed" or "succeeded" once the call has returned. `interfaceOf`
// gives an ENTER's interface (read from its text only when a rule asks).
using InterfaceLookup = std::function<std::string(const RecInfo&)>;
std::string FieldValue(const RecInfo& record, FilterField field, const InterfaceLookup& interfaceOf);

class TraceFilter {
public:
    TraceFilter() = default;
    explicit TraceFilter(std::vector<FilterRule> rules) : rules_(std::move(rules)) {}

    bool Active() const { return !rules_.empty(); }
    const std::vector<FilterRule>& Rules() const { return rules_; }
    // Adds a rule; one equal to it already there is not added twice.
    void Add(const FilterRule& rule);
    void Clear() { rules_.clear(); }
    // Whether the rules depend on a call's result (known only at its EXIT).
    bool UsesResult() const;

    // The rules' verdict on the record alone.
    bool Passes(const RecInfo& record, const InterfaceLookup& interfaceOf) const;
    // Whether a show rule names the record (so it shows inside a hidden call).
    bool ShowRuleMatches(const RecInfo& record, const InterfaceLookup& interfaceOf) const;

    // One rule a line: "show|hide <TAB> field <TAB> value", as kept per user.
    std::string ToText() const;
    // Lines that do not read as a rule are left out.
    static TraceFilter FromText(const std::string& text);
    // For the status bar: "Class is Calc; Result is failed; hide Method AddRef".
    std::string Describe() const;

private:
    std::vector<FilterRule> rules_;
};

// A glob with '*', letter case ignored.
bool GlobMatches(const std::string& pattern, const std::string& text);

// Per class (method empty: the class's own row, with its instances) and per
// method of a class.
struct StatisticsRow {
    std::string className, method;
    long calls = 0, failed = 0;
    long created = -1, left = -1;  // class rows only
};
std::vector<StatisticsRow> TraceStatistics(const TraceRecords& records);

}  // namespace shell
