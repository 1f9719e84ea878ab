// The window's one rule for re-entry. A command may pump messages (message
// boxes, dialogs, the nested pumps that keep the window painting), so other
// messages run in the middle of it. While one runs, a command that would
// change what it uses waits and runs after it, in the order the commands
// came; a close waits until nothing runs and then closes. Stop and the
// options that the trace side holds back by itself run at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace shell {

// A command message to send again: WM_COMMAND's two parameters.
struct WaitingCommand {
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

class CommandGate {
public:
    // At most this many commands wait; later ones are refused, as clicks on
    // a disabled button would be.
    static constexpr size_t kMostWaiting = 16;

    // A command arrives; `waits`: it must wait while another runs (the
    // window's routing table says which). True: run it now, between Enter
    // and Leave. False: it waits (or was refused) and is handed back by the
    // Leave that ends the last running command.
    bool Arrive(bool waits, const WaitingCommand& message);
    void Enter() { ++running_; }
    // The waiting commands once no command runs any more, in arrival order;
    // empty while one still runs.
    std::vector<WaitingCommand> Leave();
    bool Running() const { return running_ > 0; }

    // WM_CLOSE while something runs: remembered, and due once all is idle.
    void RequestClose() { closeRequested_ = true; }
    bool CloseRequested() const { return closeRequested_; }
    // True once when a requested close is due (`idle`: no command, poll or
    // reading runs); the window then posts itself WM_CLOSE.
    bool TakeDueClose(bool idle);

private:
    int running_ = 0;
    std::vector<WaitingCommand> waiting_;
    bool closeRequested_ = false;
};

}  // namespace shell
