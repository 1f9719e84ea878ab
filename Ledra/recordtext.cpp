// Lines and fields of records, read from the reader's text source.
#include "recordtext.h"

#include <cstdlib>
#include <cstring>

#include "raii.h"
#include "textconv.h"

namespace ledra {
namespace {

constexpr uint32_t kWindowHalf = 20480;
constexpr uint32_t kFieldRead = 4098;

}  // namespace

bool IsRecordStart(const char* line, size_t available) {
    static const char* const kMarks[] = {"*** ", "   *", "--- ", "<<<<", "===="};
    if (available < 4) return false;
    for (const char* mark : kMarks)
        if (std::memcmp(line, mark, 4) == 0) return true;
    return false;
}

uint32_t RecordText::LoadWindow(uint32_t p) {
    MarkWindowEmpty();
    if (source_.path.empty()) return 0;
    uint32_t start = p <= kWindowHalf ? 0 : p - kWindowHalf;
    DWORD access = GENERIC_READ | (source_.writeAccess ? GENERIC_WRITE : 0);
    vx::unique_file file(vx::OpenFile(source_.path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    if (!file) return 0;
    LARGE_INTEGER at;
    at.QuadPart = start;
    DWORD read = 0;
    if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !::ReadFile(file.get(), window_, kWindowSize - 1, &read, nullptr))
        read = 0;
    endOfFile_ = read < kWindowSize - 1;
    window_[read] = '\0';
    if (read > 0 && window_[read - 1] == '\x01') window_[--read] = '\0';
    if (read == 0) return 0;
    windowOffset_ = start;
    windowLength_ = read;
    return read;
}

std::string RecordText::FirstLine(uint32_t recPtr) {
    if (!InWindow(recPtr) && (LoadWindow(recPtr) == 0 || !InWindow(recPtr))) return " ";
    size_t at = recPtr - windowOffset_;
    size_t cr = Find(window_, windowLength_, at, '\r');
    if (cr >= windowLength_ && !endOfFile_) {
        // The line runs past the window: place the window at the record.
        if (LoadWindow(recPtr) == 0 || !InWindow(recPtr)) return " ";
        at = recPtr - windowOffset_;
        cr = Find(window_, windowLength_, at, '\r');
    }
    cursor_ = static_cast<uint32_t>(at);
    return std::string(window_ + at, cr - at);  // a line longer than the window: its first part
}

std::optional<std::string> RecordText::NextLine() {
    if (windowOffset_ == kEmptyWindow) return std::nullopt;
    size_t next = NextLineStart(window_, windowLength_, cursor_);
    if (next >= windowLength_) {
        if (endOfFile_) return std::nullopt;
        uint32_t fileCursor = windowOffset_ + cursor_;
        if (LoadWindow(fileCursor) == 0 || !InWindow(fileCursor)) return " ";
        cursor_ = fileCursor - windowOffset_;
        next = NextLineStart(window_, windowLength_, cursor_);
        if (next >= windowLength_) return std::nullopt;
    }
    cursor_ = static_cast<uint32_t>(next);
    size_t cr = Find(window_, windowLength_, next, '\r');
    if (cr >= windowLength_ && !endOfFile_) {
        uint32_t fileCursor = windowOffset_ + cursor_;
        if (LoadWindow(fileCursor) == 0 || !InWindow(fileCursor)) return " ";
        cursor_ = fileCursor - windowOffset_;
        next = cursor_;
        cr = Find(window_, windowLength_, next, '\r');
    }
    // The next record's first line, or the end mark a saved trace keeps
    // after every record, ends this one.
    if (IsRecordStart(window_ + next, windowLength_ - next) || window_[next] == '\x01') return std::nullopt;
    return std::string(window_ + next, cr - next);
}

long RecordText::BufferAround(uint32_t recPtr, bool fresh) {
    if (!fresh && text_->valid && recPtr >= text_->fileOffset && recPtr < text_->fileOffset + text_->length)
        return static_cast<long>(recPtr - text_->fileOffset);
    if (source_.path.empty()) return -1;
    uint32_t from = recPtr >= 2 ? recPtr - 2 : 0;
    bool complete = false;
    uint32_t got = 0;
    text_->valid = false;
    if (!ReadChunk(source_.path.c_str(), from, kFieldRead, text_, &complete, &got) || got <= recPtr - from) {
        text_->valid = false;
        return -1;
    }
    return static_cast<long>(recPtr - from);
}

std::optional<std::string> RecordText::FieldLine(uint32_t recPtr, const char* two) {
    for (bool fresh : {false, true}) {
        long start = BufferAround(recPtr, fresh);
        if (start < 0) return std::nullopt;
        const char* text = text_->bytes.data();
        size_t length = text_->length;
        // Not bounded by the record's end: the first such line after it.
        for (size_t line = static_cast<size_t>(start); line < length; line = NextLineStart(text, length, line)) {
            size_t cr = Find(text, length, line, '\r');
            if (cr >= length) break;
            if (line + 2 <= length && text[line] == two[0] && text[line + 1] == two[1])
                return std::string(text + line, cr - line);
        }
        // Ran out of buffer: read afresh around the record, once.
    }
    return std::nullopt;
}

std::optional<std::string> RecordText::MethodName(uint32_t recPtr, uint32_t consumed) {
    if (recPtr >= consumed) return std::nullopt;
    std::optional<std::string> line = FieldLine(recPtr, "Me");
    if (!line) return std::nullopt;
    if (line->size() < 7 || (*line)[6] != ':') return std::string("Call beyond Vtable");
    size_t first = line->find(' ');
    size_t second = first == std::string::npos ? first : line->find(' ', first + 1);
    if (second == std::string::npos) return std::string();
    size_t third = line->find(' ', second + 1);
    return line->substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
}

std::optional<std::string> RecordText::ClassName(uint32_t recPtr, uint32_t consumed, long* instance) {
    *instance = 0;
    if (recPtr >= consumed) return std::nullopt;
    std::optional<std::string> line = FieldLine(recPtr, "Cl");
    if (!line || line->size() < 6 || (*line)[5] != ':') return std::nullopt;
    size_t paren = line->find('(');
    if (paren == std::string::npos || paren < 8) return std::nullopt;
    size_t hash = line->find('#', paren);
    if (hash != std::string::npos && hash + 2 <= line->size()) *instance = std::atol(line->c_str() + hash + 2);
    return line->substr(7, paren - 1 - 7);
}

std::optional<std::string> RecordText::ProcessCommandLine(uint32_t recPtr, uint32_t consumed) {
    if (recPtr >= consumed) return std::nullopt;
    std::optional<std::string> line = FieldLine(recPtr, "Ho");
    if (!line) return std::nullopt;
    size_t colon = line->find(':');
    if (colon == std::string::npos || colon + 2 > line->size()) return std::string();
    return line->substr(colon + 2);
}

std::optional<std::string> RecordText::DllShortName(uint32_t recPtr, uint32_t consumed) {
    if (recPtr >= consumed) return std::nullopt;
    for (bool fresh : {false, true}) {
        long start = BufferAround(recPtr, fresh);
        if (start < 0) return std::nullopt;
        const char* text = text_->bytes.data();
        size_t length = text_->length;
        size_t cr = Find(text, length, static_cast<size_t>(start), '\r');
        if (cr >= length) continue;
        std::string line(text + start, cr - static_cast<size_t>(start));
        size_t colon = line.find(':');
        if (colon == std::string::npos) return std::string();
        size_t eq = line.find('=', colon);
        size_t from = colon + 2;
        if (eq == std::string::npos || eq < from + 1) return std::string();
        return line.substr(from, eq - 1 - from);
    }
    return std::nullopt;
}

long RecordText::RecordAmount(const std::string& path) {
    vx::unique_file file(vx::OpenFile(path, GENERIC_READ, 0, OPEN_EXISTING));
    if (!file) return 0;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) return 0;
    LONGLONG start = size.QuadPart > 4096 ? size.QuadPart - 4096 : 0;
    LARGE_INTEGER at;
    at.QuadPart = start;
    char tail[4097];
    DWORD read = 0;
    if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) || !::ReadFile(file.get(), tail, 4096, &read, nullptr))
        return 0;
    if (read > 0 && tail[read - 1] == '\x01') --read;
    std::string text(tail, read);
    size_t end = text.rfind("]\r\n");
    if (end == std::string::npos) return 0;
    size_t open = text.rfind('[', end);
    if (open == std::string::npos) return 0;
    return std::atol(text.c_str() + open + 1);
}

}  // namespace ledra
