// Filter rules, their matching and text form, and the view's statistics.
#include "tracefilter.h"

#include <cstdio>
#include <algorithm>
#include <map>

namespace shell {
namespace {

const char* const kFieldNames[kFilterFieldCount] = {"Process", "Thread",    "Class",  "Instance",
                                                    "Interface", "Method", "Kind", "Result"};

std::string HexText(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ReadField(const std::string& name, FilterField* field) {
    for (int i = 0; i < kFilterFieldCount; ++i) {
        if (name == kFieldNames[i]) {
            *field = static_cast<FilterField>(i);
            return true;
        }
    }
    return false;
}

}  // namespace

const char* FieldName(FilterField field) { return kFieldNames[static_cast<int>(field)]; }

bool GlobMatches(const std::string& pattern, const std::string& text) {
    // Iterative, with one backtrack point: the last '*' seen.
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
            ++p, ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string FieldValue(const RecInfo& r, FilterField field, const InterfaceLookup& interfaceOf) {
    switch (field) {
    case FilterField::Process: return HexText(r.PID);
    case FilterField::Thread: return HexText(r.TID);
    case FilterField::Class: return r.RecType == kRecordLoad || r.RecType == kRecordUnload ? std::string() : r.ClassName;
    case FilterField::Instance: return r.InstanceNum ? std::to_string(r.InstanceNum) : std::string();
    case FilterField::Interface: return r.RecType == kRecordEnter && interfaceOf ? interfaceOf(r) : std::string();
    case FilterField::Method: return r.RecType == kRecordEnter ? r.MethodName : std::string();
    case FilterField::Kind:
        switch (r.RecType) {
        case kRecordEnter: return "call";
        case kRecordCreate: return "create";
        case kRecordDestroy: return "destroy";
        case kRecordLoad: return "load";
        case kRecordUnload: return "unload";
        default: return "other";
        }
    case FilterField::Result:
        if (r.RecType != kRecordEnter || !r.HasResult) return {};
        return r.Result < 0 ? "failed" : "succeeded";
    }
    return {};
}

void TraceFilter::Add(const FilterRule& rule) {
    for (const FilterRule& r : rules_)
        if (r == rule) return;
    rules_.push_back(rule);
}

bool TraceFilter::UsesResult() const {
    for (const FilterRule& r : rules_)
        if (r.field == FilterField::Result) return true;
    return false;
}

bool TraceFilter::Passes(const RecInfo& record, const InterfaceLookup& interfaceOf) const {
    bool showFields[kFilterFieldCount] = {}, shownBy[kFilterFieldCount] = {};
    for (const FilterRule& rule : rules_) {
        bool matches = GlobMatches(rule.value, FieldValue(record, rule.field, interfaceOf));
        if (!rule.show && matches) return false;
        if (rule.show) {
            showFields[static_cast<int>(rule.field)] = true;
            shownBy[static_cast<int>(rule.field)] |= matches;
        }
    }
    for (int i = 0; i < kFilterFieldCount; ++i)
        if (showFields[i] && !shownBy[i]) return false;
    return true;
}

bool TraceFilter::ShowRuleMatches(const RecInfo& record, const InterfaceLookup& interfaceOf) const {
    bool any = false;
    for (const FilterRule& rule : rules_) any |= rule.show;
    return any && Passes(record, interfaceOf);
}

std::string TraceFilter::ToText() const {
    std::string text;
    for (const FilterRule& r : rules_)
        text += std::string(r.show ? "show" : "hide") + "\t" + FieldName(r.field) + "\t" + r.value + "\n";
    return text;
}

TraceFilter TraceFilter::FromText(const std::string& text) {
    TraceFilter filter;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        size_t tab1 = line.find('\t'), tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos) continue;
        FilterRule rule;
        std::string verb = line.substr(0, tab1);
        if ((verb != "show" && verb != "hide") || !ReadField(line.substr(tab1 + 1, tab2 - tab1 - 1), &rule.field))
            continue;
        rule.show = verb == "show";
        rule.value = line.substr(tab2 + 1);
        filter.Add(rule);
    }
    return filter;
}

std::string TraceFilter::Describe() const {
    std::string text;
    for (const FilterRule& r : rules_) {
        if (!text.empty()) text += "; ";
        text += std::string(r.show ? "" : "hide ") + FieldName(r.field) + " is " + r.value;
    }
    return text;
}

std::vector<StatisticsRow> TraceStatistics(const TraceRecords& records) {
    std::vector<StatisticsRow> rows;
    std::vector<size_t> classOf;  // per row: the order of its class's first appearance
    std::map<std::pair<std::string, std::string>, size_t> at;
    std::map<std::string, size_t> classOrder;
    // A row's place, made on first sight (references would not survive the next row).
    auto row = [&](const std::string& cls, const std::string& method) {
        auto [it, added] = at.emplace(std::make_pair(cls, method), rows.size());
        if (added) {
            bool classRow = method.empty();
            rows.push_back({cls, method, 0, 0, classRow ? 0 : -1, classRow ? 0 : -1});
            classOf.push_back(classOrder.emplace(cls, classOrder.size()).first->second);
        }
        return it->second;
    };
    for (const RecInfo& r : records.AllRecords()) {
        if (r.RecType == kRecordEnter) {
            bool failed = r.HasResult && r.Result < 0;
            for (size_t i : {row(r.ClassName, ""), row(r.ClassName, r.MethodName)}) {
                ++rows[i].calls;
                rows[i].failed += failed;
            }
        } else if (r.RecType == kRecordCreate) {
            StatisticsRow& s = rows[row(r.ClassName, "")];
            ++s.created;
            ++s.left;
        } else if (r.RecType == kRecordDestroy) {
            --rows[row(r.ClassName, "")].left;
        }
    }
    // Each class's row, then its methods, classes and methods in order of appearance.
    std::vector<size_t> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (classOf[a] != classOf[b]) return classOf[a] < classOf[b];
        return rows[a].method.empty() && !rows[b].method.empty();
    });
    std::vector<StatisticsRow> sorted;
    for (size_t i : order) sorted.push_back(std::move(rows[i]));
    return sorted;
}

}  // namespace shell
