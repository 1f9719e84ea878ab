// Comparing two traces: each reduced to events per thread, the two event
// lists of a thread aligned by Myers' shortest edit script.
#include "tracediff.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "resultnames.h"

namespace vx {
namespace {

// Beyond this many differences in one thread the traces are unrelated: the
// rest of that thread is reported as differing without aligning it.
constexpr int kMostEdits = 4000;

uint64_t Hash(const std::string& text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

bool HasWord(const std::string& text, const char* word) {
    size_t length = std::strlen(word);
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        bool starts = at == 0 || text[at - 1] == ' ';
        bool ends = at + length == text.size() || text[at + length] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

// A value without what differs between runs: an address where the type is
// an address, and every "ptr=<address>" inside member lists.
std::string Comparable(const Parameter& p) {
    static const char* const kAddressTypes[] = {"VT_DISPATCH", "VT_UNKNOWN", "VT_VOID", "VT_PTR", "VT_INT_PTR",
                                                "VT_UINT_PTR", "HWND", "HANDLE", "HDC", "HMENU", "HINSTANCE"};
    for (const char* type : kAddressTypes)
        if (HasWord(p.type, type)) return p.value == "NULL" || p.value.empty() ? p.value : "<address>";
    std::string value = p.value;
    for (size_t at = value.find("ptr="); at != std::string::npos; at = value.find("ptr=", at + 4)) {
        size_t end = value.find_first_not_of("0123456789abcdef", at + 4);
        if (end != std::string::npos && end > at + 4 && value[end] == 'h') value.replace(at + 4, end + 1 - at - 4, "?");
    }
    return value;
}

std::string Values(const std::vector<Parameter>& parameters, bool withNames) {
    std::string text;
    for (const Parameter& p : parameters) {
        if (p.value.empty()) continue;
        if (!text.empty()) text += ", ";
        if (withNames || !p.name.empty()) text += (p.name.empty() ? "return" : p.name) + "=";
        text += Comparable(p);
    }
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

std::string ResultText(int32_t hr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<uint32_t>(hr));
    std::string name = ResultName(hr);
    return name.empty() ? std::string("0x") + hex : name + " (0x" + hex + ")";
}

struct Ops {
    // Index pairs of the events that align, in order.
    std::vector<std::pair<size_t, size_t>> matched;
};

// Myers' algorithm over [a0, a1) x [b0, b1); matched pairs appended in order.
// False when the edit script is longer than kMostEdits.
bool Myers(const std::vector<TraceEvent>& a, size_t a0, size_t a1, const std::vector<TraceEvent>& b, size_t b0,
           size_t b1, Ops* ops) {
    const int n = static_cast<int>(a1 - a0), m = static_cast<int>(b1 - b0);
    const int most = std::min(n + m, kMostEdits);
    const int offset = most + 1;
    std::vector<int> v(static_cast<size_t>(2 * most + 3), 0);
    // v as it was before each round d, from k = -d - 1 to d + 1.
    std::vector<std::vector<int>> rounds;
    auto key = [&](int x, int y) { return a[a0 + static_cast<size_t>(x)].key == b[b0 + static_cast<size_t>(y)].key; };
    int found = -1;
    for (int d = 0; d <= most && found < 0; ++d) {
        rounds.emplace_back(v.begin() + offset - d - 1, v.begin() + offset + d + 2);
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            int y = x - k;
            while (x < n && y < m && key(x, y)) ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0) return false;
    std::vector<std::pair<size_t, size_t>> backwards;
    int x = n, y = m;
    for (int d = found; d > 0; --d) {
        const std::vector<int>& before = rounds[static_cast<size_t>(d)];
        auto at = [&](int k) { return before[static_cast<size_t>(k + d + 1)]; };
        int k = x - y;
        int previousK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
        int previousX = at(previousK), previousY = previousX - previousK;
        while (x > previousX && y > previousY) backwards.emplace_back(a0 + static_cast<size_t>(--x), b0 + static_cast<size_t>(--y));
        x = previousX;
        y = previousY;
    }
    while (x > 0 && y > 0) backwards.emplace_back(a0 + static_cast<size_t>(--x), b0 + static_cast<size_t>(--y));
    ops->matched.insert(ops->matched.end(), backwards.rbegin(), backwards.rend());
    return true;
}

Ops Align(const std::vector<TraceEvent>& a, const std::vector<TraceEvent>& b) {
    Ops ops;
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head].key == b[head].key) ops.matched.emplace_back(head, head), ++head;
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail].key == b[b.size() - 1 - tail].key)
        ++tail;
    Myers(a, head, a.size() - tail, b, head, b.size() - tail, &ops);
    for (size_t i = tail; i > 0; --i) ops.matched.emplace_back(a.size() - i, b.size() - i);
    return ops;
}

