// Reading a record's text back into its parts. The record texts are the
// kernel's; this follows them line by line and keeps what it cannot place.
#include "tracerecord.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace vx {
namespace {

bool StartsWith(const std::string& text, const char* prefix, size_t at = 0) {
    return text.compare(at, std::strlen(prefix), prefix) == 0;
}

std::string After(const std::string& line, const char* prefix) { return line.substr(std::strlen(prefix)); }

size_t Indent(const std::string& line) {
    size_t n = line.find_first_not_of(' ');
    return n == std::string::npos ? line.size() : n;
}

void TrimRight(std::string* text) {
    while (!text->empty() && (text->back() == ' ' || text->back() == '\n')) text->pop_back();
}

// The full trace starts each line with "[<thread>] ".
std::string WithoutThreadPrefix(const std::string& line) {
    if (line.size() < 3 || line[0] != '[') return line;
    size_t close = line.find("] ");
    if (close == std::string::npos || close < 2) return line;
    for (size_t i = 1; i < close; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(line[i]))) return line;
    return line.substr(close + 2);
}

// " TID=1a4h PID=2f0h [12]" at the end of a record's first line.
void ReadHeader(const std::string& line, TraceRecord* record) {
    size_t tid = line.rfind(" TID=");
    if (tid == std::string::npos) return;
    record->thread = static_cast<uint32_t>(std::strtoul(line.c_str() + tid + 5, nullptr, 16));
    size_t pid = line.find("PID=", tid);
    if (pid != std::string::npos) record->process = static_cast<uint32_t>(std::strtoul(line.c_str() + pid + 4, nullptr, 16));
    size_t open = line.find('[', tid);
    if (open != std::string::npos) record->number = std::atol(line.c_str() + open + 1);
}

std::string SerialOf(const std::string& line) {
    size_t colon = line.find(": ");
    if (colon == std::string::npos) return {};
    size_t end = line.find(' ', colon + 2);
    return line.substr(colon + 2, end == std::string::npos ? std::string::npos : end - colon - 2);
}

// "Class: <name> (instance# <n>)", possibly followed by a note.
void ReadClass(const std::string& line, TraceRecord* record) {
    size_t open = line.rfind(" (instance# ");
    if (open == std::string::npos) return;
    record->className = line.substr(7, open - 7);
    record->instance = std::atol(line.c_str() + open + 12);
    record->alreadyDestroyed = line.find("It is already destroied !!!", open) != std::string::npos;
}

// "ptr=21fafch  *ptr=5 (5h)" and the like: the pointers apart, then the value.
void ReadValue(std::string text, Parameter* p) {
    auto skipBlanks = [&text] {
        size_t first = text.find_first_not_of(' ');
        text.erase(0, first == std::string::npos ? text.size() : first);
    };
    skipBlanks();
    const char* labels[] = {"ptr=", "*ptr=", "**ptr="};
    for (int level = 0; level < 2 && StartsWith(text, labels[level]); ++level) {
        size_t start = std::strlen(labels[level]);
        size_t end = text.find_first_of(" \n", start);
        std::string word = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        // "*ptr=" is a pointer only when a deeper label follows it.
        if (level == 1 && text.find(labels[2]) == std::string::npos) break;
        if (word == "NULL") break;
        p->pointers.push_back(word);
        text.erase(0, end == std::string::npos ? text.size() : end);
        skipBlanks();
    }
    for (const char* label : {"**ptr", "*ptr"}) {
        if (StartsWith(text, label)) {
            text.erase(0, std::strlen(label));
            break;
        }
    }
    if (!text.empty() && text[0] == '=') text.erase(0, 1);
    text.erase(0, std::min(text.size(), text.find_first_not_of(" \n")));
    TrimRight(&text);
    p->value = std::move(text);
}

