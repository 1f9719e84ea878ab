#include "tracestore.h"

#include <cstdio>
#include <cstring>

#include "filepolicy.h"
#include "linetext.h"
#include "ring.h"
#include "timetext.h"

namespace korbin {
namespace {

using vx::WriteAll;

// How long a record waits for the map lock before it goes to the extra file.
constexpr DWORD kMapLockWaitMs = 2;

HWND ReaderWindow(const TraceMap* map) {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(map->readerWindow)));
}

}  // namespace

TraceStore::TraceStore() { std::memset(blanks_, ' ', sizeof blanks_); }

bool TraceStore::SetUpMaps() {
    if (block()) return true;
    switch (session_.OpenBlock(blockPrefix)) {
    case MapSession::BlockState::kFailed:
        return false;
    case MapSession::BlockState::kReused:
        // Another load of the kernel in this process left its state here
        // (with no map when that load refused the one it found).
        return true;
    case MapSession::BlockState::kNew:
        break;
    }
    bool existed = false;
    TraceMap* map = std::strlen(files.distilled) < static_cast<size_t>(kMapPathLimit)
                        ? session_.OpenMap(mapName, &existed)
                        : nullptr;
    if (!map) {
        session_.Release();
        return false;
    }
    if (existed && map->liveProcesses != 0) return TakeMapFound(map);
    session_.UseMap();
    if (!existed) {
        map->lockWord = CurrentOwnerId();
        InitialiseMap(map, offsetof(TraceMap, readerWindow));
        ReleaseLock(&map->lockWord);
    } else {
        MapHold hold(*this);
        // Looked at again under the lock: a process that registered in the
        // meantime must not be wiped from the list.
        if (map->liveProcesses == 0) InitialiseMap(map, offsetof(TraceMap, liveProcesses));
    }
    block()->map = map;
    return true;
}

// A map in use by live processes: taken unless its header is not one a
// kernel writes.
bool TraceStore::TakeMapFound(TraceMap* map) {
    const char* fault = vx::TraceMapFault(*map);
    if (!fault) {
        session_.UseMap();
        block()->map = map;
        return true;
    }
    // Writing through it would divert or lose every record and cost the
    // client each time: the trace goes on without it.
    session_.LeaveMap();
    refusedMap_ = fault;
    if (switches.fullTrace) {
        char text[kLineBufferSize];
        std::snprintf(text, sizeof text,
                      "Trace map %s not used: its %s is not one a kernel writes; records are not counted "
                      "and the distilled trace is off",
                      mapName, fault);
        Select(Stream::Full);
        Dgn(text);
    }
    return true;
}

// Clears the map from `from` on for a new run.
void TraceStore::InitialiseMap(TraceMap* map, size_t from) {
    // The file generation outlives a reset: a writer of the last run may
    // still hold a file open under it. It is left out of the clearing, not
    // saved and put back: a diverted writer counts its append there without
    // the map lock, and that count must not be lost.
    char* bytes = reinterpret_cast<char*>(map);
    constexpr size_t generationEnd = vx::kFileGenerationOffset + sizeof(LONG);
    std::memset(bytes + from, 0, vx::kFileGenerationOffset - from);
    std::memset(bytes + generationEnd, 0, kTraceMapSize - generationEnd);
    map->ringOffset = kRingOffset;
    map->ringCapacity = kRingCapacity;
    std::strcpy(map->distilledPath, files.distilled);
}

void TraceStore::ReleaseMaps() {
    held_.Release();
    batched_ = false;
    session_.Release();
}

void TraceStore::CloseFiles() {
    streams_.distilled.handle.reset();
    streams_.full.handle.reset();
    distilledOpen_ = false;
}

void TraceStore::ResetDistilledFile() {
    // Text still held for a reader belongs to the file about to be reset.
    if (map() && !held_.IsOpen()) held_.Open(mapName);
    WritePending();
    ApplyFilePolicy(files.distilled, switches.filePolicy);
    if (map()) ::InterlockedIncrement(vx::FileGeneration(map()));
}