// Threads of one process paired by how many events they share (threads
// started together start in either order), the most alike first; the
// unpaired with SIZE_MAX on the other side.
std::vector<std::pair<size_t, size_t>> PairThreads(const std::vector<ComparableTrace::Stream>& a,
                                                   const std::vector<ComparableTrace::Stream>& b) {
    struct Score {
        size_t shared, a, b;
    };
    std::vector<Score> scores;
    for (size_t j = 0; j < b.size(); ++j) {
        std::unordered_map<uint64_t, size_t> keys;
        for (const TraceEvent& e : b[j].events) ++keys[e.key];
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i].process != b[j].process) continue;
            std::unordered_map<uint64_t, size_t> left = keys;
            size_t shared = 0;
            for (const TraceEvent& e : a[i].events) {
                auto it = left.find(e.key);
                if (it != left.end() && it->second > 0) --it->second, ++shared;
            }
            scores.push_back({shared, i, j});
        }
    }
    std::stable_sort(scores.begin(), scores.end(), [&](const Score& x, const Score& y) {
        if (x.shared != y.shared) return x.shared > y.shared;
        return (x.a == x.b) > (y.a == y.b);
    });
    std::vector<bool> usedA(a.size()), usedB(b.size());
    std::vector<std::pair<size_t, size_t>> pairs;
    for (const Score& s : scores) {
        if (usedA[s.a] || usedB[s.b]) continue;
        usedA[s.a] = usedB[s.b] = true;
        pairs.emplace_back(s.a, s.b);
    }
    for (size_t i = 0; i < a.size(); ++i)
        if (!usedA[i]) pairs.emplace_back(i, SIZE_MAX);
    for (size_t j = 0; j < b.size(); ++j)
        if (!usedB[j]) pairs.emplace_back(SIZE_MAX, j);
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

long RecordOf(const Difference& d) { return d.a ? d.a->record : d.b->record; }

std::string Line(char mark, const char* side, const TraceEvent* event) {
    return std::string("  ") + mark + " " + side + " [" + std::to_string(event->record) + "] " + event->text + "\n";
}

std::string Plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool AddIgnored(const std::string& list, CompareOptions* options, std::string* error) {
    static const std::set<std::string> kFields = {"in", "out", "results", "instances", "loads", "reports"};
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.empty()) {
            *error = "--ignore needs names separated by commas: fields (in, out, results, instances, loads, "
                     "reports) or methods (Release, IUnknown::Release)";
            return false;
        }
        (kFields.count(item) ? options->fields : options->methods).insert(item);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

size_t ComparableTrace::events() const {
    size_t n = 0;
    for (const Stream& s : streams_) n += s.events.size();
    return n;
}

ComparableTrace::Stream& ComparableTrace::StreamOf(const TraceRecord& record) {
    auto process = processes_.emplace(record.process, processes_.size() + 1).first->second;
    auto [it, added] = threads_.emplace(std::make_pair(record.process, record.thread), streams_.size());
    if (added) {
        size_t thread = 1;
        for (const Stream& s : streams_) thread += s.process == process;
        streams_.push_back({process, thread, {}});
    }
    return streams_[it->second];
}

// Numbered in the thread that shows the instance first: threads that create
// objects at the same time do so in either order from run to run.
long ComparableTrace::Instance(const TraceRecord& record) {
    if (options_.fields.count("instances") || record.instance == 0) return 0;
    auto [it, added] = instances_.emplace(std::make_tuple(record.process, record.className, record.instance), 0);
    if (added) {
        size_t stream = static_cast<size_t>(&StreamOf(record) - streams_.data());
        it->second = ++perThread_[{stream, record.className}];
    }
    return it->second;
}

