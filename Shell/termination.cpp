#include "termination.h"

namespace shell {

bool WaitForTermination(const std::function<bool()>& completed, const std::function<void()>& pump,
                        const std::function<unsigned long()>& now, unsigned long boundMs) {
    unsigned long start = now();
    for (;;) {
        if (completed()) {
            // The watcher's last hold on the reader goes with a posted message.
            pump();
            return true;
        }
        if (now() - start >= boundMs) return false;
        pump();
    }
}

}  // namespace shell