// One parameter from its lines: "[flags]  name<value>  (TYPE)" closed by
// "," or " );", a member or element list in between.
Parameter ReadParameter(const std::vector<std::string>& lines) {
    std::string text = lines[0].substr(Indent(lines[0]));
    for (size_t i = 1; i < lines.size(); ++i) text += "\n" + lines[i].substr(std::min(Indent(lines[i]), size_t{21}));
    TrimRight(&text);
    if (text.size() >= 3 && text.compare(text.size() - 3, 3, " );") == 0) text.resize(text.size() - 3);
    else if (!text.empty() && text.back() == ',') text.pop_back();
    Parameter p;
    size_t close = text.find(']');
    if (close == std::string::npos) return p;
    p.direction = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    size_t type = rest.rfind("  (");
    if (type != std::string::npos && !rest.empty() && rest.back() == ')') {
        p.type = rest.substr(type + 3, rest.size() - type - 4);
        rest.resize(type);
    }
    if (rest.size() > 2 && StartsWith(rest, "  ") && rest[2] != ' ') {
        size_t end = rest.find_first_of("= \n", 2);
        p.name = rest.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        rest.erase(0, end == std::string::npos ? rest.size() : end);
    }
    ReadValue(rest, &p);
    return p;
}

void ReadCall(const std::vector<std::string>& lines, size_t from, TraceRecord* record) {
    std::vector<std::string> parameter;
    auto flush = [&] {
        if (!parameter.empty()) record->parameters.push_back(ReadParameter(parameter));
        parameter.clear();
    };
    for (size_t i = from; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::string text = line.substr(Indent(line));
        if (std::optional<int32_t> hr = ResultOfLine(line)) {
            flush();
            record->result = hr;
        } else if (StartsWith(text, "Return value = ")) {
            flush();
            std::string value = After(text, "Return value = ");
            size_t type = value.rfind("  (");
            record->returnValue = value.substr(0, type);
        } else if (Indent(line) == 15 && StartsWith(text, "[")) {
            flush();
            parameter.push_back(line);
        } else if (!parameter.empty()) {
            parameter.push_back(line);
        }
    }
    flush();
}

void ReadEnter(const std::vector<std::string>& lines, TraceRecord* record) {
    size_t i = 1;
    for (; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (StartsWith(line, "Class: ")) {
            ReadClass(line, record);
        } else if (StartsWith(line, "Interface: ")) {
            std::string name = After(line, "Interface: ");
            for (const char* kind : {"custom", "dual", "disp"}) {
                std::string suffix = std::string(" (") + kind + ")";
                if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                    record->interfaceKind = kind;
                    name.resize(name.size() - suffix.size());
                }
            }
            record->interfaceName = name;
        } else if (line == "Method is beyond Vtable") {
            record->beyondTable = true;
        } else if (StartsWith(line, "Method: ")) {
            // "Method: VT_HRESULT Add (", or "Method: VT_UI4 Release ( );"
            std::string text = After(line, "Method: ");
            size_t open = text.rfind(" (");
            std::string head = text.substr(0, open);
            size_t blank = head.rfind(' ');
            record->returnType = blank == std::string::npos ? std::string() : head.substr(0, blank);
            record->method = head.substr(blank == std::string::npos ? 0 : blank + 1);
            ++i;
            break;
        }
    }
    ReadCall(lines, i, record);
}

// "Supported interfaces: A" with one further name a line, or "Queried
// interfaces:" with one a line.
void ReadInterfaces(const std::vector<std::string>& lines, size_t from, TraceRecord* record) {
    for (size_t i = from; i < lines.size(); ++i) {
        std::string name = lines[i].substr(Indent(lines[i]));
        TrimRight(&name);
        if (!name.empty()) record->interfaces.push_back(name);
    }
}

void ReadInstance(const std::vector<std::string>& lines, TraceRecord* record) {
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (StartsWith(line, "Class: ")) {
            ReadClass(line, record);
        } else if (StartsWith(line, "Total instances: ") || StartsWith(line, "Remaining instances: ")) {
            record->instances = std::atol(line.c_str() + line.find(": ") + 2);
        } else if (StartsWith(line, "Supported interfaces: ")) {
            std::vector<std::string> rest(lines.begin() + static_cast<ptrdiff_t>(i), lines.end());
            rest[0] = After(rest[0], "Supported interfaces: ");
            ReadInterfaces(rest, 0, record);
            return;
        } else if (line == "Queried interfaces:") {
            ReadInterfaces(lines, i + 1, record);
            return;
        }
    }
}

