// The commands of vxtrace; each returns the process exit code.
#pragma once

#include <string>
#include <vector>

#include "session.h"

namespace vxtrace {

int Hook(Session& session, const std::string& dll);
int Unhook(Session& session, const std::string& dll);
int List(Session& session);
int Classes(Session& session, const std::string& dll);
int Run(Session& session, const std::string& outFile, const std::vector<std::string>& command);
int Dump(Session& session, const std::string& traceFile);

// Puts the hooks of the module list back where a component registered itself
// again since it was hooked (as the main window does at start-up).
void ReapplyHooks(Session& session);

}  // namespace vxtrace
