// The two export formats. Field names are part of the format: README
// documents them, and tools downstream rely on them staying.
#include "traceexport.h"

#include <windows.h>

#include <deque>
#include <nlohmann/json.hpp>

#include "resultnames.h"

namespace vx {
namespace {

using json = nlohmann::ordered_json;

void Put(json& object, const char* field, const std::string& text) {
    if (!text.empty()) object[field] = Utf8FromAnsi(text);
}

json ParameterJson(const Parameter& p) {
    json object = {{"direction", p.direction}, {"name", Utf8FromAnsi(p.name)}, {"type", p.type}};
    if (!p.pointers.empty()) object["pointers"] = p.pointers;
    Put(object, "value", p.value);
    return object;
}

void PutCall(json& object, const TraceRecord& call) {
    Put(object, "class", call.className);
    if (call.instance) object["instance"] = call.instance;
    Put(object, "interface", call.interfaceName);
    Put(object, "method", call.method);
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// The text after a record's first line, for the records kept as lines.
json BodyLines(const TraceRecord& record) {
    json lines = json::array();
    for (size_t i = 1; i < record.lines.size(); ++i) lines.push_back(Utf8FromAnsi(record.lines[i]));
    return lines;
}

class JsonLinesExporter final : public RecordExporter {
public:
    explicit JsonLinesExporter(Out out) : out_(std::move(out)) {}
    void Take(const TraceRecord& record) override {
        const TraceRecord* call = record.kind == RecordKind::Exit ? pairing_.PendingFor(record) : nullptr;
        std::string line = RecordJson(record, call ? call->number : 0, call);
        pairing_.Take(record);
        out_(line + "\n");
    }
    void Finish() override {}

private:
    Out out_;
    CallPairing pairing_;
};

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled. Values' member lines are joined by blanks: one row a line.
std::string CsvField(std::string text) {
    for (char& c : text)
        if (c == '\n') c = ' ';
    text = Utf8FromAnsi(text);
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string ParameterList(const std::vector<Parameter>& parameters) {
    std::string list;
    for (const Parameter& p : parameters) {
        if (p.value.empty()) continue;
        if (!list.empty()) list += "; ";
        list += (p.name.empty() ? std::string("[") + p.direction + "]" : p.name) + "=" + p.value;
    }
    return list;
}

class CsvExporter final : public RecordExporter {
public:
    explicit CsvExporter(Out out) : out_(std::move(out)) {
        out_("record,kind,pid,tid,class,instance,interface,method,parameters,out,hresult,result,return,exit,dll\n");
    }
    void Take(const TraceRecord& record) override {
        switch (record.kind) {
        case RecordKind::Enter: rows_.push_back({record, {}, false}); break;
        case RecordKind::Exit: Close(record); break;
        case RecordKind::Report:
        case RecordKind::ReportEnd:
        case RecordKind::Other: return;
        default: rows_.push_back({record, {}, true}); break;
        }
        // Rows go out in ENTER order, each once its call has returned; a call
        // that never returns holds back no more than a bounded number.
        while (!rows_.empty() && (rows_.front().done || rows_.size() > kMostWaiting)) {
            Write(rows_.front());
            rows_.pop_front();
        }
    }
    void Finish() override {
        for (const Row& row : rows_) Write(row);
        rows_.clear();
    }

private:
    struct Row {
        TraceRecord record;
        TraceRecord exit;
        bool done;
    };
    void Close(const TraceRecord& exit) {
        for (auto it = rows_.rbegin(); it != rows_.rend(); ++it) {
            const TraceRecord& enter = it->record;
            if (!it->done && enter.kind == RecordKind::Enter && Closes(exit, enter)) {
                it->exit = exit;
                it->done = true;
                return;
            }
        }
    }
    void Write(const Row& row) {
        const TraceRecord& r = row.record;
        const TraceRecord& x = row.exit;
        bool call = r.kind == RecordKind::Enter;
        std::string line = std::to_string(r.number) + "," + (call ? "call" : KindName(r.kind)) + "," +
                           std::to_string(r.process) + "," + std::to_string(r.thread) + "," + CsvField(r.className) +
                           "," + (r.instance ? std::to_string(r.instance) : "") + "," + CsvField(r.interfaceName) +
                           "," + CsvField(r.method) + "," + CsvField(ParameterList(r.parameters)) + "," +
                           CsvField(ParameterList(x.parameters)) + ",";
        if (x.result) line += Hex(static_cast<uint32_t>(*x.result)) + "," + ResultName(*x.result);
        else line += ",";
        line += "," + CsvField(x.returnValue) + "," + (x.number ? std::to_string(x.number) : "") + "," +
                CsvField(r.dll) + "\n";
        out_(line);
    }

    static constexpr size_t kMostWaiting = 100000;
    Out out_;
    std::deque<Row> rows_;
};

}  // namespace

bool ExportFormatNamed(const std::string& name, ExportFormat* format) {
    if (name == "text") *format = ExportFormat::Text;
    else if (name == "jsonl") *format = ExportFormat::JsonLines;
    else if (name == "csv") *format = ExportFormat::Csv;
    else return false;
    return true;
}

std::unique_ptr<RecordExporter> MakeExporter(ExportFormat format, RecordExporter::Out out) {
    switch (format) {
    case ExportFormat::JsonLines: return std::make_unique<JsonLinesExporter>(std::move(out));
    case ExportFormat::Csv: return std::make_unique<CsvExporter>(std::move(out));
    case ExportFormat::Text: break;
    }
    return nullptr;
}

std::string RecordJson(const TraceRecord& record, long enter, const TraceRecord* call) {
    json object = {{"record", record.number}, {"kind", KindName(record.kind)}, {"pid", record.process},
                   {"tid", record.thread}};
    switch (record.kind) {
    case RecordKind::Enter:
        object["serial"] = record.serial;
        PutCall(object, record);
        Put(object, "interfaceKind", record.interfaceKind);
        Put(object, "returnType", record.returnType);
        if (record.alreadyDestroyed) object["alreadyDestroyed"] = true;
        if (record.beyondTable) object["beyondVtable"] = true;
        break;
    case RecordKind::Exit:
        object["serial"] = record.serial;
        object["enter"] = enter ? json(enter) : json(nullptr);
        if (call) PutCall(object, *call);
        if (record.result) {
            object["hresult"] = *record.result;
            object["hresultHex"] = Hex(static_cast<uint32_t>(*record.result));
            object["failed"] = ResultFailed(*record.result);
            Put(object, "result", ResultName(*record.result));
        }
        Put(object, "returnValue", record.returnValue);
        break;
    case RecordKind::Create:
    case RecordKind::Destroy:
        PutCall(object, record);
        if (record.instances) object[record.kind == RecordKind::Create ? "total" : "remaining"] = *record.instances;
        object["interfaces"] = json::array();
        for (const std::string& name : record.interfaces) object["interfaces"].push_back(Utf8FromAnsi(name));
        break;
    case RecordKind::Load:
    case RecordKind::Unload:
        Put(object, "dll", record.dll);
        Put(object, "time", record.time);
        Put(object, "path", record.path);
        Put(object, "commandLine", record.commandLine);
        if (record.allReleased) object["allReleased"] = *record.allReleased;
        break;
    default: object["lines"] = BodyLines(record); break;
    }
    if (record.kind == RecordKind::Enter || record.kind == RecordKind::Exit) {
        json parameters = json::array();
        for (const Parameter& p : record.parameters) parameters.push_back(ParameterJson(p));
        object["params"] = std::move(parameters);
    }
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Utf8FromAnsi(const std::string& text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return text;
    int wide = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
    int size = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

}  // namespace vx
