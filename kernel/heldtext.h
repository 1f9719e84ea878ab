// Record text held for a reader that takes the live trace in (pendingtext.h):
// the section, looked for at most once an interval, whether the reader that
// holds it still lives, and the text put in or written out through this
// writer's files. All of it under the map's lock word.
#pragma once

#include <windows.h>

#include "layout.h"
#include "pendingtext.h"
#include "raii.h"
#include "streamfiles.h"

namespace korbin {

enum class Stream { Full, Distilled };

class HeldText {
public:
    // Whether a reader takes the text now (the section looked for when due,
    // the reader's life checked when due).
    bool ReaderTakes(const char* mapName);
    // The section, when a reader has made it.
    void Open(const char* mapName);
    bool IsOpen() const { return pending_ != nullptr; }
    bool Holds() const { return pending_ && vx::HasPendingText(*pending_); }
    vx::PendingText* get() const { return pending_; }
    void Release();

    // Writes what is held to the files, through `files` where the held text
    // is for them.
    void Write(TraceMap* map, const TraceFiles& names, StreamFiles& files, LockCounters& counters);
    // A record's text of one stream added; false when it could not be held
    // and went straight to the file, after what was held.
    bool Put(Stream stream, const char* text, size_t length, TraceMap* map, const TraceFiles& names,
             StreamFiles& files, LockCounters& counters);

private:
    // True at most once an interval, the first time at once.
    struct IntervalGate {
        DWORD last = 0;
        bool started = false;
        bool Due(DWORD now);
    };

    vx::unique_handle handle_;
    vx::unique_view view_;
    vx::PendingText* pending_ = nullptr;
    IntervalGate look_;
    IntervalGate readerCheck_;
};

}  // namespace korbin
