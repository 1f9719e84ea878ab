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

// Writes one stream's held text; false when it stays held.
bool WriteStream(HANDLE file, const char* path, DWORD disposition, const char* text, uint32_t length) {
    if (length == 0) return true;
    unique_file opened;
    if (file == INVALID_HANDLE_VALUE) {
        opened.reset(OpenForAppend(path, disposition));
        if (!opened) return false;
        file = opened.get();
    }
    return AppendToTrace(file, text, length);
}

}  // namespace

bool AppendPendingText(char* buffer, uint32_t* length, const char* text, size_t size) {
    uint32_t at = *length;
    if (at > 0 && buffer[at - 1] == '\x01') --at;
    if (size > kPendingCapacity - at) return false;
    std::memcpy(buffer + at, text, size);
    // The length last: a writer ended halfway leaves the text held before.
    *length = at + static_cast<uint32_t>(size);
    return true;
}

bool AppendToTrace(HANDLE file, const char* text, size_t length) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file, &size)) return false;
    LARGE_INTEGER at = size;
    if (size.QuadPart > 0) {
        // Another writer's line outside a record may end the file: only an
        // end mark is written over.
        LARGE_INTEGER last;
        last.QuadPart = size.QuadPart - 1;
        char mark = 0;
        DWORD got = 0;
        if (!::SetFilePointerEx(file, last, nullptr, FILE_BEGIN) || !::ReadFile(file, &mark, 1, &got, nullptr))
            return false;
        if (got == 1 && mark == '\x01') at = last;
    }
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    while (length > 0) {
        DWORD chunk = length > 0x100000 ? 0x100000 : static_cast<DWORD>(length), written = 0;
        if (!::WriteFile(file, text, chunk, &written, nullptr) || written == 0) return false;
        text += written;
        length -= written;
    }
    return true;
}

bool WritePendingText(PendingText* pending, TraceMap* map, HANDLE distilled, HANDLE full) {
    bool written =
        WriteStream(distilled, pending->distilledPath, OPEN_EXISTING, pending->distilled, pending->distilledLength);
    written = WriteStream(full, pending->fullPath, OPEN_ALWAYS, pending->full, pending->fullLength) && written;
    // Text a file refused is dropped, as a record written to it directly
    // would be: held, it would keep every later record out.
    if (pending->lastNumber != 0 && map) map->recordsInFile = pending->lastNumber;
    pending->distilledLength = pending->fullLength = pending->lastNumber = 0;
    return written;
}

}  // namespace vx