void ReadModule(const std::vector<std::string>& lines, TraceRecord* record) {
    const std::string& first = lines[0];
    size_t colon = first.find(": ");
    size_t end = first.find(" =========", colon == std::string::npos ? 0 : colon);
    if (colon != std::string::npos) record->dll = first.substr(colon + 2, end == std::string::npos ? end : end - colon - 2);
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (StartsWith(line, "Time: ")) record->time = After(line, "Time: ");
        else if (StartsWith(line, "DLL's path: ")) record->path = After(line, "DLL's path: ");
        else if (StartsWith(line, "Host process's command line: "))
            record->commandLine = After(line, "Host process's command line: ");
        else if (line == "All interface pointers were released") record->allReleased = true;
        else if (line == "NOT all interface pointers were released") record->allReleased = false;
    }
}

RecordKind KindOf(const std::string& first) {
    if (StartsWith(first, "*** ")) return RecordKind::Enter;
    if (StartsWith(first, "   *")) return RecordKind::Exit;
    if (StartsWith(first, "--- ")) return first.size() > 4 && first[4] == 'C' ? RecordKind::Create : RecordKind::Destroy;
    if (StartsWith(first, "<<<<")) return first.size() > 14 && first[14] == 'F' ? RecordKind::Report : RecordKind::ReportEnd;
    if (StartsWith(first, "====")) return first.size() > 10 && first[10] == 'L' ? RecordKind::Load : RecordKind::Unload;
    return RecordKind::Other;
}

}  // namespace

const char* KindName(RecordKind kind) {
    switch (kind) {
    case RecordKind::Load: return "load";
    case RecordKind::Unload: return "unload";
    case RecordKind::Create: return "create";
    case RecordKind::Enter: return "enter";
    case RecordKind::Exit: return "exit";
    case RecordKind::Destroy: return "destroy";
    case RecordKind::Report: return "report";
    case RecordKind::ReportEnd: return "reportEnd";
    case RecordKind::Other: break;
    }
    return "other";
}

bool IsRecordStart(const std::string& line) {
    std::string text = WithoutThreadPrefix(line);
    return KindOf(text) != RecordKind::Other;
}

std::optional<int32_t> ResultOfLine(std::string_view line) {
    constexpr std::string_view kResult = "HRESULT = ";
    size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos || line.substr(first, kResult.size()) != kResult) return std::nullopt;
    // The number ends at the blank before "(<hex>h)": strtol needs no terminator then.
    return static_cast<int32_t>(std::strtol(line.data() + first + kResult.size(), nullptr, 10));
}

TraceRecord ParseRecord(std::vector<std::string> lines) {
    TraceRecord record;
    for (std::string& line : lines) line = WithoutThreadPrefix(line);
    if (lines.empty()) return record;
    record.kind = KindOf(lines[0]);
    ReadHeader(lines[0], &record);
    switch (record.kind) {
    case RecordKind::Enter:
        record.serial = SerialOf(lines[0]);
        ReadEnter(lines, &record);
        break;
    case RecordKind::Exit:
        record.serial = SerialOf(lines[0]);
        ReadCall(lines, 1, &record);
        break;
    case RecordKind::Create:
    case RecordKind::Destroy: ReadInstance(lines, &record); break;
    case RecordKind::Load:
    case RecordKind::Unload: ReadModule(lines, &record); break;
    default: break;
    }
    record.lines = std::move(lines);
    return record;
}

long CallPairing::Take(const TraceRecord& record) {
    if (record.kind == RecordKind::Enter) {
        // Its names and numbers are what an EXIT needs; not its text.
        TraceRecord& kept = pending_.emplace_back();
        kept.kind = record.kind;
        kept.number = record.number;
        kept.process = record.process;
        kept.thread = record.thread;
        kept.serial = record.serial;
        kept.className = record.className;
        kept.instance = record.instance;
        kept.interfaceName = record.interfaceName;
        kept.method = record.method;
        return 0;
    }
    if (record.kind != RecordKind::Exit) return 0;
    const TraceRecord* enter = PendingFor(record);
    if (!enter) return 0;
    long number = enter->number;
    pending_.erase(pending_.begin() + (enter - pending_.data()));
    return number;
}

const TraceRecord* CallPairing::PendingFor(const TraceRecord& exit) const {
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it)
        if (Closes(exit, *it)) return &*it;
    return nullptr;
}

}  // namespace vx
