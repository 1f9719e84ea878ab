#include "commandgate.h"

#include "commands.h"

namespace shell {

bool CommandGate::WaitsForRunningCommand(int command) {
    switch (command) {
    case mnuComponentList:
    case mnuComponentHookUnhook:
    case mnuHookUnhook:
    case mnuComponentViewTypeLib:
    case mnuViewTypeLib:
    case mnuTracingStart:
    case mnuTraceFileOpen:
    case mnuTraceFileSave:
    case mnuEditFinal:
    case mnuOptionsSettings:
    case mnuEditFont:
    case mnuHelpAbout:
        return true;
    default:
        return false;
    }
}

bool CommandGate::Arrive(int command, const WaitingCommand& message) {
    if (running_ == 0 || !WaitsForRunningCommand(command)) return true;
    if (waiting_.size() < kMostWaiting) waiting_.push_back(message);
    return false;
}

std::vector<WaitingCommand> CommandGate::Leave() {
    if (running_ > 0) --running_;
    std::vector<WaitingCommand> due;
    if (running_ == 0) due.swap(waiting_);
    return due;
}

bool CommandGate::TakeDueClose(bool idle) {
    if (!closeRequested_ || !idle || running_ > 0) return false;
    closeRequested_ = false;
    return true;
}

}  // namespace shell
