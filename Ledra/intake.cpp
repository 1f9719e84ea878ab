// Record intake from the shared map and the trace file.
#include "intake.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Ledra.h"
#include "pendingtext.h"
#include "textconv.h"

namespace ledra {

size_t Find(const char* text, size_t length, size_t from, char c) {
    const void* hit = from < length ? std::memchr(text + from, c, length - from) : nullptr;
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text) : length;
}

size_t NextLineStart(const char* text, size_t length, size_t from) {
    for (size_t at = from; at + 1 < length; ++at) {
        if (text[at] == '\r' && text[at + 1] == '\n') {
            at += 2;
            while (at + 1 < length && text[at] == '\r' && text[at + 1] == '\n') at += 2;
            return at;
        }
    }
    return length;
}

namespace {

// The hexadecimal number after the first "=" at or after `from`; the position
// after that "=" goes to *next.
uint32_t HexAfterEquals(const char* text, size_t length, size_t from, size_t* next) {
    size_t eq = Find(text, length, from, '=');
    *next = eq < length ? eq + 1 : length;
    if (eq >= length) return 0;
    char digits[16];
    size_t n = 0;
    for (size_t at = eq + 1; at < length && n < sizeof digits - 1 && std::isxdigit(static_cast<unsigned char>(text[at])); ++at)
        digits[n++] = text[at];
    digits[n] = '\0';
    return static_cast<uint32_t>(std::strtoul(digits, nullptr, 16));
}

// "%d.%d" at `at`.
void ReadSerials(const char* text, size_t length, size_t at, int32_t* first, uint16_t* second) {
    char number[64];
    size_t n = 0;
    for (; at < length && n < sizeof number - 1 && text[at] != '\r'; ++at) number[n++] = text[at];
    number[n] = '\0';
    int a = 0, b = 0;
    if (std::sscanf(number, "%d.%d", &a, &b) >= 1) {
        *first = a;
        *second = static_cast<uint16_t>(b);
    }
}

// Views the reader objects of this module have open, for the clean-up at
// process detach (the reader's marks must not outlive it).
CRITICAL_SECTION* OpenViewsLock() {
    static CRITICAL_SECTION lock = [] {
        CRITICAL_SECTION cs;
        ::InitializeCriticalSection(&cs);
        return cs;
    }();
    return &lock;
}
struct OpenView {
    vx::TraceMap* map;
    vx::PendingText* pending;
};
std::vector<OpenView>& OpenViews() {
    static std::vector<OpenView> views;
    return views;
}

bool TakeMapLock(vx::TraceMap* map) {
    // -1 is the reader's own mark: a reader that died holding it left it.
    LONG seen = ::InterlockedCompareExchange(&map->lockWord, -1, 0);
    if (seen == 0 || seen == -1) return true;
    // A writer thread ended inside a record (its process exited mid-call)
    // never releases the lock: take it over, as the writers themselves do.
    return vx::ThreadIsGone(static_cast<DWORD>(seen)) &&
           ::InterlockedCompareExchange(&map->lockWord, -1, seen) == seen;
}

// Tries until the lock is taken or ms have passed. A writer that writes
// record after record leaves the lock free only between two records, so the
// first tries only yield; one that keeps it longer is waited for in sleeps.
bool TakeMapLockWithin(vx::TraceMap* map, DWORD ms) {
    const DWORD start = ::GetTickCount();
    while (!TakeMapLock(map)) {
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= ms) return false;
        if (waited < kHeldTextWaitMs) ::SwitchToThread();
        else ::Sleep(1);
    }
    return true;
}

void ReleaseMapLock(vx::TraceMap* map) { ::InterlockedExchange(&map->lockWord, 0); }

void LeaveMap(const OpenView& view, bool processExit) {
    if (view.pending) {
        // Text the writers held for this reader goes to the files before it
        // leaves: a writer killed meanwhile has nobody else to write it. The
        // writers see the reader gone under the same lock and write their own.
        const bool locked = TakeMapLockWithin(view.map, processExit ? 0 : kHookPairsWaitMs);
        view.pending->readerProcess = 0;
        if (locked && vx::HasPendingText(*view.pending))
            vx::WritePendingText(view.pending, view.map, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE);
    }
    view.map->readerWindow = 0;
    ::InterlockedCompareExchange(&view.map->lockWord, 0, -1);
}