bool TraceStore::TryMapLock(LONG self) {
    return TryTakeLock(&map()->lockWord, self) || TakeOverIfAbandoned(&map()->lockWord, self, readerWatch_);
}

bool TraceStore::WaitForMapLock(LONG self) {
    // Another writer holds the lock for microseconds, the reader for a poll's
    // read or write; a diverted record costs a few hundred. A holder that
    // keeps it longer is not waited for.
    const DWORD start = ::GetTickCount();
    do {
        ::SwitchToThread();
        if (TryMapLock(self)) return true;
    } while (::GetTickCount() - start <= kMapLockWaitMs);
    return false;
}

bool TraceStore::AbandonedAtShutdown() const {
    if (!ProcessShuttingDown()) return false;
    LONG self = CurrentOwnerId();
    auto heldByOther = [self](LONG owner) { return owner != 0 && owner != self; };
    return (block() && heldByOther(block()->recordLock)) || heldByOther(lineLock_);
}

void TraceStore::LockDiagFile() {
    ProcessBlock* const block = this->block();
    if (!block) return;
    TraceMap* const map = this->map();
    LONG self = CurrentOwnerId();
    LockCounters& c = counters();
    if (block->recordLock == self) {
        ++c.doubleLockingInLockDiagFile;
    } else {
        TakeLock(&block->recordLock, self, &c.waitingsForUnlockMapFile);
        if (!map) {
            diverted_ = false;  // no map: the full stream only
            batched_ = false;
        } else if (TryMapLock(self) || WaitForMapLock(self)) {
            diverted_ = false;
            c.currentExtraRun = 0;
            ChooseHolding();
        } else {
            diverted_ = true;
            batched_ = false;
            ++c.writesToExtraFile;
            if (++c.currentExtraRun > c.maxRecordsInExtraFile) c.maxRecordsInExtraFile = c.currentExtraRun;
        }
    }
    if (map && switches.distilledTrace) {
        LONG number = ::InterlockedIncrement(&map->recordCounter);
        if (!diverted_ && !batched_) map->recordsInFile = static_cast<uint32_t>(number);
    }
    if (map) recordNumber_ = map->recordCounter;
    firstLine_ = true;
    inRecord_ = true;
}

void TraceStore::OpenDistilledSide() {
    TraceMap* const map = this->map();
    firstLine_ = false;
    distilledText_.length = 0;
    distilledOpen_ = false;
    if (diverted_) return;  // kept in memory until the record ends
    TraceFile& file = streams_.distilled;
    if (batched_) {
        // The held text takes the record, after what a diverted writer left.
        file.end = -1;
        if (extra_.MayHaveText(map, files.extra)) MergeExtraFile(INVALID_HANDLE_VALUE);
        return;
    }
    // The map lock is held: the generation cannot move until the record ends.
    if (!file.Ensure(map, files.distilled)) {
        ++counters().cntFailedToOpenTraceFile;
        return;
    }
    distilledOpen_ = true;
    const LONG word = *vx::FileGeneration(map);
    // Every text that enters the distilled file passes the ring and each
    // record moves the counter: when neither moved since this process's last
    // record but by this one's start, nobody wrote after it, and the file's
    // size need not be asked for.
    const bool ownEnd = file.end > 0 && word == lastWord_ && map->ringTotal == lastRingTotal_ &&
                        map->recordCounter == lastCounter_ + 1;
    distilledAt_ = ownEnd && SeekTo(file.handle.get(), file.end - 1) ? file.end - 1
                                                                      : SeekToRecordEnd(file.handle.get());
    if (extra_.MayHaveText(map, files.extra) && MergeExtraFile(file.handle.get()))
        distilledAt_ = -1;  // the merged text came first
}

