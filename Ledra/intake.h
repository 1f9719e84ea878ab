// Record intake: new records of the live trace (through the shared map) or of
// a saved trace file, handed out as 20-byte descriptors; the record text stays
// in the file and in the reader's copy of it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "raii.h"
#include "recorddescriptor.h"
#include "tracemap.h"

namespace ledra {

enum TracerMode : long { kModeStatic = 1, kModeDynamic = 2, kModeNotInitialized = 3 };

using vx::RecordType;
using vx::kRecordEnter;
using vx::kRecordExit;
using vx::kRecordCreate;
using vx::kRecordDestroy;
using vx::kRecordLoad;
using vx::kRecordUnload;
using vx::kRecordFinStart;
using vx::kRecordFinEnd;

using vx::RecordDescriptor;

constexpr size_t kDescriptorCapacity = 13107;
constexpr DWORD kHookPairsWaitMs = 500;
// How long a poll waits for the writers' lock (to read, or to write their
// held text), yielding between tries; longer waits sleep after this long.
constexpr DWORD kHeldTextWaitMs = 5;
// Text read per poll. A live client writes tens of thousands of records a
// second: with a few kilobytes a poll the call's own cost left the window
// seconds behind; 64 KB still reads in well under a millisecond.
constexpr uint32_t kChunkSize = 65536;
// A record longer than this is skipped rather than stalling the intake.
constexpr uint32_t kLargestChunk = 16u << 20;

// Trace text read from a file: its bytes (NUL-terminated), where they came
// from and how many there are.
struct TextBuffer {
    std::vector<char> bytes = std::vector<char>(262144);
    uint32_t fileOffset = 0;
    uint32_t length = 0;
    bool valid = false;
};

// Position of the first `c` at or after `from` in text[0..length), or length.
size_t Find(const char* text, size_t length, size_t from, char c);
// The next line start after `from`: past the next "\r\n" and any "\r\n"
// pairs right after it; length when there is none.
size_t NextLineStart(const char* text, size_t length, size_t from);

// Reads up to `size` bytes of `path` at `position` into the buffer (growing it
// when needed); a final 0x01 end mark is dropped and makes the chunk complete.
// False when the file cannot be opened; *got is the count kept.
bool ReadChunk(const char* path, uint32_t position, uint32_t size, TextBuffer* buffer, bool* complete,
               uint32_t* got);

// The same from an open file.
bool ReadChunkFrom(HANDLE file, uint32_t position, uint32_t size, TextBuffer* buffer, bool* complete, uint32_t* got);

// The record starts in text[0..length) (read from file offset fileOffset),
// appended to out up to `capacity`. *restart: file offset two bytes before the
// last record start found. *full: parsing stopped at the capacity.
struct ParsedChunk {
    size_t count = 0;
    uint32_t restart = 0;
    bool full = false;
};
ParsedChunk ParseChunk(const char* text, size_t length, uint32_t fileOffset, std::vector<RecordDescriptor>* out,
                       size_t capacity);

// At process detach: every open view of this module leaves the map (window
// word 0, the reader's lock mark cleared).
void ReleaseOpenMaps(bool processExit);

// Where the reader's events go.
class IntakeEvents {
public:
    virtual void StartOfProcess() = 0;
    virtual void EndOfProcess() = 0;
    virtual void NoActiveProcess() = 0;

protected:
    ~IntakeEvents() = default;
};

struct NewRecords {
    long count = 0;  // RecAmNew
    long realLastRecord = 0;
    long lockedOut = 0;  // NoRecordsBecauseLocked
    bool arrayMade = false;
    std::vector<RecordDescriptor> descriptors;
};

class RecordIntake {
public:
    RecordIntake(TextBuffer* text, IntakeEvents* events) : text_(text), events_(events) {}
    ~RecordIntake() { CloseMap(); }
    RecordIntake(const RecordIntake&) = delete;
    RecordIntake& operator=(const RecordIntake&) = delete;

