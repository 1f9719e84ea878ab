#include "heldtext.h"

#include <cstdio>
#include <cstring>

#include "mapsession.h"
#include "tracemap.h"

namespace korbin {
namespace {

// How often a writer looks for the section, and whether the reader that
// takes it in still lives.
constexpr DWORD kReaderLookIntervalMs = 100;

}  // namespace

bool HeldText::IntervalGate::Due(DWORD now) {
    if (started && now - last < kReaderLookIntervalMs) return false;
    started = true;
    last = now;
    return true;
}

bool HeldText::ReaderTakes(const char* mapName) {
    const DWORD now = ::GetTickCount();
    if (!pending_) {
        if (!look_.Due(now)) return false;
        Open(mapName);
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

void HeldText::Open(const char* mapName) {
    char name[kSectionNameSize + sizeof vx::kPendingTextSuffix];
    std::snprintf(name, sizeof name, "%s%s", mapName, vx::kPendingTextSuffix);
    vx::unique_handle handle(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name));
    if (!handle) return;
    vx::unique_view view(::MapViewOfFile(handle.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(vx::PendingText)));
    if (!view) return;
    handle_ = std::move(handle);
    view_ = std::move(view);
    pending_ = static_cast<vx::PendingText*>(view_.get());
}

void HeldText::Release() {
    pending_ = nullptr;
    view_.reset();
    handle_.reset();
}

void HeldText::Write(TraceMap* map, const TraceFiles& names, StreamFiles& files, LockCounters& counters) {
    if (!Holds()) return;
    // The handles kept open serve when the held text is for this writer's files.
    auto own = [map](const char* held, TraceFile& file, const char* path) {
        return std::strcmp(held, path) == 0 && file.Ensure(map, path) ? file.handle.get() : INVALID_HANDLE_VALUE;
    };
    HANDLE distilled =
        pending_->distilledLength ? own(pending_->distilledPath, files.distilled, names.distilled) : INVALID_HANDLE_VALUE;
    HANDLE full = pending_->fullLength ? own(pending_->fullPath, files.full, names.full) : INVALID_HANDLE_VALUE;
    const bool fullWritten = pending_->fullLength != 0;
    if (!vx::WritePendingText(pending_, map, distilled, full)) ++counters.cntFailedToOpenTraceFile;
    // The files grew past this writer's last records.
    files.distilled.end = -1;
    files.full.end = -1;
    if (fullWritten) files.full.endMarkLast = true;
}

bool HeldText::Put(Stream stream, const char* text, size_t length, TraceMap* map, const TraceFiles& names,
                   StreamFiles& files, LockCounters& counters) {
    const bool distilled = stream == Stream::Distilled;
    const vx::PendingStream which = distilled ? vx::kHeldDistilled : vx::kHeldFull;
    uint32_t* held = distilled ? &pending_->distilledLength : &pending_->fullLength;
    char* heldPath = distilled ? pending_->distilledPath : pending_->fullPath;
    const char* path = distilled ? names.distilled : names.full;
    // Text of another installation's files is written before this one's joins.
    if (*held != 0 && std::strcmp(heldPath, path) != 0) Write(map, names, files, counters);
    for (int round = 0; round < 2; ++round) {
        if (*held == 0) std::strcpy(heldPath, path);
        if (vx::AppendPendingText(pending_, which, text, length)) return true;
        if (round == 0) Write(map, names, files, counters);
    }
    // Longer than the whole buffer: straight to the file, after the held text.
    TraceFile& file = distilled ? files.distilled : files.full;
    if (!file.Ensure(map, path) || !vx::AppendToTrace(file.handle.get(), text, length))
        ++counters.cntFailedToOpenTraceFile;
    return false;
}

}  // namespace korbin