// Only line breaks and blanks after the last end mark (or in the whole text
// when it has none): nothing was cut off there.
bool BlankAfterLastMark(const char* text, size_t length) {
    size_t at = length;
    while (at > 0 && text[at - 1] != '\x01') --at;
    for (; at < length; ++at)
        if (!std::strchr(" \t\r\n", text[at])) return false;
    return true;
}

}  // namespace

void ReleaseOpenMaps(bool processExit) {
    // At process exit a thread that was ended may hold the lock: no waiting then.
    if (processExit) {
        if (!::TryEnterCriticalSection(OpenViewsLock())) return;
    } else {
        ::EnterCriticalSection(OpenViewsLock());
    }
    for (const OpenView& view : OpenViews()) LeaveMap(view, processExit);
    OpenViews().clear();
    ::LeaveCriticalSection(OpenViewsLock());  // taken by a try at exit, by a wait otherwise: no one guard
}

bool ReadChunkFrom(HANDLE file, uint32_t position, uint32_t size, TextBuffer* buffer, bool* complete, uint32_t* got) {
    *complete = false;
    *got = 0;
    if (buffer->bytes.size() < size + 1u) buffer->bytes.resize(size + 1u);
    LARGE_INTEGER at;
    at.QuadPart = position;
    DWORD read = 0;
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
        !::ReadFile(file, buffer->bytes.data(), size, &read, nullptr))
        read = 0;
    if (read > 0 && buffer->bytes[read - 1] == '\x01') {
        --read;
        *complete = true;
    }
    buffer->bytes[read] = '\0';
    buffer->fileOffset = position;
    buffer->length = read;
    buffer->valid = true;
    *got = read;
    return true;
}

