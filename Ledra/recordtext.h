// Record text: the lines of one record, served from a 40 KiB window over the
// text source, and single fields taken from a record's lines.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "intake.h"

namespace ledra {

// Where record text is read from: the reader's copy of the live trace, or a
// saved trace file; empty when the reader is not initialized.
struct TextSource {
    std::string path;
    bool writeAccess = false;
};

constexpr uint32_t kWindowSize = 40960;
constexpr uint32_t kEmptyWindow = 0xEEEEEEEEu;

class RecordText {
public:
    explicit RecordText(TextBuffer* text) : text_(text) {}

    void SetSource(TextSource source) { source_ = std::move(source); }
    void MarkWindowEmpty() {
        windowOffset_ = kEmptyWindow;
        windowLength_ = 0;
    }

    // The record's first line; " " when the source cannot be read.
    std::string FirstLine(uint32_t recPtr);
    // The record's next line; nullopt when the record (or the text) has ended.
    std::optional<std::string> NextLine();

    // Field members; nullopt (a null string) when recPtr is not below
    // `consumed` or the field is not found.
    std::optional<std::string> MethodName(uint32_t recPtr, uint32_t consumed);
    std::optional<std::string> ClassName(uint32_t recPtr, uint32_t consumed, long* instance);
    std::optional<std::string> DllShortName(uint32_t recPtr, uint32_t consumed);
    std::optional<std::string> ProcessCommandLine(uint32_t recPtr, uint32_t consumed);

    // The record number of the last record line of a saved trace file; 0 when
    // it cannot be read or holds none.
    static long RecordAmount(const std::string& path);

private:
    // Loads the window around file position p; the bytes kept (0: empty).
    uint32_t LoadWindow(uint32_t p);
    bool InWindow(uint32_t p) const {
        return windowOffset_ != kEmptyWindow && p >= windowOffset_ && p < windowOffset_ + windowLength_;
    }
    // Text of the line starting `two` characters, beginning at the record.
    std::optional<std::string> FieldLine(uint32_t recPtr, const char* two);
    // Makes the text buffer hold recPtr; its position there, or -1.
    long BufferAround(uint32_t recPtr, bool fresh);

    TextBuffer* text_;
    TextSource source_;
    char window_[kWindowSize];
    uint32_t windowOffset_ = kEmptyWindow;
    uint32_t windowLength_ = 0;
    uint32_t cursor_ = 0;  // position in the window
    bool endOfFile_ = false;
};

// True when the text at `line` starts with one of the five record marks.
bool IsRecordStart(const char* line, size_t available);

}  // namespace ledra
