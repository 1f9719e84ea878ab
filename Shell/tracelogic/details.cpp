// Event details lines.
#include "details.h"

#include <cstdio>
#include <iterator>

#include "resultnames.h"
#include "traceexchange.h"
#include "tracerecord.h"

namespace shell {

const char kReturnValuesSeparator[] = "----------- Return values --------------------------------------------";

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

std::string ProcessThreadLine(uint32_t pid, uint32_t tid) {
    if (pid > 65536) return "ProcessID=FF" + Hex(pid) + "h  ThreadID=FF" + Hex(tid) + "h";
    return "ProcessID=" + std::to_string(pid) + "(" + Hex(pid) + "h)  ThreadID=" + std::to_string(tid) + "(" +
           Hex(tid) + "h)";
}

namespace {

// The record's lines after its header line, which the pane shows in its own
// form (`header`, when given).
void AddRecordLines(uint32_t pointer, TraceReaderTexts& reader, const std::string* header,
                    std::vector<std::string>* lines) {
    std::vector<std::string> text = RecordTextLines(pointer, reader);
    if (header) lines->push_back(*header);
    for (size_t i = 1; i < text.size(); ++i) {
        lines->push_back(std::move(text[i]));
        std::optional<int32_t> hr = vx::ResultOfLine(lines->back());
        if (!hr || *hr == 0) continue;
        std::vector<std::string> named = ResultLines(*hr);
        lines->insert(lines->end(), named.begin(), named.end());
    }
}

}  // namespace

std::vector<std::string> ResultLines(int32_t hr) {
    const std::string indent(15, ' ');
    std::vector<std::string> lines;
    std::string name = vx::ResultName(hr);
    if (!name.empty()) lines.push_back(indent + "Name: " + name);
    unsigned facility = vx::ResultFacility(hr), code = vx::ResultCode(hr);
    lines.push_back(indent + "Facility: " + vx::FacilityName(facility) + " (" + std::to_string(facility) + "), code: " +
                    std::to_string(code) + " (" + Hex(code) + "h)");
    if (!name.empty()) {
        std::string message = vx::SystemMessage(hr);
        if (!message.empty()) lines.push_back(indent + "Message: " + message);
    }
    return lines;
}

std::vector<std::string> EventDetailsLines(const TraceRecords& records, int32_t num, TraceReaderTexts& reader) {
    std::vector<std::string> lines;
    const RecInfo* r = records.Record(num);
    if (!r || r->RecType == kRecordFinalReport) return lines;
    const std::string header = ProcessThreadLine(r->PID, r->TID);
    AddRecordLines(r->Pointer, reader, &header, &lines);
    if (r->ExitForEnter != 0) {
        if (const RecInfo* e = records.Record(r->ExitForEnter)) {
            lines.emplace_back();
            lines.emplace_back(kReturnValuesSeparator);
            lines.emplace_back();
            AddRecordLines(e->Pointer, reader, nullptr, &lines);
        }
    }
    return lines;
}

}  // namespace shell
