// Record intake from the shared map and the trace file.
#include "intake.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
std::vector<vx::TraceMap*>& OpenViews() {
    static std::vector<vx::TraceMap*> views;
    return views;
}

void LeaveMap(vx::TraceMap* map) {
    map->readerWindow = 0;
    ::InterlockedCompareExchange(&map->lockWord, 0, -1);
}

}  // namespace

void ReleaseOpenMaps(bool processExit) {
    // At process exit a thread that was ended may hold the lock: no waiting then.
    if (processExit) {
        if (!::TryEnterCriticalSection(OpenViewsLock())) return;
    } else {
        ::EnterCriticalSection(OpenViewsLock());
    }
    for (vx::TraceMap* map : OpenViews()) LeaveMap(map);
    OpenViews().clear();
    ::LeaveCriticalSection(OpenViewsLock());
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
    vx::unique_file file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    return ReadChunkFrom(file.get(), position, size, buffer, complete, got);
}

ParsedChunk ParseChunk(const char* text, size_t length, uint32_t fileOffset, std::vector<RecordDescriptor>* out,
                       size_t capacity) {
    ParsedChunk parsed;
    // The text before the chunk's first "\r\n" is never a line start.
    for (size_t line = NextLineStart(text, length, 0); line < length; line = NextLineStart(text, length, line)) {
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
        parsed.restart = d.offset - 2;
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
    events_->StartOfProcess();
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
        if (!copyPath_.empty()) ::DeleteFileA(copyPath_.c_str());
    }
    mode_ = mode;
    if (mode == kModeStatic) CloseMap();
}

void RecordIntake::SetStaticPath(const std::string& path) {
    staticFile_.reset();
    staticPath_ = path.substr(0, MAX_PATH);
    ResetCounters();
    noActiveProcess_ = false;
    endState_ = 0;
    disabled_ = false;
    if (!copyPath_.empty()) ::DeleteFileA(copyPath_.c_str());
}

void RecordIntake::CloseMap() {
    if (!view_) return;
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    ::EnterCriticalSection(OpenViewsLock());
    std::erase(OpenViews(), map);
    ::LeaveCriticalSection(OpenViewsLock());
    LeaveMap(map);
    view_.reset();
    mapping_.reset();
}

bool RecordIntake::OpenMap() {
    if (view_) return true;
    vx::unique_handle mapping(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, vx::kTraceMapName));
    if (!mapping) return false;
    vx::unique_view view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return false;
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    map->readerWindow = static_cast<uint32_t>(statHwnd_);
    ::EnterCriticalSection(OpenViewsLock());
    OpenViews().push_back(map);
    ::LeaveCriticalSection(OpenViewsLock());
    return true;
}

bool RecordIntake::TakeLock() {
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    // -1 is the reader's own mark: a reader that died holding it left it.
    LONG seen = ::InterlockedCompareExchange(&map->lockWord, -1, 0);
    return seen == 0 || seen == -1;
}

void RecordIntake::ReleaseLock() {
    ::InterlockedExchange(&static_cast<vx::TraceMap*>(view_.get())->lockWord, 0);
}

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

