// Record text waiting for the trace files. While a reader takes the live
// trace in, the writers copy each record's text of both streams into this
// shared section instead of writing it to the files themselves: a copy in
// memory instead of several system calls a record. The reader holds the
// section, so the text of a writer that is killed meanwhile outlives it; the
// reader writes the text to the files at each poll and when it leaves, a
// writer when the next record no longer fits, when the reader is gone, when
// it ends and before the file policy resets the file. Everything here is done
// under the trace map's lock word, in record order, so the files come out
// byte for byte as if each record had been written on its own.
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
    // The stream last being written (1 distilled, 2 full) and where in its
    // file the text began. A length not yet back at 0 means the writer ended
    // during the write: the next one cuts off what it left and writes it all.
    uint32_t writingStream;
    uint32_t reserved;
    int64_t writingFrom;
    char distilledPath[kMapPathSize];
    char fullPath[kMapPathSize];
    char distilled[kPendingCapacity];
    char full[kPendingCapacity];
};
static_assert(offsetof(PendingText, writingFrom) == 24);
static_assert(offsetof(PendingText, distilledPath) == 32);
static_assert(sizeof(PendingText) == 32 + 2 * kMapPathSize + 2 * kPendingCapacity);

inline bool HasPendingText(const PendingText& pending) {
    return pending.distilledLength != 0 || pending.fullLength != 0;
}

enum PendingStream : uint32_t { kHeldDistilled = 1, kHeldFull = 2 };

// Appends a record's text to one stream's held text, entering over the end
// mark (0x01) the held text ends in, as a record enters the file. False, with
// nothing appended, when it does not fit.
bool AppendPendingText(PendingText* pending, PendingStream stream, const char* text, size_t size);

// Writes all of it at the file's position, in pieces of at most a megabyte.
bool WriteAll(HANDLE file, const char* data, size_t length);

// Writes text at the end of an open trace file, entering over the end mark a
// record left there. False when a call failed.
bool AppendToTrace(HANDLE file, const char* text, size_t length);

// Writes the held text of both streams to the trace files and empties the
// buffers; the records held count as in the file. The handles may be
// INVALID_HANDLE_VALUE: the files named in the section are opened then.
// False when a file could not be opened or written.
bool WritePendingText(PendingText* pending, TraceMap* map, HANDLE distilled, HANDLE full);

}  // namespace vx
