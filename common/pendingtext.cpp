#include "pendingtext.h"

#include <cstring>

#include "raii.h"

namespace vx {
namespace {

HANDLE OpenForAppend(const char* path, DWORD disposition) {
    if (!path[0]) return INVALID_HANDLE_VALUE;
    // Shared as the writers share their own handles: readers, renames, deletion.
    return ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Where text goes at the end of the file: over the end mark a record left
// there, or -1.
LONGLONG TraceEnd(HANDLE file) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) return -1;
    if (size.QuadPart == 0) return 0;
    // Another writer's line outside a record may end the file: only an end
    // mark is written over.
    LARGE_INTEGER last;
    last.QuadPart = size.QuadPart - 1;
    char mark = 0;
    DWORD got = 0;
    if (!::SetFilePointerEx(file, last, nullptr, FILE_BEGIN) || !::ReadFile(file, &mark, 1, &got, nullptr)) return -1;
    return got == 1 && mark == '\x01' ? last.QuadPart : size.QuadPart;
}

bool WriteAt(HANDLE file, LONGLONG position, const char* text, size_t length) {
    LARGE_INTEGER at;
    at.QuadPart = position;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && WriteAll(file, text, length);
}

// Writes one stream's held text and empties it; false when the file could
// not be opened or written (the text is dropped then, as a record written to
// it directly would be: held, it would keep every later record out).
bool WriteStream(PendingText* pending, PendingStream stream, HANDLE file, DWORD disposition) {
    const bool distilled = stream == kHeldDistilled;
    uint32_t* length = distilled ? &pending->distilledLength : &pending->fullLength;
    if (*length == 0) return true;
    unique_file opened;
    if (file == INVALID_HANDLE_VALUE) {
        opened.reset(OpenForAppend(distilled ? pending->distilledPath : pending->fullPath, disposition));
        file = opened.get();
    }
    bool written = file != INVALID_HANDLE_VALUE && file != nullptr;
    if (written && pending->writingStream == stream) {
        LARGE_INTEGER from;
        from.QuadPart = pending->writingFrom;
        written = ::SetFilePointerEx(file, from, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
    }
    const LONGLONG at = written ? TraceEnd(file) : -1;
    if (at >= 0) {
        pending->writingFrom = at;
        pending->writingStream = stream;
        written = WriteAt(file, at, distilled ? pending->distilled : pending->full, *length);
    } else {
        written = false;
    }
    // The one store that says the text is in the file.
    *length = 0;
    return written;
}

}  // namespace

bool AppendPendingText(PendingText* pending, PendingStream stream, const char* text, size_t size) {
    char* buffer = stream == kHeldDistilled ? pending->distilled : pending->full;
    uint32_t* length = stream == kHeldDistilled ? &pending->distilledLength : &pending->fullLength;
    uint32_t at = *length;
    if (at > 0 && buffer[at - 1] == '\x01') --at;
    if (size > kPendingCapacity - at) return false;
    // New text: the last write of this stream is over, whatever its mark says.
    if (at == 0 && pending->writingStream == stream) pending->writingStream = 0;
    std::memcpy(buffer + at, text, size);
    // The length last: a writer ended halfway leaves the text held before.
    *length = at + static_cast<uint32_t>(size);
    return true;
}

bool WriteAll(HANDLE file, const char* data, size_t length) {
    if (file == INVALID_HANDLE_VALUE) return false;
    while (length > 0) {
        DWORD chunk = length > 0x100000 ? 0x100000 : static_cast<DWORD>(length), written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        length -= written;
    }
    return true;
}

bool AppendToTrace(HANDLE file, const char* text, size_t length) {
    const LONGLONG at = TraceEnd(file);
    return at >= 0 && WriteAt(file, at, text, length);
}

bool WritePendingText(PendingText* pending, TraceMap* map, HANDLE distilled, HANDLE full) {
    bool written = WriteStream(pending, kHeldDistilled, distilled, OPEN_EXISTING);
    if (pending->lastNumber != 0 && map) map->recordsInFile = pending->lastNumber;
    pending->lastNumber = 0;
    return WriteStream(pending, kHeldFull, full, OPEN_ALWAYS) && written;
}

}  // namespace vx