bool RecordText::Grow(size_t more) {
    size_t grown = (length + more) * 2 + 4096;
    void* memory = text ? ::HeapReAlloc(::GetProcessHeap(), 0, text, grown) : ::HeapAlloc(::GetProcessHeap(), 0, grown);
    if (!memory) return false;
    text = static_cast<char*>(memory);
    capacity = grown;
    return true;
}

void TraceStore::FlushFullRecord() {
    if (fullText_.length == 0) return;
    TraceFile& file = streams_.full;
    if (batched_) {
        PutPending(Stream::Full, fullText_.text, fullText_.length);
        // The held text reaches the file whole, its last record's end mark last.
        file.endMarkLast = true;
        file.end = -1;
        fullText_.length = 0;
        return;
    }
    if (file.Ensure(map(), files.full)) {
        HANDLE handle = file.handle.get();
        // Writers of the full trace do not all count or lock: the file itself
        // tells whether this process's last record is still its end.
        LONGLONG at = -1;
        if (file.endMarkLast && file.end > 0 && NothingWrittenAfter(handle) && SeekTo(handle, file.end - 1))
            at = file.end - 1;
        else if (file.endMarkLast)
            at = SeekToRecordEnd(handle);
        else
            ::SetFilePointer(handle, 0, nullptr, FILE_END);
        bool written = WriteAll(handle, fullText_.text, fullText_.length);
        file.end = written && at >= 0 ? at + static_cast<LONGLONG>(fullText_.length) : -1;
    }
    file.endMarkLast = fullText_.text[fullText_.length - 1] == '\x01';
    fullText_.length = 0;
}

void TraceStore::Dgn(const char* text, size_t textLength) {
    TraceMap* const map = this->map();
    bool distilled = stream_ == Stream::Distilled;
    if (distilled && !map) return;
    LONG self = CurrentOwnerId();
    LockCounters& c = counters();
    if (lineLock_ == self) {
        ++c.doubleLockingInDgn;
        return;
    }
    TakeLock(&lineLock_, self, &c.nestedWhenLocked);

    HANDLE file = INVALID_HANDLE_VALUE;
    if (distilled) {
        if (firstLine_) OpenDistilledSide();
    } else if (!inRecord_) {
        file = FullFileForLine();
    }

    // The line goes into the record's text, written whole when the record
    // ends: the full stream's to its file, the distilled stream's to its file
    // (the map lock keeps every other writer out until then) or, when
    // diverted, to the extra file. Text still held from a diverted record
    // ends in its end mark, which this line enters over, as in the file.
    // Outside a record a full-stream line is gathered here and written at once.
    RecordText* record = distilled ? &distilledText_ : inRecord_ ? &fullText_ : nullptr;
    if (record == &fullText_ && fullText_.length > 0 && fullText_.text[fullText_.length - 1] == '\x01')
        --fullText_.length;
    const size_t lineStart = record ? record->length : 0;
    char head[kLineBufferSize + 160];
    size_t used = 0;
    auto put = [&](const char* data, size_t length) {
        if (record) {
            record->Append(data, length);
            return;
        }
        if (used + length > sizeof head) {
            WriteAll(file, head, used);
            used = 0;
        }
        if (length > sizeof head) {
            WriteAll(file, data, length);
            return;
        }
        CopyBytes(head + used, data, length);
        used += length;
    };
    const char* p = text;
    bool continuation = *p == '\b';
    if (continuation) ++p;
    else put("\r\n", 2);
    for (; p[0] == '\r' && p[1] == '\n'; p += 2) put("\r\n", 2);
    if (!continuation) {
        if (!distilled) {
            // The line lock is held: the text of the last thread's id serves
            // its next lines without formatting it again.
            if (idTextOwner_ != self) {
                idTextLength_ = std::snprintf(idText_, sizeof idText_, "[%lx] ", static_cast<unsigned long>(self));
                idTextOwner_ = self;
            }
            put(idText_, static_cast<size_t>(idTextLength_));
        }
        put(blanks_, static_cast<size_t>(indent_));
    }
    put(p, textLength - static_cast<size_t>(p - text));
    if (used) WriteAll(file, head, used);
    if (distilled && record->length > lineStart)
        RingWrite(map->ring, kRingCapacity, &map->ringPosition, &map->ringTotal, record->text + lineStart,
                  record->length - lineStart);

    if (lineLock_ != self) ++c.doubleLockingInDgn;
    ReleaseLock(&lineLock_);
}

