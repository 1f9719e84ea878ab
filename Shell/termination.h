// Waiting at exit until the trace reader reports that its watcher has ended,
// with a bound: an exit never hangs.
#pragma once

#include <functional>

namespace shell {

constexpr unsigned long kTerminationWaitMs = 30000;

// Asks `completed` again and again, running `pump` between the asks, until it
// answers true or `boundMs` has passed on `now` (milliseconds). True when the
// reader reported completion.
bool WaitForTermination(const std::function<bool()>& completed, const std::function<void()>& pump,
                        const std::function<unsigned long()>& now, unsigned long boundMs = kTerminationWaitMs);

}  // namespace shell
