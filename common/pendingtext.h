// Record text waiting for the trace files. While a reader takes the live
// trace in, the writers copy each record's text of both streams into this
// shared section instead of writing it to the files themselves: a copy in
// memory instead of several system calls a record. The reader holds the
// section, so the text of a writer that is killed meanwhile outlives it; the
// reader writes the text to the files at each poll and when it leaves, a
// writer when the next record no longer fits, when the reader is gone and
// when it ends. Everything here is done under the trace map's lock word, in
// record order, so the files come out byte for byte as if each record had
// been written on its own.
#pragma once

#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "tracemap.h"

namespace vx {

constexpr char kPendingTextSuffix[] = ".Pending";
constexpr char kPendingTextName[] = "SPDiagMappingObject.Pending";
constexpr uint32_t kPendingCapacity = 262144;

struct PendingText {
    volatile LONG readerProcess;  // 0: no reader takes the text in
    uint32_t distilledLength;
    uint32_t fullLength;
    uint32_t lastNumber;          // the last record whose distilled text is held (0: none)
    char distilledPath[kMapPathSize];
    char fullPath[kMapPathSize];
    char distilled[kPendingCapacity];
    char full[kPendingCapacity];
};
static_assert(offsetof(PendingText, distilledPath) == 16);
static_assert(offsetof(PendingText, distilled) == 16 + 2 * kMapPathSize);
static_assert(sizeof(PendingText) == 16 + 2 * kMapPathSize + 2 * kPendingCapacity);

inline bool HasPendingText(const PendingText& pending) {
    return pending.distilledLength != 0 || pending.fullLength != 0;
}

// Appends a record's text to one stream's buffer, entering over the end mark
// (0x01) the held text ends in, as a record enters the file. False, with
// nothing appended, when it does not fit.
bool AppendPendingText(char* buffer, uint32_t* length, const char* text, size_t size);

// Writes text at the end of an open trace file, entering over the end mark a
// record left there. False when a call failed.
bool AppendToTrace(HANDLE file, const char* text, size_t length);

// Writes the held text of both streams to the trace files and empties the
// buffers; the records held count as in the file. The handles may be
// INVALID_HANDLE_VALUE: the files named in the section are opened then.
// False when a file could not be opened or written.
bool WritePendingText(PendingText* pending, TraceMap* map, HANDLE distilled, HANDLE full);

}  // namespace vx
