// The commands of vxtrace; each returns the process exit code.
#pragma once

#include <string>
#include <vector>

#include "session.h"
#include "traceexport.h"
#include "tracediff.h"

namespace vxtrace {

int Hook(Session& session, const std::string& dll);
int Unhook(Session& session, const std::string& dll);
int List(Session& session);
int Classes(Session& session, const std::string& dll);
struct RunOptions {
    std::string outFile;                             // also saved there, in the saved-trace format
    vx::ExportFormat format = vx::ExportFormat::Text;  // what standard output gets
    std::string expect;                              // a golden trace the run must match
    vx::CompareOptions compare;                      // what the match leaves out
    std::vector<std::string> program;
};
int Run(Session& session, const RunOptions& options);
int Dump(Session& session, const std::string& traceFile);

// Puts the hooks of the module list back where a component registered itself
// again since it was hooked (as the main window does at start-up).
void ReapplyHooks(Session& session);

}  // namespace vxtrace