bool ReadChunk(const char* path, uint32_t position, uint32_t size, TextBuffer* buffer, bool* complete,
               uint32_t* got) {
    *complete = false;
    *got = 0;
    vx::unique_file file(vx::OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    if (!file) return false;
    return ReadChunkFrom(file.get(), position, size, buffer, complete, got);
}

ParsedChunk ParseChunk(const char* text, size_t length, uint32_t fileOffset, std::vector<RecordDescriptor>* out,
                       size_t capacity) {
    ParsedChunk parsed;
    // Every read position but the file's start points at a "\r\n": the text
    // before the chunk's first one is never a line start, except at the start
    // of the file (a saved trace need not begin with a line break).
    size_t first = fileOffset == 0 ? 0 : NextLineStart(text, length, 0);
    for (size_t line = first; line < length; line = NextLineStart(text, length, line)) {
        if (Find(text, length, line, '\r') >= length) break;  // an unfinished tail
        if (line + 4 > length) break;
        RecordDescriptor d = {};
        size_t search = line;
        const char* mark = text + line;
        auto at = [&](size_t i) { return line + i < length ? text[line + i] : '\0'; };
        if (std::memcmp(mark, "*** ", 4) == 0 || std::memcmp(mark, "   *", 4) == 0) {
            d.type = mark[0] == '*' ? kRecordEnter : kRecordExit;
            size_t colon = Find(text, length, line, ':');
            if (colon < length) ReadSerials(text, length, colon + 2, &d.firstSerial, &d.secondSerial);
            search = colon;
        } else if (std::memcmp(mark, "--- ", 4) == 0) {
            d.type = at(4) == 'C' ? kRecordCreate : kRecordDestroy;
        } else if (std::memcmp(mark, "<<<<", 4) == 0) {
            d.type = at(14) == 'F' ? kRecordFinStart : kRecordFinEnd;
        } else if (std::memcmp(mark, "====", 4) == 0) {
            d.type = at(10) == 'L' ? kRecordLoad : kRecordUnload;
            size_t colon = Find(text, length, line, ':');
            size_t eq = Find(text, length, colon, '=');
            search = Find(text, length, eq, ' ');
        } else {
            continue;
        }
        if (out->size() >= capacity) {
            parsed.full = true;
            break;
        }
        d.offset = fileOffset + static_cast<uint32_t>(line);
        size_t next = 0;
        d.threadId = HexAfterEquals(text, length, search, &next);
        d.processId = HexAfterEquals(text, length, next, &next);
        out->push_back(d);
        ++parsed.count;
        parsed.restart = d.offset >= 2 ? d.offset - 2 : 0;
    }
    return parsed;
}

void RecordIntake::ResetCounters() {
    delivered_ = parsedTotal_ = lastIndex_ = 0;
    readPosition_ = nextReadPosition_ = restartOffset_ = 0;
}

void RecordIntake::StartNewRun() {
    noActiveProcess_ = false;
    disabled_ = false;
    endState_ = 0;
    windowReset_ = true;
    ResetCounters();
    if (view_) runGeneration_ = vx::TraceFileGeneration(static_cast<vx::TraceMap*>(view_.get()));
    events_->StartOfProcess();
    DeleteCopy();
}

void RecordIntake::DeleteCopy() {
    copyFile_.reset();
    if (!copyPath_.empty()) ::DeleteFileA(copyPath_.c_str());
}

void RecordIntake::SetMode(long mode) {
    windowReset_ = true;
    staticFile_.reset();
    if (mode != mode_) {
        ResetCounters();
        noActiveProcess_ = false;
        endState_ = 0;
        disabled_ = false;
        DeleteCopy();
    }
    mode_ = mode;
    if (mode == kModeStatic) CloseMap();
}

void RecordIntake::SetStaticPath(const std::string& path) {
    staticFile_.reset();
    // Any length: saved traces deep in a folder tree are read as well as any other.
    staticPath_ = path;
    ResetCounters();
    noActiveProcess_ = false;
    endState_ = 0;
    disabled_ = false;
    DeleteCopy();
}

void RecordIntake::CloseMap() {
    if (!view_) return;
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    {
        vx::critical_section_lock hold(OpenViewsLock());
        std::erase_if(OpenViews(), [map](const OpenView& view) { return view.map == map; });
    }
    heldDistilled_.reset();
    heldFull_.reset();
    LeaveMap({map, static_cast<vx::PendingText*>(pendingView_.get())}, false);
    view_.reset();
    mapping_.reset();
    pendingView_.reset();
    pendingHandle_.reset();
    liveFile_.reset();
    attachment_.reset();
}

bool RecordIntake::Attach() {
    if (attachment_) return true;
    vx::unique_handle attachment(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD), vx::kTraceReaderName));
    if (!attachment) return false;
    bool taken = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (taken) {
        otherReader_ = vx::AttachedReaderProcess();
        return false;
    }
    vx::unique_view word(::MapViewOfFile(attachment.get(), FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    if (!word) return false;
    *static_cast<volatile DWORD*>(word.get()) = ::GetCurrentProcessId();
    attachment_ = std::move(attachment);
    otherReader_ = 0;
    return true;
}

bool RecordIntake::OpenMap() {
    if (view_) return true;
    vx::unique_handle mapping(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, vx::kTraceMapName));
    if (!mapping) return false;
    // One reader reads the live trace at a time: two would share the map's
    // window and lock mark and take each other's records.
    if (!Attach()) return false;
    vx::unique_view view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return false;
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    map->readerWindow = static_cast<uint32_t>(statHwnd_);
    runGeneration_ = vx::TraceFileGeneration(map);
    // The writers hold their records' text for this reader while it is
    // attached; without the section they write it to the files themselves.
    vx::unique_handle pending(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                   sizeof(vx::PendingText), vx::kPendingTextName));
    vx::unique_view pendingView(pending ? ::MapViewOfFile(pending.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr);
    if (pendingView) {
        pendingHandle_ = std::move(pending);
        pendingView_ = std::move(pendingView);
        ::InterlockedExchange(&static_cast<vx::PendingText*>(pendingView_.get())->readerProcess,
                              static_cast<LONG>(::GetCurrentProcessId()));
    }
    vx::critical_section_lock hold(OpenViewsLock());
    OpenViews().push_back({map, static_cast<vx::PendingText*>(pendingView_.get())});
    return true;
}

