// The trace files as one writer keeps them: each stream's file open under
// the file generation it was opened with, and the extra file that takes a
// record whose writer cannot have the map lock, merged by the next writer
// that has it.
#pragma once

#include <windows.h>

#include <cstddef>

#include "layout.h"
#include "raii.h"

namespace korbin {

// Other processes read the trace files and the file policy renames and
// deletes them while writers keep them open.
HANDLE OpenShared(const char* path, DWORD disposition);
bool SeekTo(HANDLE file, LONGLONG position);
// A non-empty file is entered one byte before its end, over the previous
// record's end mark. Where the next record starts, or -1.
LONGLONG SeekToRecordEnd(HANDLE file);
// The handle stands where this process's last record ended: the file is not
// longer than that when a read there finds nothing.
bool NothingWrittenAfter(HANDLE file);

// The names of the files an installation's kernel reads and writes.
struct TraceFiles {
    char folder[MAX_PATH] = {};
    char mainSettings[MAX_PATH] = {};
    char advancedSettings[MAX_PATH] = {};
    char full[MAX_PATH] = {};
    char distilled[MAX_PATH] = {};
    char extra[MAX_PATH] = {};

    // Builds every name from the installation folder; false (all empty) when one does not fit.
    bool Build(const char* installFolder);
};

struct TraceFile {
    explicit TraceFile(DWORD disposition) : disposition(disposition) {}
    // Opened (again) when the map's file generation moved since it was
    // opened (a reset renamed or deleted it); false when it cannot be.
    bool Ensure(TraceMap* map, const char* path);

    const DWORD disposition;
    vx::unique_file handle;
    LONG generation = 0;
    LONGLONG end = -1;  // where this process's last record ended in it (-1: not known)
    // The file ends in a record's end mark, which the next record enters over.
    bool endMarkLast = false;
};

// One writer's two stream files.
struct StreamFiles {
    TraceFile distilled{OPEN_EXISTING};  // made by the file policy
    TraceFile full{OPEN_ALWAYS};
};

// Text read from the extra file, on the process heap.
struct ExtraText {
    char* text = nullptr;
    size_t length = 0;
    ExtraText() = default;
    ExtraText(const ExtraText&) = delete;
    ExtraText& operator=(const ExtraText&) = delete;
    ~ExtraText() {
        if (text) ::HeapFree(::GetProcessHeap(), 0, text);
    }
};

class ExtraFile {
public:
    // Whether to look for the file: some writer appended to it (or a file
    // changed) since the last look.
    bool MayHaveText(TraceMap* map, const char* path);
    // Reads the file and deletes it; its last end mark is dropped. False,
    // and the file left for a later record, when it cannot be taken whole.
    static bool Take(const char* path, ExtraText* taken);
    // A diverted record's text appended, and every direct writer told.
    static void Append(const char* path, TraceMap* map, const char* text, size_t length);

private:
    LONG word_ = 0;  // the generation word at the last look
    bool looked_ = false;
};

}  // namespace korbin
