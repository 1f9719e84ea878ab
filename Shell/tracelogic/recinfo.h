// One record of the main window's trace view (`RecInfo`), how it is read from
// the trace reader's 20-byte descriptors, and the few trace-reader calls the
// window's trace logic needs. The window implements `TraceReaderTexts` over
// ITraceReader; the tests implement it over a table.
#pragma once

// First, so that GetClassName is renamed alike (to GetClassNameA) wherever
// this interface is declared, implemented or called.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "recorddescriptor.h"

namespace shell {

// RECORD_TYPE values of the reader, and the window's own final-report record.
enum RecType : uint32_t {
    kRecordEnter = vx::kRecordEnter,
    kRecordExit = vx::kRecordExit,
    kRecordCreate = vx::kRecordCreate,
    kRecordDestroy = vx::kRecordDestroy,
    kRecordLoad = vx::kRecordLoad,
    kRecordUnload = vx::kRecordUnload,
    kRecordFinStart = vx::kRecordFinStart,
    kRecordFinEnd = vx::kRecordFinEnd,
    kRecordFinalReport = 200,
};

// `Num` of the final-report record; its node key is "N_2147483647".
constexpr int32_t FinalReportNum = 2147483647;
constexpr size_t kDescriptorSize = sizeof(vx::RecordDescriptor);

// One record of the trace view. Numbers are those of the record's descriptor,
// its arrival and its pairing; names are fetched per record type.
struct RecInfo {
    std::string MethodName;  // ENTER: method; LOAD: host process's command line
    std::string ClassName;   // ENTER, CREATE, DESTROY: class; LOAD, UNLOAD: DLL short name
    int32_t Parent = 0;      // Num of the pending call of its thread (or, nested by arrival, of any) when it came
    uint32_t Pointer = 0;    // RecPtr of the record's text
    uint32_t MethodNum = 0;  // slot of the method in its interface
    int32_t Patch = 0;       // first serial number of a call or exit
    int32_t Num = 0;         // 1, 2, 3 ... in arrival order; FinalReportNum for the report
    int32_t InstanceNum = 0;
    uint32_t RecType = 0;
    int32_t EnterForExit = 0;  // EXIT: Num of its ENTER
    int32_t ExitForEnter = 0;  // ENTER: Num of its EXIT, 0 while pending
    bool Visible = false;      // has a node in the trace tree
    uint32_t TID = 0;          // low 24 bits
    uint32_t PID = 0;          // low 24 bits
    // ENTER: its EXIT's HRESULT, once that has come with one.
    int32_t Result = 0;
    bool HasResult = false;
    bool FilteredOut = false;        // the filter hides it
    bool InsideFilteredOut = false;  // it ran inside a call the filter hides
    bool InterfaceKnown = false;     // InterfaceName read (when a filter rule needs it)
    std::string InterfaceName;
};

// Fills RecType, Patch, MethodNum, Pointer, TID and PID from one descriptor.
// The top byte of the thread and process ids is dropped.
void DecodeDescriptor(const uint8_t* descriptor, RecInfo* record);

// Where diagnostic lines go (the reader's Diagn).
class DiagnosticSink {
public:
    virtual void Diagn(const std::string& line) = 0;

protected:
    ~DiagnosticSink() = default;
};

// The reader's record-text members. A failing call returns an empty string
// (and instance number 0): the field keeps its default and the record goes on.
class TraceReaderTexts : public DiagnosticSink {
public:
    virtual std::string GetMethodName(uint32_t recPtr) = 0;
    virtual std::string GetClassName(uint32_t recPtr, int32_t* instanceNum) = 0;
    virtual std::string GetDllShortName(uint32_t recPtr) = 0;
    virtual std::string GetProcessCommandLine(uint32_t recPtr) = 0;
    virtual std::string GetFirstRecordString(uint32_t recPtr) = 0;
    virtual std::string GetNextRecordString() = 0;

protected:
    ~TraceReaderTexts() = default;
};

}  // namespace shell