void ComparableTrace::Add(const TraceRecord& record, const std::string& key, const std::string& outcome,
                          std::string text, bool call) {
    Stream& stream = StreamOf(record);
    stream.events.push_back({record.number, Hash(key), Hash(outcome), call, std::move(text)});
}

void ComparableTrace::Take(const TraceRecord& record) {
    std::string instance = std::to_string(Instance(record));
    std::string object = record.className + "(" + instance + ")";
    switch (record.kind) {
    case RecordKind::Enter: {
        bool ignored = options_.methods.count(record.method) ||
                       options_.methods.count(record.interfaceName + "::" + record.method);
        Stream& stream = StreamOf(record);
        if (ignored) {
            // Still paired, so that its EXIT is not taken for another call's.
            open_.push_back({record, SIZE_MAX, 0});
            return;
        }
        std::string in = options_.fields.count("in") ? std::string() : Values(record.parameters, false);
        std::string text = object + " " + record.interfaceName + "::" + record.method + "(" + in + ")";
        Add(record, "call|" + text, "", text, true);
        open_.push_back({record, static_cast<size_t>(&stream - streams_.data()), stream.events.size() - 1});
        ++calls_;
        return;
    }
    case RecordKind::Exit:
        for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
            if (Closes(record, it->enter)) {
                CloseCall(*it, &record);
                open_.erase(std::next(it).base());
                return;
            }
        }
        Add(record, "exit|" + record.serial, "", "an EXIT whose call is not in the trace (serial " + record.serial + ")",
            false);
        return;
    case RecordKind::Create:
    case RecordKind::Destroy: {
        if (options_.fields.count("instances")) return;
        bool create = record.kind == RecordKind::Create;
        std::string interfaces;
        for (const std::string& name : record.interfaces) interfaces += (interfaces.empty() ? "" : ", ") + name;
        // Live-instance counts depend on other threads' timing: shown, not compared.
        std::string count = record.instances ? std::to_string(*record.instances) : "?";
        std::string text = std::string(create ? "created " : "destroyed ") + object +
                           (create ? ", instances: " : ", remaining: ") + count +
                           (interfaces.empty() ? "" : (create ? ", supports " : ", queried ") + interfaces);
        Add(record, std::string(create ? "create|" : "destroy|") + object + "|" + interfaces, "", text, false);
        return;
    }
    case RecordKind::Load:
    case RecordKind::Unload: {
        if (options_.fields.count("loads")) return;
        bool load = record.kind == RecordKind::Load;
        std::string released = record.allReleased ? (*record.allReleased ? "all released" : "NOT all released") : "";
        Add(record, std::string(load ? "load|" : "unload|") + record.dll, released,
            std::string(load ? "loaded " : "unloaded ") + record.dll + (released.empty() ? "" : ", " + released), false);
        return;
    }
    case RecordKind::Report: {
        if (options_.fields.count("reports")) return;
        std::string body;
        for (size_t i = 1; i < record.lines.size(); ++i) body += record.lines[i] + "\n";
        Add(record, "report", body, "final report", false);
        return;
    }
    default: return;
    }
}

void ComparableTrace::CloseCall(Open& open, const TraceRecord* exit) {
    if (open.stream == SIZE_MAX) return;
    TraceEvent& event = streams_[open.stream].events[open.index];
    std::string outcome;
    if (!exit) {
        outcome = "no exit";
    } else if (!options_.fields.count("results")) {
        if (!options_.fields.count("out")) outcome = Values(exit->parameters, true);
        if (!exit->returnValue.empty()) outcome += (outcome.empty() ? "" : ", ") + ("returned " + exit->returnValue);
        if (exit->result) outcome += (outcome.empty() ? "" : ", ") + ResultText(*exit->result);
    }
    event.outcome = Hash(outcome);
    if (!outcome.empty()) event.text += " -> " + outcome;
}

void ComparableTrace::Finish() {
    for (Open& open : open_) CloseCall(open, nullptr);
    open_.clear();
}