void RecordIntake::ReadAndParse(const char* path, bool dynamic, NewRecords* result, bool* readFailed,
                                bool* nothingRead) {
    *readFailed = *nothingRead = false;
    descriptors_.clear();
    // A record longer than one chunk is read with a growing chunk until it is
    // whole, so the intake never stalls on it.
    uint32_t size = kChunkSize;
    bool complete = false;
    uint32_t got = 0;
    ParsedChunk parsed;
    for (;;) {
        if (dynamic && !TakeLock()) {
            result->lockedOut = 1;
            *readFailed = true;
            return;
        }
        bool opened;
        if (dynamic) {
            opened = ReadChunk(path, readPosition_, size, text_, &complete, &got);
        } else {
            // A saved trace does not change: one handle serves the whole pass.
            if (!staticFile_)
                staticFile_.reset(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            opened = staticFile_ && ReadChunkFrom(staticFile_.get(), readPosition_, size, text_, &complete, &got);
        }
        if (dynamic) ReleaseLock();
        // A saved file does not grow: its end ends the last record even
        // without the writer's end mark.
        if (!dynamic && opened && got < size) complete = true;
        if (!opened) {
            *readFailed = true;
            return;
        }
        if (got == 0) {
            *nothingRead = true;
            return;
        }
        descriptors_.clear();
        parsed = ParseChunk(text_->bytes.data(), got, readPosition_, &descriptors_, kDescriptorCapacity);
        if (parsed.full) complete = false;
        bool wholeRecordSeen = complete || parsed.count >= 2;
        if (wholeRecordSeen || got < size || size >= kLargestChunk) break;
        size *= 2;
    }

    size_t k = parsed.count;
    if (complete) {
        parsedTotal_ = delivered_ + static_cast<uint32_t>(k);
        nextReadPosition_ = readPosition_ + got;
    } else if (k > 0) {
        // The last record found may be cut: it is read again next time.
        parsedTotal_ = delivered_ + static_cast<uint32_t>(k) - 1;
        nextReadPosition_ = parsed.restart;
        if (k == 1 && got >= size && size >= kLargestChunk) {
            // Longer than any chunk: hand it out as it is rather than stall.
            parsedTotal_ = delivered_ + 1;
            nextReadPosition_ = readPosition_ + got;
        }
    } else {
        parsedTotal_ = delivered_;
        // No record starts here; a run of text longer than the largest chunk
        // is passed over, a shorter one waits for the writer to finish it.
        nextReadPosition_ = got >= size && size >= kLargestChunk ? readPosition_ + got : readPosition_;
    }
    restartOffset_ = k > 0 ? parsed.restart : restartOffset_;
    lastIndex_ = k > 0 ? delivered_ + static_cast<uint32_t>(k) - 1 : lastIndex_;

    if (dynamic && nextReadPosition_ != readPosition_ && !copyPath_.empty()) {
        vx::unique_file copy(::CreateFileA(copyPath_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (copy) {
            DWORD written = 0;
            ::WriteFile(copy.get(), text_->bytes.data(), nextReadPosition_ - readPosition_, &written, nullptr);
        }
    }
    if (dynamic && noActiveProcess_ && endState_ == 0 && complete) endState_ = 1;

    uint32_t n = parsedTotal_ - delivered_;
    result->count = static_cast<long>(n);
    result->descriptors.assign(descriptors_.begin(), descriptors_.begin() + n);
    result->arrayMade = true;
    delivered_ = parsedTotal_;
    readPosition_ = nextReadPosition_;
}

NewRecords RecordIntake::GetNewRecords() {
    NewRecords result;
    bool readFailed = false, nothingRead = false;
    if (mode_ == kModeStatic) {
        if (delivered_ == 0) {
            vx::unique_file probe(::CreateFileA(staticPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!probe) {
                result.count = -1;  // INCORRECT_STATIC_FILE_PATH
                return result;
            }
        }
        ReadAndParse(staticPath_.c_str(), false, &result, &readFailed, &nothingRead);
        if (readFailed || nothingRead) {
            staticFile_.reset();  // the pass is over: the file is the user's again
            result.count = 0;  // END_OF_STATIC_TRACE_FILE
            return result;
        }
    } else if (mode_ == kModeDynamic) {
        if (!OpenMap()) return result;
        auto* map = static_cast<vx::TraceMap*>(view_.get());
        int freed = SweepDeadProcesses();
        if (map->liveProcesses == 0 && freed > 0 && noActiveProcess_) {
            // A process came and went between two polls, unseen: its records
            // are a run of their own, not lost behind the ended one.
            StartNewRun();
        }
        if (map->liveProcesses == 0) {
            if (endState_ == 2) return result;
            if (!noActiveProcess_) events_->NoActiveProcess();
            noActiveProcess_ = true;
            if (disabled_) return result;
        } else if (noActiveProcess_) {
            StartNewRun();
        }
        if (endState_ == 1 && noActiveProcess_) {
            endState_ = 2;
            events_->EndOfProcess();
            return result;
        }
        if (delivered_ == map->recordsInFile) {
            if (noActiveProcess_ && endState_ == 0) endState_ = 1;
            return result;
        }
        char path[vx::kMapPathSize + 1];
        std::memcpy(path, map->distilledPath, vx::kMapPathSize);
        path[vx::kMapPathSize] = '\0';
        ReadAndParse(path, true, &result, &readFailed, &nothingRead);
        if (result.lockedOut) {
            ::SwitchToThread();
            return result;
        }
        if (readFailed) return result;
        if (nothingRead) {
            // Nothing past the read position yet: the same as nothing new.
            if (noActiveProcess_ && endState_ == 0) endState_ = 1;
        }
    } else {
        return result;
    }
    if (view_) {
        auto* map = static_cast<vx::TraceMap*>(view_.get());
        map->readerPrivate = delivered_;
        result.realLastRecord = map->recordCounter;
    }
    return result;
}

std::vector<std::pair<long, long>> RecordIntake::HookedAndLoaded() {
    std::vector<std::pair<long, long>> couples;
    bool openedHere = !view_;
    if (!OpenMap()) return couples;
    auto* map = static_cast<vx::TraceMap*>(view_.get());
    if (TakeLock()) {
        for (const vx::HookEntry& hook : map->hooks)
            if (hook.processId != 0) couples.emplace_back(static_cast<long>(hook.processId), static_cast<long>(hook.hookNumber));
        ReleaseLock();
    }
    if (openedHere) {
        view_.reset();
        mapping_.reset();
    }
    return couples;
}

}  // namespace ledra
