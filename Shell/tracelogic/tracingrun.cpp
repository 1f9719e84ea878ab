// Tracing run state and command states.
#include "tracingrun.h"

namespace shell {

void CommandState::Apply(const CommandChanges& c) {
    for (size_t i = 0; i < kTraceCommandCount; ++i)
        if (c.enabled[i]) enabled[i] = *c.enabled[i];
    if (c.runPressed) runPressed = *c.runPressed;
    if (c.runImage) runImage = *c.runImage;
    if (c.runTooltip) runTooltip = *c.runTooltip;
    if (c.leftTitle) leftTitle = *c.leftTitle;
    if (c.timer) timer = *c.timer;
}

void TracingRun::ShowWaiting(CommandChanges* c) const {
    c->Enable(TraceCommand::Stop, true);
    c->runImage = "Lamp";
    c->runTooltip = "Tracing in Progress";
    c->leftTitle = "Events (Tracing in Progress)";
}

RunStep TracingRun::StartOfProcess() {
    recordsSeen_ = false;
    noActiveReported_ = false;
    RunStep step;
    step.resetTraceView = true;
    for (TraceCommand c : {TraceCommand::Com, TraceCommand::Open, TraceCommand::Save, TraceCommand::Sett,
                           TraceCommand::Stop, TraceCommand::Final})
        step.commands.Enable(c, false);
    step.treeIsExpanded = true;  // a new process starts an empty, expanded view
    return step;
}

RunStep TracingRun::NoActiveProcess() {
    noActiveReported_ = true;
    RunStep step;
    ShowWaiting(&step.commands);
    return step;
}

RunStep TracingRun::EndOfProcess() {
    RunStep step;
    if (stopRequested_) return step;  // the stop sequence follows
    // Tracing started with no client running ends a run of nothing: a
    // report of it would stand alone in an empty view, and a client started
    // just after would seem to have ended before it began.
    if (recordsSeen_) {
        step.addFinalReport = true;
        step.commands.Enable(TraceCommand::Final, true);
    }
    // The first records of a process that ended between two polls arrive
    // after NoActiveProcess; whatever they disabled, the end re-enables.
    ShowWaiting(&step.commands);
    return step;
}

RunStep TracingRun::StartTracing() {
    RunStep step = StartOfProcess();
    step.commands.runPressed = true;
    ShowWaiting(&step.commands);
    stopRequested_ = false;
    step.commands.timer = true;
    return step;
}

bool TracingRun::BeginPoll() {
    if (pollBusy_) return false;
    pollBusy_ = true;
    return true;
}

PollDecision TracingRun::OnNewRecords(long recAmNew, long noRecordsBecauseLocked, size_t descriptors) {
    PollDecision d;
    if (noRecordsBecauseLocked == 0) locked_ = false;
    if (stopRequested_) {
        d.action = PollAction::StopNow;
        return d;
    }
    if (recAmNew <= 0 && noRecordsBecauseLocked == 0) {
        d.otherReaderAttached = recAmNew == kOtherTraceReaderAttached;
        pollBusy_ = false;
        d.action = PollAction::Return;
        return d;
    }
    if (noRecordsBecauseLocked != 0) {
        d.action = PollAction::PollAgain;
        return d;
    }
    if (descriptors == 0) {
        d.readerFault = true;
        pollBusy_ = false;
        d.action = PollAction::Return;
        return d;
    }
    d.action = PollAction::TakeBatch;
    if (!recordsSeen_) {
        recordsSeen_ = true;
        // While a process runs it cannot be stopped; once the reader said no
        // process is active, its late records must not take Stop away.
        if (!noActiveReported_) d.commands.Enable(TraceCommand::Stop, false);
    }
    return d;
}

void TracingRun::AbandonPoll() {
    pollBusy_ = false;
    treeUpdateInProgress_ = false;
    locked_ = false;
}

unsigned long TracingRun::LockedPauseMs(unsigned long nowMs) {
    if (!locked_) {
        locked_ = true;
        lockedSince_ = nowMs;
    }
    return nowMs - lockedSince_ < kLockedYieldMs ? 0 : kLockedPauseMs;
}

RunStep TracingRun::StopSequence() {
    RunStep step;
    step.commands.timer = false;
    stopRequested_ = false;
    step.disableGettingRecords = recordsSeen_;
    CommandChanges& c = step.commands;
    c.runPressed = false;
    c.runImage = "Run";
    c.runTooltip = "Start Tracing";
    for (TraceCommand command : {TraceCommand::Run, TraceCommand::Com, TraceCommand::Open, TraceCommand::Save,
                                 TraceCommand::Sett})
        c.Enable(command, true);
    c.Enable(TraceCommand::Stop, false);
    c.leftTitle = "Events";
    pollBusy_ = false;
    return step;
}

bool TracingRun::RunOptionNow(OptionCommand command) {
    bool& flag = deferred_[static_cast<size_t>(command)];
    if (flag) return false;
    if (treeUpdateInProgress_) {
        flag = true;
        return false;
    }
    return true;
}

std::optional<OptionCommand> TracingRun::TakeDeferredOption() {
    for (size_t i = 0; i < kOptionCommandCount; ++i) {
        if (deferred_[i]) {
            deferred_[i] = false;
            return static_cast<OptionCommand>(i);
        }
    }
    return std::nullopt;
}

bool TracingRun::SetsToolbarDispatch(OptionCommand command) {
    return command == OptionCommand::Autoscroll || command == OptionCommand::ShowIUnknown ||
           command == OptionCommand::ShowIDispatch;
}

RunStep TracingRun::BeginTraceFile() {
    RunStep step = StartOfProcess();
    step.commands.Enable(TraceCommand::Stop, true);  // the reading can be cut short
    step.commands.timer = false;
    stopRequested_ = false;
    step.treeIsExpanded = false;  // a file's tree is built collapsed
    return step;
}

RunStep TracingRun::EndTraceFile(bool reachedEnd) {
    RunStep step;
    if (reachedEnd && !stopRequested_) {
        step.addFinalReport = true;
        step.commands.Enable(TraceCommand::Final, true);
    }
    for (TraceCommand c : {TraceCommand::Com, TraceCommand::Open, TraceCommand::Save, TraceCommand::Sett,
                           TraceCommand::Run})
        step.commands.Enable(c, true);
    step.commands.Enable(TraceCommand::Stop, false);
    stopRequested_ = false;
    return step;
}

}  // namespace shell