Comparison Compare(const ComparableTrace& a, const ComparableTrace& b, size_t context) {
    Comparison result;
    result.callsA = a.calls();
    result.callsB = b.calls();
    result.eventsA = a.events();
    result.eventsB = b.events();
    static const std::vector<TraceEvent> kNone;
    std::vector<Difference> firstStream;
    size_t firstAt = SIZE_MAX;
    long firstRecord = 0;
    auto walk = [&](size_t process, size_t thread, const std::vector<TraceEvent>& ea, const std::vector<TraceEvent>& eb) {
        Ops ops = Align(ea, eb);
        std::vector<Difference> all;
        size_t i = 0, j = 0;
        auto add = [&](Change change, const TraceEvent* x, const TraceEvent* y) { all.push_back({change, process, thread, x, y}); };
        ops.matched.emplace_back(ea.size(), eb.size());
        for (auto [mi, mj] : ops.matched) {
            for (; i < mi; ++i) add(Change::OnlyInA, &ea[i], nullptr);
            for (; j < mj; ++j) add(Change::OnlyInB, nullptr, &eb[j]);
            if (mi == ea.size()) break;
            add(ea[mi].outcome == eb[mj].outcome ? Change::Same : Change::OtherOutcome, &ea[mi], &eb[mj]);
            i = mi + 1;
            j = mj + 1;
        }
        for (size_t at = 0; at < all.size(); ++at) {
            const Difference& d = all[at];
            if (d.change == Change::Same) continue;
            result.equal = false;
            (d.change == Change::OnlyInA ? result.onlyInA : d.change == Change::OnlyInB ? result.onlyInB
                                                                                        : result.otherOutcome)++;
            result.differences.push_back(d);
            if (firstAt == SIZE_MAX || RecordOf(d) < firstRecord) {
                firstRecord = RecordOf(d);
                firstAt = at;
                firstStream = all;
            }
        }
    };
    for (auto [ia, ib] : PairThreads(a.streams(), b.streams())) {
        const auto* sa = ia == SIZE_MAX ? nullptr : &a.streams()[ia];
        const auto* sb = ib == SIZE_MAX ? nullptr : &b.streams()[ib];
        const auto& where = sa ? *sa : *sb;
        walk(where.process, where.thread, sa ? sa->events : kNone, sb ? sb->events : kNone);
    }
    if (firstAt != SIZE_MAX) {
        size_t from = firstAt > context ? firstAt - context : 0;
        size_t to = std::min(firstStream.size(), firstAt + context + 1);
        result.around.assign(firstStream.begin() + static_cast<ptrdiff_t>(from),
                             firstStream.begin() + static_cast<ptrdiff_t>(to));
        result.first = firstAt - from;
    }
    return result;
}

std::string ComparisonReport(const Comparison& c) {
    std::string totals = Plural(c.callsA, "call", "calls") + " in A, " + std::to_string(c.callsB) + " in B";
    if (c.equal) return "the traces match: " + Plural(c.callsA, "call", "calls") + " and " +
                        Plural(c.eventsA - c.callsA, "other event", "other events") + "\n";
    const Difference& first = c.around[c.first];
    // A call with other in-values is one event only in A and one only in B:
    // shown together, they name what changed.
    const TraceEvent* a = first.a;
    const TraceEvent* b = first.b;
    if (c.first + 1 < c.around.size()) {
        const Difference& next = c.around[c.first + 1];
        if (!a && next.change == Change::OnlyInA) a = next.a;
        if (!b && next.change == Change::OnlyInB) b = next.b;
    }
    std::string text = "the traces differ; the first difference, in process " + std::to_string(first.process) +
                       ", thread " + std::to_string(first.thread) + ":\n";
    text += a ? Line(' ', "A", a) : "    A has nothing here\n";
    text += b ? Line(' ', "B", b) : "    B has nothing here\n";
    text += "in order, with what surrounds it (= same, - only in A, + only in B, ~ other results):\n";
    for (const Difference& d : c.around) {
        char mark = static_cast<char>(d.change);
        if (d.change == Change::OtherOutcome) {
            text += Line(mark, "A", d.a);
            text += Line(mark, "B", d.b);
        } else {
            text += Line(mark, d.a ? "A" : "B", d.a ? d.a : d.b);
        }
    }
    text += "summary: " + Plural(c.onlyInA, "event", "events") + " only in A, " + std::to_string(c.onlyInB) +
            " only in B, " + Plural(c.otherOutcome, "call", "calls") + " with other results; " + totals + "\n";
    return text;
}

}  // namespace vx
