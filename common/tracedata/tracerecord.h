// One trace record as data: its kind, numbers and names, and each parameter
// with its direction, name, type and value (pointers followed to it kept
// apart), read from the record's text lines. vxtrace's exports and compare
// and the window's export read records through it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

enum class RecordKind { Load, Unload, Create, Enter, Exit, Destroy, Report, ReportEnd, Other };

// "load", "unload", "create", "enter", "exit", "destroy", "report", "reportEnd", "other".
const char* KindName(RecordKind kind);

struct Parameter {
    std::string direction;              // the flags as written: "in", "out,retval", "in,out"; "" for none
    std::string name;                   // "" for a method's own return value
    std::string type;                   // "VT_I4", "VT_POINTER VT_BSTR"
    std::vector<std::string> pointers;  // "21fafch": the pointers followed to the value, outer first
    std::string value;                  // the value (the pointee when pointers were followed); members and
                                        // elements one per line; "" when the record shows none
};

struct TraceRecord {
    RecordKind kind = RecordKind::Other;
    long number = 0;
    uint32_t process = 0, thread = 0;
    std::string serial;  // ENTER, EXIT: "<thunk>.<slot>"
    // ENTER, CREATE, DESTROY
    std::string className;
    long instance = 0;
    // ENTER
    std::string interfaceName, interfaceKind;  // kind: "custom", "dual", "disp" or ""
    std::string method, returnType;
    bool alreadyDestroyed = false;
    bool beyondTable = false;  // "Method is beyond Vtable": no method description
    // ENTER: the parameters and their in-values; EXIT: the out-values
    std::vector<Parameter> parameters;
    // EXIT
    std::optional<int32_t> result;    // the HRESULT line
    std::string returnValue;          // "Return value = ..." of AddRef and Release: "1 (1h)"
    // CREATE: total instances; DESTROY: remaining instances
    std::optional<long> instances;
    std::vector<std::string> interfaces;  // CREATE: supported; DESTROY: queried, with their notes
    // LOAD, UNLOAD
    std::string dll, time, path, commandLine;
    std::optional<bool> allReleased;  // UNLOAD
    // The record's lines as read (the full trace's thread prefix removed).
    std::vector<std::string> lines;
};

// Reads a record from its lines, first line first. Lines it does not know
// stay in `lines` only.
TraceRecord ParseRecord(std::vector<std::string> lines);

// Whether a line opens a record.
bool IsRecordStart(const std::string& line);

// The result of an EXIT's "HRESULT = <decimal> (<hex>h)" line, after its
// indentation; nothing for any other line.
std::optional<int32_t> ResultOfLine(std::string_view line);

// Whether the EXIT can close the ENTER: the same method table slot, thread
// and process.
inline bool Closes(const TraceRecord& exit, const TraceRecord& enter) {
    return enter.serial == exit.serial && enter.thread == exit.thread && enter.process == exit.process;
}

// Pairs each EXIT with its ENTER: the newest pending call of the same method
// table slot, thread and process (a nested re-entry returns first).
class CallPairing {
public:
    // ENTER: remembered, 0 returned. EXIT: the ENTER's record number, 0 when
    // none is pending. Other kinds: 0.
    long Take(const TraceRecord& record);
    // The pending ENTER an EXIT would close, or null; not taken.
    const TraceRecord* PendingFor(const TraceRecord& exit) const;
    // ENTERs whose EXIT never came, oldest first.
    const std::vector<TraceRecord>& pending() const { return pending_; }

private:
    std::vector<TraceRecord> pending_;
};

}  // namespace vx
