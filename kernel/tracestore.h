// Record writing: the full and distilled streams, the trace map and the
// per-process state block, the record locks and the reader notification.
#pragma once

#include <windows.h>
#include <cstdarg>
#include <cstdint>
#include <initializer_list>

#include "layout.h"
#include "locks.h"
#include "settings.h"

namespace korbin {

enum class Stream { Full, Distilled };

constexpr size_t kLineBufferSize = 1024;
constexpr int kMaxIndent = 100;

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

// A record's text, gathered until the record ends.
struct RecordText {
    char* text = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    void Append(const char* data, size_t length);  // dropped when memory runs out
};

class TraceStore {
public:
    TraceStore();

    TraceFiles files;
    Switches switches;
    // Object names, replaceable so that tests can run beside a live trace.
    char mapName[64] = "SPDiagMappingObject";
    char blockPrefix[64] = "SPMappingObject ";

    ProcessBlock* block() const { return block_; }
    TraceMap* map() const { return map_; }
    LockCounters& counters() { return block_ ? block_->counters : spareCounters_; }

    // Creates or reuses the state block and the trace map; false on failure,
    // with nothing held.
    bool SetUpMaps();
    // Unmaps both views and closes both handles.
    void ReleaseMaps();

    // Record operations; the caller selects the stream before each Dgn.
    void LockDiagFile();
    void Dgn(const char* text);
    void UnLockDiagFile();
    void LockDiagFileNoInc();
    void UnLockDiagFileSimple();
    void Select(Stream stream) { stream_ = stream; }

    // Formats one line into the line buffer (cut to fit) and writes it to the
    // full stream, then the distilled stream, each when on.
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LineV(const char* format, va_list args);

    int recordNumber() const { return recordNumber_; }
    // Indentation in blanks, clamped to 0..100.
    void Indent(int delta);
    int indent() const { return indent_; }

    // While the process exits: another (ended) thread held a record lock, so
    // a record and its file may be half written; better write nothing more.
    bool AbandonedAtShutdown() const;

    // "========= Start Interc at <time> =========" on the full stream.
    struct SettingsFileState {
        const char* path;
        SettingsRead read;
    };
    void WriteStartBanner(std::initializer_list<SettingsFileState> files);

private:
    void OpenDistilledSide();
    void WritePiece(HANDLE file, const char* data, size_t length, bool toRing);
    void MergeExtraFile(HANDLE target);
    void AppendDivertedRecord();
    void FlushFullRecord();
    bool TryMapLock(LONG self);

    ProcessBlock* block_ = nullptr;
    TraceMap* map_ = nullptr;
    HANDLE blockHandle_ = nullptr;
    HANDLE mapHandle_ = nullptr;
    LockCounters spareCounters_ = {};

    Stream stream_ = Stream::Distilled;
    bool firstLine_ = false;
    bool recordEndPending_ = false;
    bool diverted_ = false;
    HANDLE distilledFile_ = INVALID_HANDLE_VALUE;
    int recordNumber_ = 0;
    int indent_ = 0;
    volatile LONG lineLock_ = 0;
    ReaderHoldWatch readerWatch_;
    char line_[kLineBufferSize] = {};
    char blanks_[kMaxIndent];
    // A record's pieces of each stream, written whole when it ends: one write
    // instead of one per piece, and a diverted record reaches the extra file
    // whole, so a merge never takes half a record.
    RecordText distilledText_;
    RecordText fullText_;
    bool inRecord_ = false;
};

}  // namespace korbin
