// Record writing, the front door of the kernel's trace: LockDiagFile, Dgn
// and UnLockDiagFile frame each record of the full and distilled streams,
// under the record lock and the map's lock word. Its parts: the map session
// (state block and trace map), the stream files with the extra file records
// are diverted to, the text held for a reader, and the reader's notice.
#pragma once

#include <windows.h>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "heldtext.h"
#include "layout.h"
#include "linetext.h"
#include "locks.h"
#include "mapsession.h"
#include "readernotice.h"
#include "settings.h"
#include "streamfiles.h"

namespace korbin {

constexpr size_t kLineBufferSize = 1024;
constexpr int kMaxIndent = 100;

// A record's text, gathered until the record ends.
struct RecordText {
    char* text = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    // Dropped when memory runs out.
    void Append(const char* data, size_t size) {
        if (length + size > capacity && !Grow(size)) return;
        CopyBytes(text + length, data, size);
        length += size;
    }
    bool Grow(size_t more);
};

class TraceStore {
public:
    TraceStore();

    TraceFiles files;
    Switches switches;
    // Object names, replaceable so that tests can run beside a live trace.
    char mapName[kSectionNameSize] = "SPDiagMappingObject";
    char blockPrefix[kSectionNameSize] = "SPMappingObject ";

    ProcessBlock* block() const { return session_.block(); }
    TraceMap* map() const { return session_.map(); }
    LockCounters& counters() { return block() ? block()->counters : spareCounters_; }

    // Creates or reuses the state block and the trace map; false on failure,
    // with nothing held. A map already in use whose header no kernel could
    // have written is reported on the full stream and left alone: the kernel
    // then runs without it (no distilled stream, no record numbers).
    bool SetUpMaps();
    // Unmaps both views and closes both handles.
    void ReleaseMaps();
    // Writes the full-stream text of diverted records still held and the
    // text held for a reader, waiting for the map lock word (before the maps go).
    void WriteHeldFullText();
    // Why the map found was refused, or nullptr.
    const char* refusedMap() const { return refusedMap_; }

    // The file policy on the distilled trace (the first process of a run,
    // holding the map lock word); every writer reopens its files afterwards.
    void ResetDistilledFile();
    // Closes the trace files kept open (module unload).
    void CloseFiles();

    // The reader's window gets the latest record number if a notification
    // was skipped to keep within one per interval (the process's end).
    void FlushNotification();

    // Record operations; the caller selects the stream before each Dgn.
    void LockDiagFile();
    void Dgn(const char* text) { Dgn(text, std::strlen(text)); }
    void Dgn(const char* text, size_t length);
    void UnLockDiagFile();
    void LockDiagFileNoInc();
    void UnLockDiagFileSimple();

    void Select(Stream stream) { stream_ = stream; }

    // Formats one line into the line buffer (cut to fit) and writes it to the
    // full stream, then the distilled stream, each when on. A text that
    // starts with '\b' continues the line before it: no line break, no
    // indentation and, on the full stream, no thread id go before it.
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
    // `notice`: one more line when not empty (a source of descriptions missing).
    void WriteStartBanner(std::initializer_list<SettingsFileState> files, const char* notice = "");

private:
    // SetUpMaps' steps for a map it made or found.
    bool TakeMapFound(TraceMap* map);
    void InitialiseMap(TraceMap* map, size_t from);
    void NotifyReader(int number, bool last);
    void OpenDistilledSide();
    void FlushFullRecord();
    HANDLE FullFileForLine();
    bool TryMapLock(LONG self);
    bool WaitForMapLock(LONG self);
    // The extra file's text taken into the record's file (`target`) or the held text.
    bool MergeExtraFile(HANDLE target);
    void MergeDiverted();
    // Whether the record's text is held for a reader; when none takes it,
    // what one left is written to the files first.
    void ChooseHolding();
    void WritePending() { held_.Write(map(), files, streams_, counters()); }
    bool PutPending(Stream stream, const char* text, size_t length) {
        return held_.Put(stream, text, length, map(), files, streams_, counters());
    }

    MapSession session_;
    const char* refusedMap_ = nullptr;
    LockCounters spareCounters_ = {};

    // The trace files, open from the first record on, and where the open
    // record goes in the distilled one. The map's words right after this
    // process's last record: a record that follows it is written without
    // asking the file for its size, a call to the system less each.
    StreamFiles streams_;
    LONGLONG distilledAt_ = -1;
    LONG lastWord_ = 0;
    uint32_t lastRingTotal_ = 0;
    LONG lastCounter_ = 0;
    ExtraFile extra_;
    // "[<thread id>] " of the full stream's lines, for the thread that wrote last.
    char idText_[16] = {};
    int idTextLength_ = 0;
    LONG idTextOwner_ = 0;

    HeldText held_;
    bool batched_ = false;  // the open record's text goes to the held text
    ReaderNotice notice_;

    Stream stream_ = Stream::Distilled;
    bool firstLine_ = false;
    bool diverted_ = false;
    bool distilledOpen_ = false;  // the current record writes to the distilled file
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

// The store's lock taken when made and given back when the scope ends,
// whatever way it ends.
template <void (TraceStore::*Take)(), void (TraceStore::*Give)()>
class StoreScope {
public:
    explicit StoreScope(TraceStore& store) : store_(store) { (store_.*Take)(); }
    ~StoreScope() { (store_.*Give)(); }
    StoreScope(const StoreScope&) = delete;
    StoreScope& operator=(const StoreScope&) = delete;

private:
    TraceStore& store_;
};
// One record: LockDiagFile, then UnLockDiagFile.
using RecordScope = StoreScope<&TraceStore::LockDiagFile, &TraceStore::UnLockDiagFile>;
// The map held for a change of its own (process list, hook table, reset):
// no record is numbered or written under it.
using MapHold = StoreScope<&TraceStore::LockDiagFileNoInc, &TraceStore::UnLockDiagFileSimple>;

}  // namespace korbin