// The full file for a line outside any record (the start banner, a
// diagnostic), placed at its end; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE TraceStore::FullFileForLine() {
    TraceFile& full = streams_.full;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (full.Ensure(map(), files.full)) {
        file = full.handle.get();
        if (full.endMarkLast) SeekToRecordEnd(file);
        else ::SetFilePointer(file, 0, nullptr, FILE_END);
    }
    full.endMarkLast = false;
    full.end = -1;  // no record end to write over
    return file;
}

bool TraceStore::MergeExtraFile(HANDLE target) {
    ExtraText taken;
    if (!ExtraFile::Take(files.extra, &taken)) return false;
    TraceMap* const map = this->map();
    RingWrite(map->ring, kRingCapacity, &map->ringPosition, &map->ringTotal, taken.text, taken.length);
    if (batched_) PutPending(Stream::Distilled, taken.text, taken.length);
    else WriteAll(target, taken.text, taken.length);
    return true;
}

void TraceStore::UnLockDiagFile() {
    ProcessBlock* const block = this->block();
    if (!block) return;
    TraceMap* const map = this->map();
    LONG self = CurrentOwnerId();
    LockCounters& c = counters();
    if (switches.fullTrace) {
        Select(Stream::Full);
        Dgn("\b\r\n\x01");
    }
    if (switches.distilledTrace) {
        Select(Stream::Distilled);
        Dgn("\b\r\n\x01");
    }
    // A diverted record has no lock that keeps the other processes' full
    // records out of the file: its text is held until this process next
    // holds the map lock, usually at once below or at its next record.
    if (!diverted_) FlushFullRecord();
    inRecord_ = false;
    if (diverted_ && distilledText_.length > 0) {
        ExtraFile::Append(files.extra, map, distilledText_.text, distilledText_.length);
        distilledText_.length = 0;
    }
    if (batched_ && distilledText_.length > 0) {
        if (PutPending(Stream::Distilled, distilledText_.text, distilledText_.length))
            held_.get()->lastNumber = static_cast<uint32_t>(recordNumber_);
        else
            map->recordsInFile = static_cast<uint32_t>(recordNumber_);
    }
    if (distilledOpen_) {
        TraceFile& file = streams_.distilled;
        bool written = WriteAll(file.handle.get(), distilledText_.text, distilledText_.length);
        file.end = written && distilledAt_ >= 0 ? distilledAt_ + static_cast<LONGLONG>(distilledText_.length) : -1;
        // Still under the map lock: what the next record compares with.
        lastWord_ = *vx::FileGeneration(map);
        lastRingTotal_ = map->ringTotal;
        lastCounter_ = map->recordCounter;
    }
    distilledOpen_ = false;
    distilledText_.length = 0;
    firstLine_ = false;
    const int number = recordNumber_;
    if (block->recordLock != self) ++c.doubleLockingInUnLockDiagFile;

    if (map && diverted_) {
        if (TryMapLock(self)) {
            MergeDiverted();
            c.currentExtraRun = 0;
            ReleaseLock(&map->lockWord);
        }
    } else if (map) {
        ReleaseLock(&map->lockWord);
    }
    ReleaseLock(&block->recordLock);
    if (map) NotifyReader(number, false);
}

