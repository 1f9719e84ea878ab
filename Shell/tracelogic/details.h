// Event details: the lines the right pane shows for a selected record, and
// the process and thread line shared with the final report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recinfo.h"
#include "tracerecords.h"

namespace shell {

// The line above a call's return values.
extern const char kReturnValuesSeparator[];

// Upper-case hexadecimal without leading zeros.
std::string Hex(uint32_t value);

// "ProcessID=1234(4D2h)  ThreadID=5678(162Eh)"; for a process id above 65536
// "ProcessID=FF<hex>h  ThreadID=FF<hex>h" (the form follows the process id).
std::string ProcessThreadLine(uint32_t pid, uint32_t tid);

// What the pane adds under an HRESULT line other than S_OK: the result's
// name, its facility and code, the system's text for it; a code without a
// name gets facility and code alone.
std::vector<std::string> ResultLines(int32_t hr);

// The right pane's lines for record `num`: the process and thread line, the
// record's lines after its header, and for a call that returned an empty
// line, the separator, an empty line and the EXIT's lines after its header
// with the result named (ResultLines).
// Empty for the final-report record and for a number without a record.
std::vector<std::string> EventDetailsLines(const TraceRecords& records, int32_t num, TraceReaderTexts& reader);

}  // namespace shell