void RecordIntake::WriteHeldText() {
    auto* pending = static_cast<vx::PendingText*>(pendingView_.get());
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    if (!pending || !vx::HasPendingText(*pending) || !TakeMapLockWithin(map, kHeldTextWaitMs)) return;
    // Kept open between polls like the file read: opening costs more than the write.
    const LONG generation = vx::TraceFileGeneration(map);
    auto open = [&](vx::unique_file& file, std::string& openPath, const char* path, DWORD disposition) {
        if (!path[0]) return INVALID_HANDLE_VALUE;
        if (!file || openPath != path || generation != heldGeneration_)
            file.reset(vx::OpenFile(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition));
        openPath = path;
        return file ? file.get() : INVALID_HANDLE_VALUE;
    };
    HANDLE distilled = pending->distilledLength
                           ? open(heldDistilled_, heldDistilledPath_, pending->distilledPath, OPEN_EXISTING)
                           : INVALID_HANDLE_VALUE;
    HANDLE full =
        pending->fullLength ? open(heldFull_, heldFullPath_, pending->fullPath, OPEN_ALWAYS) : INVALID_HANDLE_VALUE;
    heldGeneration_ = generation;
    vx::WritePendingText(pending, map, distilled, full);
    ReleaseLock();
}

bool RecordIntake::TakeLock() { return TakeMapLockWithin(static_cast<vx::TraceMap*>(view_.get()), kHeldTextWaitMs); }

void RecordIntake::ReleaseLock() { ReleaseMapLock(static_cast<vx::TraceMap*>(view_.get())); }

int RecordIntake::SweepDeadProcesses() {
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    int freed = 0;
    if (map->liveProcesses == 0) return freed;
    for (int i = 0; i < vx::kProcessSlots && map->processes[i] != 0; ++i) {
        DWORD id = map->processes[i];
        if (id == vx::kFreeSlot || !vx::ProcessIsGone(id)) continue;
        // The writer holds the lock: try again at the next poll.
        if (!TakeLock()) return freed;
        if (map->processes[i] == id && vx::ProcessIsGone(id) && map->liveProcesses > 0) {
            map->processes[i] = vx::kFreeSlot;
            --map->liveProcesses;
            ++freed;
        }
        ReleaseLock();
    }
    return freed;
}

// Called under the map lock, which every reset, rename or replacement of the
// trace file also holds. The file stays open between polls: opening it costs
// far more than the read, and the writers are kept out meanwhile. It is
// opened again when the file's generation moved.
bool RecordIntake::ReadLiveChunk(const char* path, uint32_t size, bool* complete, uint32_t* got) {
    *complete = false;
    *got = 0;
    const LONG generation = vx::TraceFileGeneration(static_cast<vx::TraceMap*>(view_.get()));
    if (!liveFile_ || generation != liveGeneration_ || livePath_ != path) {
        // Shared for deletion too: the kernels rename the file it reads.
        liveFile_.reset(vx::OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     OPEN_EXISTING));
        liveGeneration_ = generation;
        livePath_ = path;
    }
    return liveFile_ && ReadChunkFrom(liveFile_.get(), readPosition_, size, text_, complete, got);
}

void RecordIntake::ReadAndParse(const char* path, bool dynamic, NewRecords* result, bool* readFailed,
                                bool* nothingRead) {
    *readFailed = *nothingRead = false;
    descriptors_.clear();
    ChunkRead read;
    if (!ReadChunk(path, dynamic, result, readFailed, nothingRead, &read)) return;
    PlaceNextRead(read, dynamic);
    if (dynamic && nextReadPosition_ != readPosition_ && !copyPath_.empty()) CopyReadText();
    if (dynamic && noActiveProcess_ && endState_ == 0 && read.complete) endState_ = 1;

    uint32_t n = parsedTotal_ - delivered_;
    result->count = static_cast<long>(n);
    result->descriptors.assign(descriptors_.begin(), descriptors_.begin() + n);
    result->arrayMade = true;
    delivered_ = parsedTotal_;
    readPosition_ = nextReadPosition_;
}

