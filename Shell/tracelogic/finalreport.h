// The final report: objects created and still alive per process, thread and
// class, computed afresh from the view's CREATE and DESTROY records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tracerecords.h"

namespace shell {

// One node of the report pane, added as the last child of ParentKey (top
// level when empty) and shown expanded.
struct ReportNode {
    std::string Key;
    std::string ParentKey;
    std::string Text;
};

// The command line of the first LOAD record of the process; "" for none.
std::string FindProcessCommandLine(const TraceRecords& records, uint32_t pid);

// The report's nodes in insertion order, the counters with their final
// counts. Empty when the view has no CREATE or DESTROY record.
// A class whose first record in a thread is a destruction (created before the
// trace or in another thread) starts at 0 created and 0 undestroyed, and the
// undestroyed count never falls below 0.
std::vector<ReportNode> BuildFinalReportView(const TraceRecords& records);

}  // namespace shell
