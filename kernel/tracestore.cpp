#include "tracestore.h"

#include <cstdio>
#include <cstring>

#include "raii.h"
#include "filepolicy.h"
#include "linetext.h"
#include "ring.h"
#include "timetext.h"

namespace korbin {
namespace {

using vx::WriteAll;

// Other processes read the trace files and the file policy renames and
// deletes them while writers keep them open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The reader's window hears of new records at most this often.
constexpr DWORD kNotifyIntervalMs = 100;
// How often a writer looks for the section of text held for a reader, and
// whether the reader that takes it in still lives.
constexpr DWORD kReaderLookIntervalMs = 100;
// How long a record waits for the map lock before it goes to the extra file.
constexpr DWORD kMapLockWaitMs = 2;
// The extra file is opened exclusively for a whole append or merge; the other
// side only ever waits for one such short operation.
constexpr int kExtraFileTries = 2000;

HANDLE OpenShared(const char* path, DWORD disposition) {
    return ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenExtraExclusive(const char* path, DWORD access, DWORD disposition) {
    for (int i = 0; i < kExtraFileTries; ++i) {
        HANDLE h = ::CreateFileA(path, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION) return h;
        ::Sleep(1);
    }
    return INVALID_HANDLE_VALUE;
}

bool SeekTo(HANDLE file, LONGLONG position) {
    LARGE_INTEGER to;
    to.QuadPart = position;
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

// A non-empty file is entered one byte before its end, over the previous
// record's end mark. Where the next record starts, or -1.
LONGLONG SeekToRecordEnd(HANDLE file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) return -1;
    LONGLONG at = size.QuadPart > 0 ? size.QuadPart - 1 : 0;
    return SeekTo(file, at) ? at : -1;
}

// The handle stands where this process's last record ended: the file is not
// longer than that when a read there finds nothing.
bool NothingWrittenAfter(HANDLE file) {
    char probe;
    DWORD got = 1;
    return ::ReadFile(file, &probe, 1, &got, nullptr) && got == 0;
}

}  // namespace

bool TraceFiles::Build(const char* installFolder) {
    bool ok = JoinPath(folder, sizeof folder, installFolder, "") &&
              JoinPath(mainSettings, sizeof mainSettings, installFolder, "Vexilo.txt") &&
              JoinPath(advancedSettings, sizeof advancedSettings, installFolder, "VexiloAdv.txt") &&
              JoinPath(full, sizeof full, installFolder, "TraceFull.txt") &&
              JoinPath(distilled, sizeof distilled, installFolder, "TraceDistilled.txt") &&
              JoinPath(extra, sizeof extra, installFolder, "ExtraFile.txt");
    if (!ok) *this = TraceFiles{};
    return ok;
}

TraceStore::TraceStore() { std::memset(blanks_, ' ', sizeof blanks_); }

bool TraceStore::SetUpMaps() {
    if (block_) return true;
    char name[128];
    std::snprintf(name, sizeof name, "%s%.8lx", blockPrefix, ::GetCurrentProcessId());
    vx::unique_handle blockHandle(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                                       0, sizeof(ProcessBlock), name));
    if (!blockHandle) return false;
    bool blockExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
    vx::unique_view blockView(::MapViewOfFile(blockHandle.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!blockView) return false;
    auto* block = static_cast<ProcessBlock*>(blockView.get());

    if (blockExisted) {
        // Another load of the kernel in this process left its state here
        // (with no map when that load refused the one it found).
        blockHandle_ = std::move(blockHandle);
        blockView_ = std::move(blockView);
        block_ = block;
        map_ = block_->map;
        return true;
    }
    std::memset(block, 0, sizeof *block);

    if (std::strlen(files.distilled) >= static_cast<size_t>(kMapPathLimit)) return false;
    vx::unique_handle mapHandle(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                     kTraceMapSize, mapName));
    if (!mapHandle) return false;
    bool mapExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
    vx::unique_view mapView(::MapViewOfFile(mapHandle.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!mapView) return false;
    auto* map = static_cast<TraceMap*>(mapView.get());

    block_ = block;
    blockHandle_ = std::move(blockHandle);
    blockView_ = std::move(blockView);
    if (mapExisted && map->liveProcesses != 0) {
        if (const char* fault = vx::TraceMapFault(*map)) {
            // Writing through it would divert or lose every record and cost
            // the client each time: the trace goes on without it.
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
    }
    map_ = map;
    auto initialise = [&](size_t from) {
        // The file generation outlives a reset: a writer of the last run may
        // still hold a file open under it. It is left out of the clearing, not
        // saved and put back: a diverted writer counts its append there
        // without the map lock, and that count must not be lost.
        char* bytes = reinterpret_cast<char*>(map);
        constexpr size_t generationEnd = vx::kFileGenerationOffset + sizeof(LONG);
        std::memset(bytes + from, 0, vx::kFileGenerationOffset - from);
        std::memset(bytes + generationEnd, 0, kTraceMapSize - generationEnd);
        map->ringOffset = kRingOffset;
        map->ringCapacity = kRingCapacity;
        std::strcpy(map->distilledPath, files.distilled);
    };
    if (!mapExisted) {
        map->lockWord = CurrentOwnerId();
        initialise(offsetof(TraceMap, readerWindow));
        ReleaseLock(&map->lockWord);
    } else if (map->liveProcesses == 0) {
        MapHold hold(*this);
        // Looked at again under the lock: a process that registered in the
        // meantime must not be wiped from the list.
        if (map->liveProcesses == 0) initialise(offsetof(TraceMap, liveProcesses));
    }
    block->map = map;
    mapHandle_ = std::move(mapHandle);
    mapView_ = std::move(mapView);
    return true;
}

void TraceStore::ReleaseMaps() {
    pending_ = nullptr;
    pendingView_.reset();
    pendingHandle_.reset();
    batched_ = false;
    map_ = nullptr;
    block_ = nullptr;
    mapView_.reset();
    blockView_.reset();
    mapHandle_.reset();
    blockHandle_.reset();
}

void TraceStore::CloseFiles() {
    distilledFile_.reset();
    fullFile_.reset();
    distilledOpen_ = false;
}

bool TraceStore::EnsureOpen(vx::unique_file& file, const char* path, DWORD disposition, LONG& generation,
                            LONGLONG& end) {
    const LONG current = map_ ? *vx::FileGeneration(map_) : generation;
    if (file && ((current ^ generation) & vx::kFileGenerationMask) == 0) return true;
    file.reset(OpenShared(path, disposition));
    generation = current;
    end = -1;  // a file opened anew is looked at before it is written
    return static_cast<bool>(file);
}

void TraceStore::ResetDistilledFile() {
    // Text still held for a reader belongs to the file about to be reset.
    if (map_ && !pending_) OpenPendingText();
    WritePending();
    ApplyFilePolicy(files.distilled, switches.filePolicy);
    if (map_) ::InterlockedIncrement(vx::FileGeneration(map_));
}

bool TraceStore::TryMapLock(LONG self) {
    return TryTakeLock(&map_->lockWord, self) || TakeOverIfAbandoned(&map_->lockWord, self, readerWatch_);
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
    return (block_ && heldByOther(block_->recordLock)) || heldByOther(lineLock_);
}

void TraceStore::LockDiagFile() {
    if (!block_) return;
    LONG self = CurrentOwnerId();
    LockCounters& c = counters();
    if (block_->recordLock == self) {
        ++c.doubleLockingInLockDiagFile;
    } else {
        TakeLock(&block_->recordLock, self, &c.waitingsForUnlockMapFile);
        if (!map_) {
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
    if (map_ && switches.distilledTrace) {
        LONG number = ::InterlockedIncrement(&map_->recordCounter);
        if (!diverted_ && !batched_) map_->recordsInFile = static_cast<uint32_t>(number);
    }
    if (map_) recordNumber_ = map_->recordCounter;
    firstLine_ = true;
    inRecord_ = true;
}

void TraceStore::OpenDistilledSide() {
    firstLine_ = false;
    distilledText_.length = 0;
    distilledOpen_ = false;
    if (diverted_) return;  // kept in memory until the record ends
    if (batched_) {
        // The held text takes the record, after what a diverted writer left.
        distilledEnd_ = -1;
        if (ExtraFileMayHaveText()) MergeExtraFile(INVALID_HANDLE_VALUE);
        return;
    }
    // The map lock is held: the generation cannot move until the record ends.
    if (!EnsureOpen(distilledFile_, files.distilled, OPEN_EXISTING, distilledGeneration_, distilledEnd_)) {
        ++counters().cntFailedToOpenTraceFile;
        return;
    }
    distilledOpen_ = true;
    const LONG word = *vx::FileGeneration(map_);
    // Every text that enters the distilled file passes the ring and each
    // record moves the counter: when neither moved since this process's last
    // record but by this one's start, nobody wrote after it, and the file's
    // size need not be asked for.
    const bool ownEnd = distilledEnd_ > 0 && word == lastWord_ && map_->ringTotal == lastRingTotal_ &&
                        map_->recordCounter == lastCounter_ + 1;
    distilledAt_ = ownEnd && SeekTo(distilledFile_.get(), distilledEnd_ - 1) ? distilledEnd_ - 1
                                                                              : SeekToRecordEnd(distilledFile_.get());
    if (ExtraFileMayHaveText() && MergeExtraFile(distilledFile_.get()))
        distilledAt_ = -1;  // the merged text came first
}

bool TraceStore::ExtraFileMayHaveText() {
    // Looking for the file costs more than the rest of the record: only when
    // some writer appended to it (or a file changed) since the last look.
    // The word is read first, so an append that lands after the look moves it
    // again for the next record.
    const LONG word = *vx::FileGeneration(map_);
    if (extraLooked_ && word == extraWord_) return false;
    extraLooked_ = true;
    extraWord_ = word;
    return ::GetFileAttributesA(files.extra) != INVALID_FILE_ATTRIBUTES;
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
    if (batched_) {
        PutPending(Stream::Full, fullText_.text, fullText_.length);
        // The held text reaches the file whole, its last record's end mark last.
        recordEndPending_ = true;
        fullEnd_ = -1;
        fullText_.length = 0;
        return;
    }
    if (EnsureOpen(fullFile_, files.full, OPEN_ALWAYS, fullGeneration_, fullEnd_)) {
        HANDLE file = fullFile_.get();
        // Writers of the full trace do not all count or lock: the file itself
        // tells whether this process's last record is still its end.
        LONGLONG at = -1;
        if (recordEndPending_ && fullEnd_ > 0 && NothingWrittenAfter(file) && SeekTo(file, fullEnd_ - 1))
            at = fullEnd_ - 1;
        else if (recordEndPending_)
            at = SeekToRecordEnd(file);
        else
            ::SetFilePointer(file, 0, nullptr, FILE_END);
        bool written = WriteAll(file, fullText_.text, fullText_.length);
        fullEnd_ = written && at >= 0 ? at + static_cast<LONGLONG>(fullText_.length) : -1;
    }
    recordEndPending_ = fullText_.text[fullText_.length - 1] == '\x01';
    fullText_.length = 0;
}

void TraceStore::Dgn(const char* text, size_t textLength) {
    bool distilled = stream_ == Stream::Distilled;
    if (distilled && !map_) return;
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
        // A line outside any record (the start banner, a diagnostic).
        if (EnsureOpen(fullFile_, files.full, OPEN_ALWAYS, fullGeneration_, fullEnd_)) {
            file = fullFile_.get();
            if (recordEndPending_) SeekToRecordEnd(file);
            else ::SetFilePointer(file, 0, nullptr, FILE_END);
        }
        recordEndPending_ = false;
        fullEnd_ = -1;  // no record end to write over
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
        RingWrite(map_->ring, kRingCapacity, &map_->ringPosition, &map_->ringTotal, record->text + lineStart,
                  record->length - lineStart);

    if (lineLock_ != self) ++c.doubleLockingInDgn;
    ReleaseLock(&lineLock_);
}

bool TraceStore::MergeExtraFile(HANDLE target) {
    vx::unique_file extra(OpenExtraExclusive(files.extra, GENERIC_READ | DELETE, OPEN_EXISTING));
    if (!extra) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(extra.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
    size_t length = static_cast<size_t>(size.QuadPart);
    char* text = length ? static_cast<char*>(::HeapAlloc(::GetProcessHeap(), 0, length)) : nullptr;
    if (length && !text) return false;  // stays for a later record
    vx::scope_exit freeText([&] { if (text) ::HeapFree(::GetProcessHeap(), 0, text); });
    DWORD got = 0;
    if (length && (!::ReadFile(extra.get(), text, static_cast<DWORD>(length), &got, nullptr) || got != length))
        return false;
    // Deleted only once read; no appender can slip in while the handle is exclusive.
    FILE_DISPOSITION_INFO dispose = {TRUE};
    ::SetFileInformationByHandle(extra.get(), FileDispositionInfo, &dispose, sizeof dispose);
    extra.reset();
    if (length > 0 && text[length - 1] == '\x01') --length;
    RingWrite(map_->ring, kRingCapacity, &map_->ringPosition, &map_->ringTotal, text, length);
    if (batched_) PutPending(Stream::Distilled, text, length);
    else WriteAll(target, text, length);
    return true;
}

void TraceStore::AppendDivertedRecord() {
    if (distilledText_.length == 0) return;
    vx::unique_file extra(OpenExtraExclusive(files.extra, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
    if (extra) {
        SeekToRecordEnd(extra.get());
        WriteAll(extra.get(), distilledText_.text, distilledText_.length);
        extra.reset();
        // After the text is in: every direct writer looks for it at its next record.
        ::InterlockedExchangeAdd(vx::FileGeneration(map_), vx::kExtraFileAppended);
    }
    distilledText_.length = 0;
}

void TraceStore::UnLockDiagFile() {
    if (!block_) return;
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
    if (diverted_) AppendDivertedRecord();
    if (batched_ && distilledText_.length > 0) {
        if (PutPending(Stream::Distilled, distilledText_.text, distilledText_.length))
            pending_->lastNumber = static_cast<uint32_t>(recordNumber_);
        else
            map_->recordsInFile = static_cast<uint32_t>(recordNumber_);
    }
    if (distilledOpen_) {
        bool written = WriteAll(distilledFile_.get(), distilledText_.text, distilledText_.length);
        distilledEnd_ = written && distilledAt_ >= 0 ? distilledAt_ + static_cast<LONGLONG>(distilledText_.length) : -1;
        // Still under the map lock: what the next record compares with.
        lastWord_ = *vx::FileGeneration(map_);
        lastRingTotal_ = map_->ringTotal;
        lastCounter_ = map_->recordCounter;
    }
    distilledOpen_ = false;
    distilledText_.length = 0;
    firstLine_ = false;
    const int number = recordNumber_;
    if (block_->recordLock != self) ++c.doubleLockingInUnLockDiagFile;

    if (map_ && diverted_) {
        if (TryMapLock(self)) {
            ChooseHolding();
            if (batched_) {
                if (MergeExtraFile(INVALID_HANDLE_VALUE)) PutPending(Stream::Distilled, "\x01", 1);
                FlushFullRecord();
                pending_->lastNumber = static_cast<uint32_t>(map_->recordCounter);
            } else {
                vx::unique_file file(OpenShared(files.distilled, OPEN_EXISTING));
                if (!file) {
                    ++c.cntFailedToOpenTraceFile;
                } else {
                    SeekToRecordEnd(file.get());
                    MergeExtraFile(file.get());
                    // The merged text ends a record: put the end mark back, so the
                    // next record enters the file over it and not over the line break.
                    WriteAll(file.get(), "\x01", 1);
                }
                FlushFullRecord();
                map_->recordsInFile = static_cast<uint32_t>(map_->recordCounter);
            }
            c.currentExtraRun = 0;
            ReleaseLock(&map_->lockWord);
        }
    } else if (map_) {
        ReleaseLock(&map_->lockWord);
    }
    ReleaseLock(&block_->recordLock);
    if (map_) NotifyReader(number, false);
}

void TraceStore::NotifyReader(int number, bool last) {
    HWND reader = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(map_->readerWindow)));
    if (!reader) return;
    ::InterlockedExchange(&latestNumber_, number);
    const DWORD now = ::GetTickCount();
    // A message costs a round trip to the reader's process; the reader polls
    // anyway, so a number it gets later loses nothing.
    if ((!last && notifiedOnce_ && now - lastNotified_ < kNotifyIntervalMs) ||
        ::InterlockedCompareExchange(&notifyInFlight_, 1, 0) != 0) {
        ::InterlockedExchange(&notifyPending_, 1);
        return;
    }
    ::InterlockedExchange(&notifyPending_, 0);
    lastNotified_ = now;
    notifiedOnce_ = true;
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(latestNumber_));
    DWORD_PTR ignored;
    // The last one may run in the loader's detach: nothing else is handled while it waits.
    ::SendMessageTimeoutA(reader, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text),
                          last ? SMTO_BLOCK | SMTO_ABORTIFHUNG : SMTO_NORMAL, 10, &ignored);
    ::InterlockedExchange(&notifyInFlight_, 0);
}

void TraceStore::FlushNotification() {
    if (map_ && notifyPending_) NotifyReader(latestNumber_, true);
}

void TraceStore::WriteHeldFullText() {
    if (fullText_.length == 0 && !HoldsText()) return;
    if (!map_) {
        FlushFullRecord();
        return;
    }
    MapHold hold(*this);
    // A process that ends leaves its text in the files, whoever reads them
    // next: the held text of every writer goes with its own.
    batched_ = pending_ != nullptr;
    FlushFullRecord();
    WritePending();
    batched_ = false;
}

bool TraceStore::IntervalGate::Due(DWORD now) {
    if (started && now - last < kReaderLookIntervalMs) return false;
    started = true;
    last = now;
    return true;
}

void TraceStore::ChooseHolding() {
    batched_ = ReaderTakesText();
    // The reader is gone or left: what it did not take in goes first.
    if (!batched_) WritePending();
}

bool TraceStore::ReaderTakesText() {
    const DWORD now = ::GetTickCount();
    if (!pending_) {
        if (!pendingLook_.Due(now)) return false;
        OpenPendingText();
        if (!pending_) return false;
    }
    const LONG reader = pending_->readerProcess;
    if (reader == 0) return false;
    // A reader that was killed never says it left: its text is written here.
    if (readerCheck_.Due(now) && vx::ProcessIsGone(static_cast<DWORD>(reader))) {
        ::InterlockedCompareExchange(&pending_->readerProcess, 0, reader);
        return false;
    }
    return true;
}

void TraceStore::OpenPendingText() {
    char name[sizeof mapName + sizeof vx::kPendingTextSuffix];
    std::snprintf(name, sizeof name, "%s%s", mapName, vx::kPendingTextSuffix);
    vx::unique_handle handle(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name));
    if (!handle) return;
    vx::unique_view view(::MapViewOfFile(handle.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(vx::PendingText)));
    if (!view) return;
    pendingHandle_ = std::move(handle);
    pendingView_ = std::move(view);
    pending_ = static_cast<vx::PendingText*>(pendingView_.get());
}

void TraceStore::WritePending() {
    if (!HoldsText()) return;
    // The handles kept open serve when the held text is for this process's files.
    auto own = [this](const char* held, vx::unique_file& file, const char* path, DWORD disposition, LONG& generation,
                      LONGLONG& end) {
        return std::strcmp(held, path) == 0 && EnsureOpen(file, path, disposition, generation, end)
                   ? file.get()
                   : INVALID_HANDLE_VALUE;
    };
    HANDLE distilled = pending_->distilledLength
                           ? own(pending_->distilledPath, distilledFile_, files.distilled, OPEN_EXISTING,
                                 distilledGeneration_, distilledEnd_)
                           : INVALID_HANDLE_VALUE;
    HANDLE full = pending_->fullLength
                      ? own(pending_->fullPath, fullFile_, files.full, OPEN_ALWAYS, fullGeneration_, fullEnd_)
                      : INVALID_HANDLE_VALUE;
    const bool fullWritten = pending_->fullLength != 0;
    if (!vx::WritePendingText(pending_, map_, distilled, full)) ++counters().cntFailedToOpenTraceFile;
    // The files grew past this process's last records.
    distilledEnd_ = -1;
    fullEnd_ = -1;
    if (fullWritten) recordEndPending_ = true;
}

bool TraceStore::PutPending(Stream stream, const char* text, size_t length) {
    const bool distilled = stream == Stream::Distilled;
    const vx::PendingStream which = distilled ? vx::kHeldDistilled : vx::kHeldFull;
    uint32_t* held = distilled ? &pending_->distilledLength : &pending_->fullLength;
    char* heldPath = distilled ? pending_->distilledPath : pending_->fullPath;
    const char* path = distilled ? files.distilled : files.full;
    // Text of another installation's files is written before this one's joins.
    if (*held != 0 && std::strcmp(heldPath, path) != 0) WritePending();
    for (int round = 0; round < 2; ++round) {
        if (*held == 0) std::strcpy(heldPath, path);
        if (vx::AppendPendingText(pending_, which, text, length)) return true;
        if (round == 0) WritePending();
    }
    // Longer than the whole buffer: straight to the file, after the held text.
    vx::unique_file& file = distilled ? distilledFile_ : fullFile_;
    const bool open = distilled ? EnsureOpen(file, path, OPEN_EXISTING, distilledGeneration_, distilledEnd_)
                                : EnsureOpen(file, path, OPEN_ALWAYS, fullGeneration_, fullEnd_);
    if (!open || !vx::AppendToTrace(file.get(), text, length)) ++counters().cntFailedToOpenTraceFile;
    return false;
}

void TraceStore::LockDiagFileNoInc() {
    if (!map_) return;
    LONG self = CurrentOwnerId();
    if (map_->lockWord == self) {
        ++counters().doubleLockingInLockDiagFileNoInc;
        return;
    }
    TakeLock(&map_->lockWord, self, &counters().waitingsForUnlockMapFile);
}

void TraceStore::UnLockDiagFileSimple() {
    if (!map_) return;
    if (map_->lockWord != CurrentOwnerId()) ++counters().doubleLockingInUnLockDiagFileSimple;
    ReleaseLock(&map_->lockWord);
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

void TraceStore::WriteStartBanner(std::initializer_list<SettingsFileState> files) {
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
}

}  // namespace korbin