// The text from the read position, parsed: a record longer than one chunk
// is read with a growing chunk until it is whole, so the intake never stalls
// on it. False when the answer is already given (locked out, unreadable,
// nothing there).
bool RecordIntake::ReadChunk(const char* path, bool dynamic, NewRecords* result, bool* readFailed,
                             bool* nothingRead, ChunkRead* read) {
    for (;;) {
        if (dynamic && !TakeLock()) {
            result->lockedOut = 1;
            *readFailed = true;
            return false;
        }
        bool opened;
        if (dynamic) {
            opened = ReadLiveChunk(path, read->size, &read->complete, &read->got);
        } else {
            // A saved trace does not change: one handle serves the whole pass.
            if (!staticFile_)
                staticFile_.reset(vx::OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
            opened = staticFile_ &&
                     ReadChunkFrom(staticFile_.get(), readPosition_, read->size, text_, &read->complete, &read->got);
        }
        if (dynamic) ReleaseLock();
        if (!dynamic && opened) {
            // A saved file does not grow: its end ends the last record, unless
            // the file marks its records' ends and this one has no mark: then
            // it was cut off and is not handed out.
            if (read->complete || std::memchr(text_->bytes.data(), '\x01', read->got)) staticEndMarks_ = true;
            if (read->got < read->size)
                read->complete = read->complete || !staticEndMarks_ || BlankAfterLastMark(text_->bytes.data(), read->got);
            staticTail_ = read->got < read->size && !read->complete;
        }
        if (!opened) {
            *readFailed = true;
            return false;
        }
        if (read->got == 0) {
            *nothingRead = true;
            return false;
        }
        descriptors_.clear();
        read->parsed = ParseChunk(text_->bytes.data(), read->got, readPosition_, &descriptors_, kDescriptorCapacity);
        if (read->parsed.full) read->complete = false;
        bool wholeRecordSeen = read->complete || read->parsed.count >= 2;
        if (wholeRecordSeen || read->got < read->size || read->size >= kLargestChunk) return true;
        read->size *= 2;
    }
}

// How many of the parsed records are handed out, and where the next read
// starts.
void RecordIntake::PlaceNextRead(const ChunkRead& read, bool dynamic) {
    const size_t k = read.parsed.count;
    const uint32_t got = read.got;
    uint32_t wholeEnd = 0;
    if (!dynamic && staticTail_ && k > 0) {
        // A saved trace cut inside its last record: the records up to the
        // last end mark are whole, the text after it is not.
        const char* bytes = text_->bytes.data();
        size_t mark = got;
        while (mark > 0 && bytes[mark - 1] != '\x01') --mark;
        if (mark > 0 && readPosition_ + mark > read.parsed.restart + 2)
            wholeEnd = readPosition_ + static_cast<uint32_t>(mark);
    }
    if (wholeEnd) {
        parsedTotal_ = delivered_ + static_cast<uint32_t>(k);
        nextReadPosition_ = wholeEnd;
    } else if (read.complete) {
        parsedTotal_ = delivered_ + static_cast<uint32_t>(k);
        nextReadPosition_ = readPosition_ + got;
    } else if (k > 0) {
        // The last record found may be cut: it is read again next time.
        parsedTotal_ = delivered_ + static_cast<uint32_t>(k) - 1;
        nextReadPosition_ = read.parsed.restart;
        if (k == 1 && got >= read.size && read.size >= kLargestChunk) {
            // Longer than any chunk: hand it out as it is rather than stall.
            parsedTotal_ = delivered_ + 1;
            nextReadPosition_ = readPosition_ + got;
        }
    } else {
        parsedTotal_ = delivered_;
        // No record starts here; a run of text longer than the largest chunk
        // is passed over, a shorter one waits for the writer to finish it.
        nextReadPosition_ = got >= read.size && read.size >= kLargestChunk ? readPosition_ + got : readPosition_;
    }
    restartOffset_ = k > 0 ? read.parsed.restart : restartOffset_;
    lastIndex_ = k > 0 ? delivered_ + static_cast<uint32_t>(k) - 1 : lastIndex_;
}

// The text read past, appended to the run's copy of the trace.
void RecordIntake::CopyReadText() {
    // Kept open for the run: opening it costs more than the poll's read.
    if (!copyFile_)
        copyFile_.reset(::CreateFileA(copyPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copyFile_) return;
    DWORD written = 0;
    ::WriteFile(copyFile_.get(), text_->bytes.data(), nextReadPosition_ - readPosition_, &written, nullptr);
}

NewRecords RecordIntake::GetNewRecords() {
    NewRecords result;
    const bool answered = mode_ == kModeStatic    ? ReadStaticFile(&result)
                          : mode_ == kModeDynamic ? ReadLiveTrace(&result)
                                                  : true;
    if (!answered && view_) {
        auto* map = static_cast<vx::TraceMap*>(view_.get());
        map->readerPrivate = delivered_;
        result.realLastRecord = map->recordCounter;
    }
    return result;
}

// A saved trace file, a chunk a call. True when `result` is the whole answer.
bool RecordIntake::ReadStaticFile(NewRecords* result) {
    if (delivered_ == 0) {
        vx::unique_file probe(vx::OpenFile(staticPath_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
        if (!probe) {
            result->count = -1;  // INCORRECT_STATIC_FILE_PATH
            return true;
        }
        staticEndMarks_ = false;
    }
    bool readFailed = false, nothingRead = false;
    ReadAndParse(staticPath_.c_str(), false, result, &readFailed, &nothingRead);
    if (readFailed || nothingRead || (result->count == 0 && staticTail_)) {
        staticFile_.reset();  // the pass is over: the file is the user's again
        result->count = !readFailed && !nothingRead ? STATIC_TRACE_FILE_CUT : 0;  // else END_OF_STATIC_TRACE_FILE
        return true;
    }
    return false;
}

// The live trace: the map's state first (processes gone, runs ended or
// begun), then the records written since the last call. True when
// `result` is the whole answer.
bool RecordIntake::ReadLiveTrace(NewRecords* result) {
    if (!OpenMap()) {
        if (otherReader_) result->count = OTHER_TRACE_READER_ATTACHED;
        return true;
    }
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    // Before anything is looked at: the text of a writer killed since the
    // last poll is in the files then, and counted.
    WriteHeldText();
    if (FollowRuns(map)) return true;
    if (delivered_ == map->recordsInFile) {
        if (noActiveProcess_ && endState_ == 0) endState_ = 1;
        return true;
    }
    char path[vx::kMapPathSize + 1];
    std::memcpy(path, map->distilledPath, vx::kMapPathSize);
    path[vx::kMapPathSize] = '\0';
    bool readFailed = false, nothingRead = false;
    ReadAndParse(path, true, result, &readFailed, &nothingRead);
    if (result->lockedOut) {
        ::SwitchToThread();
        return true;
    }
    if (readFailed) return true;
    // Nothing past the read position yet: the same as nothing new.
    if (nothingRead && noActiveProcess_ && endState_ == 0) endState_ = 1;
    return false;
}

// The runs of traced processes as the map shows them, and the reader's
// events they raise. True when the poll ends here.
bool RecordIntake::FollowRuns(vx::TraceMap* map) {
    int freed = SweepDeadProcesses();
    // A process that came and went between two polls, unseen, either died
    // (swept just now) or ended cleanly after starting a new trace file: its
    // records are a run of their own, not lost behind the ended one. The run
    // seen live, or seen to end, owns the generation it wrote.
    // Text diverted to the extra file (a final report written after the
    // process left the list, say) is no new file.
    const LONG generation = vx::TraceFileGeneration(map);
    bool newFile = generation != runGeneration_;
    if (map->liveProcesses == 0 && (freed > 0 || newFile) && noActiveProcess_) StartNewRun();
    if (map->liveProcesses != 0) runGeneration_ = generation;
    if (map->liveProcesses == 0) {
        if (endState_ == 2) return true;
        if (!noActiveProcess_) {
            runGeneration_ = generation;
            events_->NoActiveProcess();
        }
        noActiveProcess_ = true;
        if (disabled_) return true;
    } else if (noActiveProcess_) {
        StartNewRun();
    }
    if (endState_ == 1 && noActiveProcess_) {
        endState_ = 2;
        events_->EndOfProcess();
        return true;
    }
    return false;
}

bool RecordIntake::HookedAndLoaded(std::vector<std::pair<long, long>>* couples) {
    couples->clear();
    // Without the reader's own view, a view of this call alone: it writes
    // nothing into the map and is unmapped here.
    vx::unique_handle mapping;
    vx::unique_view temporary;
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    if (!map) {
        mapping.reset(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, vx::kTraceMapName));
        if (!mapping) return true;  // no map: no live traced process
        temporary.reset(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (!temporary) return false;
        map = static_cast<vx::TraceMap*>(temporary.get());
    }
    // One that keeps it longer must not read as "nothing loaded".
    if (!TakeMapLockWithin(map, kHookPairsWaitMs)) return false;
    std::vector<vx::HookEntry> used;
    for (const vx::HookEntry& hook : map->hooks)
        if (hook.processId != 0) used.push_back(hook);
    ReleaseMapLock(map);
    // A process that ended without unloading the DLL left its pairs behind:
    // it no longer holds the number.
    for (const vx::HookEntry& hook : used)
        if (!vx::ProcessIsGone(hook.processId))
            couples->emplace_back(static_cast<long>(hook.processId), static_cast<long>(hook.hookNumber));
    return true;
}

}  // namespace ledra