    long mode() const { return mode_; }
    // Returns true when the text window must be marked empty (always).
    void SetMode(long mode);
    long statHwnd() const { return statHwnd_; }
    void SetStatHwnd(long hwnd) { statHwnd_ = hwnd; }
    void SetStaticPath(const std::string& path);
    const std::string& staticPath() const { return staticPath_; }
    void SetCopyPath(const std::string& path) {
        copyFile_.reset();
        copyPath_ = path;
    }
    // Closes and deletes the copy of the trace.
    void DeleteCopy();
    const std::string& copyPath() const { return copyPath_; }

    NewRecords GetNewRecords();
    // Pairs of (process id, hook number) of the live traced processes; false
    // when a writer kept the map locked.
    bool HookedAndLoaded(std::vector<std::pair<long, long>>* couples);
    void DisableUntilNewProcess() { disabled_ = true; }
    void EnableUntilNewProcess() { disabled_ = false; }

    // Text consumed so far: records before it may be read from the source.
    uint32_t readPosition() const { return readPosition_; }
    // Set when intake restarted: the text window must be reloaded.
    bool TakeWindowReset() { return std::exchange(windowReset_, false); }

    void CloseMap();
    // The process of another reader found attached to the live trace, else 0.
    DWORD otherReader() const { return otherReader_; }

private:
    bool Attach();
    void ResetCounters();
    bool OpenMap();
    // Writes the text the writers held for this reader to the trace files.
    void WriteHeldText();
    bool TakeLock();
    void ReleaseLock();
    // Frees the slots of ended processes; how many were freed.
    int SweepDeadProcesses();
    void StartNewRun();
    // Reads, parses and hands out; `path` is the source file.
    void ReadAndParse(const char* path, bool dynamic, NewRecords* result, bool* readFailed, bool* nothingRead);
    // Its steps: the chunk read, what of it is handed out, the run's copy.
    struct ChunkRead {
        uint32_t size = kChunkSize;
        bool complete = false;
        uint32_t got = 0;
        ParsedChunk parsed;
    };
    bool ReadChunk(const char* path, bool dynamic, NewRecords* result, bool* readFailed, bool* nothingRead,
                   ChunkRead* read);
    void PlaceNextRead(const ChunkRead& read, bool dynamic);
    void CopyReadText();
    // GetNewRecords' two modes and the live mode's look at the runs.
    bool ReadStaticFile(NewRecords* result);
    bool ReadLiveTrace(NewRecords* result);
    bool FollowRuns(vx::TraceMap* map);
    bool ReadLiveChunk(const char* path, uint32_t size, bool* complete, uint32_t* got);

    TextBuffer* text_;
    IntakeEvents* events_;
    long mode_ = kModeNotInitialized;
    long statHwnd_ = 0;
    std::string staticPath_;
    std::string copyPath_;

    vx::unique_file staticFile_;
    // The copy of the live trace, open for the run.
    vx::unique_file copyFile_;
    // The live trace file, open while its generation stays.
    vx::unique_file liveFile_;
    std::string livePath_;
    LONG liveGeneration_ = -1;
    vx::unique_handle mapping_;
    vx::unique_view view_;
    vx::unique_handle attachment_;
    // The writers' held text (pendingtext.h) and the files it goes to.
    vx::unique_handle pendingHandle_;
    vx::unique_view pendingView_;
    vx::unique_file heldDistilled_;
    vx::unique_file heldFull_;
    std::string heldDistilledPath_;
    std::string heldFullPath_;
    LONG heldGeneration_ = -1;
    DWORD otherReader_ = 0;

    bool noActiveProcess_ = false;
    LONG runGeneration_ = 0;  // the map's file generation when the current run began
    int endState_ = 0;  // 0 running, 1 ending, 2 ended
    bool disabled_ = false;
    bool windowReset_ = false;
    // Static pass: the file marks its records' ends; the last read reached
    // the end of the file inside a record.
    bool staticEndMarks_ = false;
    bool staticTail_ = false;

    uint32_t delivered_ = 0;
    uint32_t parsedTotal_ = 0;
    uint32_t lastIndex_ = 0;
    uint32_t readPosition_ = 0;
    uint32_t nextReadPosition_ = 0;
    uint32_t restartOffset_ = 0;
    std::vector<RecordDescriptor> descriptors_;
};

}  // namespace ledra