// A diverted record's writer that has the map lock after all merges what
// it (and others) diverted, and its full record held meanwhile.
void TraceStore::MergeDiverted() {
    TraceMap* const map = this->map();
    ChooseHolding();
    if (batched_) {
        if (MergeExtraFile(INVALID_HANDLE_VALUE)) PutPending(Stream::Distilled, "\x01", 1);
        FlushFullRecord();
        held_.get()->lastNumber = static_cast<uint32_t>(map->recordCounter);
        return;
    }
    vx::unique_file file(OpenShared(files.distilled, OPEN_EXISTING));
    if (!file) {
        ++counters().cntFailedToOpenTraceFile;
    } else {
        SeekToRecordEnd(file.get());
        MergeExtraFile(file.get());
        // The merged text ends a record: put the end mark back, so the next
        // record enters the file over it and not over the line break.
        WriteAll(file.get(), "\x01", 1);
    }
    FlushFullRecord();
    map->recordsInFile = static_cast<uint32_t>(map->recordCounter);
}

void TraceStore::NotifyReader(int number, bool last) { notice_.Send(ReaderWindow(map()), number, last); }

void TraceStore::FlushNotification() {
    if (map()) notice_.Flush(ReaderWindow(map()));
}

void TraceStore::WriteHeldFullText() {
    if (fullText_.length == 0 && !held_.Holds()) return;
    if (!map()) {
        FlushFullRecord();
        return;
    }
    MapHold hold(*this);
    // A process that ends leaves its text in the files, whoever reads them
    // next: the held text of every writer goes with its own.
    batched_ = held_.IsOpen();
    FlushFullRecord();
    WritePending();
    batched_ = false;
}

void TraceStore::ChooseHolding() {
    batched_ = held_.ReaderTakes(mapName);
    // The reader is gone or left: what it did not take in goes first.
    if (!batched_) WritePending();
}

void TraceStore::LockDiagFileNoInc() {
    TraceMap* const map = this->map();
    if (!map) return;
    LONG self = CurrentOwnerId();
    if (map->lockWord == self) {
        ++counters().doubleLockingInLockDiagFileNoInc;
        return;
    }
    TakeLock(&map->lockWord, self, &counters().waitingsForUnlockMapFile);
}

void TraceStore::UnLockDiagFileSimple() {
    TraceMap* const map = this->map();
    if (!map) return;
    if (map->lockWord != CurrentOwnerId()) ++counters().doubleLockingInUnLockDiagFileSimple;
    ReleaseLock(&map->lockWord);
}

void TraceStore::LineV(const char* format, va_list args) {
    if (!switches.fullTrace && !switches.distilledTrace) return;  // nothing to format for
    const size_t length = FormatLineText(line_, sizeof line_, format, args);
    if (switches.fullTrace) {
        Select(Stream::Full);
        Dgn(line_, length);
    }
    if (switches.distilledTrace) {
        Select(Stream::Distilled);
        Dgn(line_, length);
    }
}

void TraceStore::Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LineV(format, args);
    va_end(args);
}

void TraceStore::Indent(int delta) {
    indent_ += delta;
    if (indent_ < 0) indent_ = 0;
    if (indent_ > kMaxIndent) indent_ = kMaxIndent;
}

void TraceStore::WriteStartBanner(std::initializer_list<SettingsFileState> files, const char* notice) {
    if (!switches.fullTrace) return;
    char time[vx::kTimeTextLength + 1];
    vx::CurrentTimeText(time);
    std::snprintf(line_, sizeof line_, "\r\n\r\n========= Start %s at %s =========\r\n", "Interc", time);
    Select(Stream::Full);
    Dgn(line_);
    // A settings file the kernel could not read silently changes what is
    // traced: say so where the user looks for why.
    for (const SettingsFileState& file : files) {
        if (file.read == SettingsRead::Read) continue;
        std::snprintf(line_, sizeof line_,
                      file.read == SettingsRead::FileUnreadable
                          ? "Settings file %s cannot be read: its defaults are taken"
                          : "Settings file %s has unreadable answers: their defaults are taken",
                      file.path);
        Dgn(line_);
    }
    if (notice && notice[0]) Dgn(notice);
}

}  // namespace korbin
