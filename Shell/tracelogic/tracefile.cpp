// Saved traces: the whole-record rule, Save Trace and the checks of a file
// that is to be opened.
#include "tracefile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "raii.h"

namespace shell {

namespace {

constexpr char kEndByte = '\x01';
constexpr const char* kRecordMarks[] = {"*** ", "   *", "--- ", "<<<<", "===="};

// Files are read while the kernel may be appending to them.
vx::unique_file OpenShared(const std::string& path) {
    return vx::unique_file(::CreateFileA(path.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadAt(HANDLE file, uint64_t offset, size_t size, std::string* out) {
    out->assign(size, '\0');
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 24));
        if (!::ReadFile(file, out->data() + done, want, &got, nullptr)) return false;
        if (got == 0) break;
        done += got;
    }
    out->resize(done);
    return true;
}

// The last record start of text (the offset of its first line), or npos.
size_t LastRecordStart(std::string_view text) {
    for (size_t p = text.size(); p >= 2; --p) {
        if (text[p - 1] == '\n' && text[p - 2] == '\r' && IsRecordStart(text, p)) return p;
    }
    return std::string_view::npos;
}

}  // namespace

bool IsRecordStart(std::string_view text, size_t line) {
    if (line > text.size() || text.size() - line < 4) return false;
    for (const char* mark : kRecordMarks)
        if (std::memcmp(text.data() + line, mark, 4) == 0) return true;
    return false;
}

size_t WholeRecordsLength(std::string_view text) {
    if (text.empty()) return 0;
    if (text.back() == kEndByte) return text.size() - 1;
    size_t last = LastRecordStart(text);
    return last == std::string_view::npos ? 0 : last - 2;
}

SaveResult SaveTrace(const std::string& source, const std::string& target) {
    SaveResult result;
    std::string text;
    {
        vx::unique_file file = OpenShared(source);
        LARGE_INTEGER size{};
        if (!file || !::GetFileSizeEx(file.get(), &size) ||
            !ReadAt(file.get(), 0, static_cast<size_t>(size.QuadPart), &text)) {
            result.error = ::GetLastError();
            return result;
        }
    }
    size_t whole = WholeRecordsLength(text);
    result.cut = !text.empty() && text.back() != kEndByte;
    text.resize(whole);
    if (whole > 0) text.push_back(kEndByte);

    // Written beside the target and moved over it, so that a failed write
    // leaves an existing file of that name as it was.
    size_t slash = target.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash + 1);
    char temp[MAX_PATH];
    if (!::GetTempFileNameA(folder.c_str(), "vxt", 0, temp)) {
        result.error = ::GetLastError();
        return result;
    }
    bool written = false;
    {
        vx::unique_file out(
            ::CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        written = out && (text.empty() || (::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()),
                                                       &done, nullptr) &&
                                           done == text.size()));
        if (!written) result.error = ::GetLastError();
    }
    if (written && !::MoveFileExA(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        result.error = ::GetLastError();
        written = false;
    }
    if (!written) {
        ::DeleteFileA(temp);
        return result;
    }
    result.ok = true;
    result.bytes = text.size();
    return result;
}

TraceFileCheck InspectTraceFile(const std::string& path) {
    TraceFileCheck check;
    vx::unique_file file = OpenShared(path);
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size)) return check;
    const uint64_t length = static_cast<uint64_t>(size.QuadPart);
    check.state = TraceFileState::NotATrace;

    // A trace starts with a line break and its first record's first line.
    std::string head;
    if (!ReadAt(file.get(), 0, static_cast<size_t>(std::min<uint64_t>(length, 4096)), &head)) return check;
    size_t line = 0;
    while (head.compare(line, 2, "\r\n") == 0) line += 2;
    if (line == 0 || !IsRecordStart(head, line)) return check;

    // The last whole record: from a tail that grows until it holds the start
    // of the last record (or is the whole file).
    std::string tail;
    for (uint64_t want = 65536;; want *= 2) {
        uint64_t from = length > want ? length - want : 0;
        if (!ReadAt(file.get(), from, static_cast<size_t>(length - from), &tail)) return check;
        if (!tail.empty() && tail.back() == kEndByte) {
            check.state = TraceFileState::Whole;
            check.wholeLength = static_cast<uint32_t>(length - 1);
            return check;
        }
        size_t last = LastRecordStart(tail);
        if (last != std::string_view::npos || from == 0) {
            check.state = TraceFileState::Cut;
            check.wholeLength = last == std::string_view::npos ? 0 : static_cast<uint32_t>(from + last - 2);
            return check;
        }
    }
}

bool TraceFileReading::ShouldRead() const {
    return check_.state == TraceFileState::Whole || check_.state == TraceFileState::Cut;
}

bool TraceFileReading::TakeBatch(long recAmNew, bool stopRequested) {
    if (stopRequested) {
        stopped_ = true;
        return false;
    }
    if (recAmNew == kStaticTraceFileCut) {  // the records before the cut one were delivered
        ended_ = true;
        cut_ = true;
        return false;
    }
    if (recAmNew < 0) {  // INCORRECT_STATIC_FILE_PATH
        unreadable_ = true;
        return false;
    }
    if (recAmNew == 0) {  // END_OF_STATIC_TRACE_FILE
        ended_ = true;
        return false;
    }
    return true;
}

bool TraceFileReading::AddsFinalReport() const { return ShouldRead() && ended_ && !stopped_ && !unreadable_; }

std::string TraceFileReading::Message(const std::string& path) const {
    if (stopped_) return std::string();
    if (check_.state == TraceFileState::Missing || unreadable_) return "The trace file cannot be opened:\r\n" + path;
    if (check_.state == TraceFileState::NotATrace)
        return "This file is not a trace: no trace record was found at its start.\r\n" + path;
    if ((check_.state == TraceFileState::Cut || cut_) && ended_)
        return "The trace file ends inside a record; the records before it are shown.\r\n" + path;
    return std::string();
}

}  // namespace shell
