#include "commandgate.h"

namespace shell {

bool CommandGate::Arrive(bool waits, const WaitingCommand& message) {
    if (running_ == 0 || !waits) return true;
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
