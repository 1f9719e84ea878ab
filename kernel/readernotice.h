// The reader's window hears of new records: at most one message in flight
// and one per interval; the latest number waits for the next record or the
// process's end.
#pragma once

#include <windows.h>

namespace korbin {

class ReaderNotice {
public:
    // Record `number` is written; `last`: the process's end, sent whatever
    // the interval.
    void Send(HWND reader, int number, bool last);
    // The number held back to keep within the interval, sent now.
    void Flush(HWND reader) {
        if (pending_) Send(reader, latest_, true);
    }

private:
    volatile LONG inFlight_ = 0;
    volatile LONG pending_ = 0;
    volatile LONG latest_ = 0;
    DWORD lastSent_ = 0;
    bool sentOnce_ = false;
};

}  // namespace korbin
