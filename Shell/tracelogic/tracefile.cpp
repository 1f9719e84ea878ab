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

constexpr uint64_t kNoRecord = UINT64_MAX;
constexpr size_t kChunk = 1 << 20;

// The last record start among the file's first `length` bytes (kNoRecord for
// none), read backwards a chunk at a time so that memory stays bounded
// whatever the file's size; false when the file cannot be read.
bool LastRecordStartIn(HANDLE file, uint64_t length, uint64_t* start) {
    *start = kNoRecord;
    std::string window;
    // Candidates p in [from, to); a start needs "\r\n" before it and its
    // four-byte mark after it, so each window reaches 2 before and 3 after.
    for (uint64_t to = length; to > 2;) {
        uint64_t from = to > kChunk + 2 ? to - kChunk : 2;
        uint64_t readFrom = from - 2, readTo = std::min(length, to + 3);
        if (!ReadAt(file, readFrom, static_cast<size_t>(readTo - readFrom), &window) ||
            window.size() != readTo - readFrom)
            return false;
        // A start needs its whole mark inside the window, so none at or past
        // `to` is found again.
        size_t last = LastRecordStart(window);
        if (last != std::string_view::npos) {
            *start = readFrom + last;
            return true;
        }
        to = from;
    }
    return true;
}

// The length of the file's first `length` bytes up to its last whole record
// (without the end byte 0x01 that closes it), and whether it ends inside a
// record; false when it cannot be read. The writer overwrites a record's end
// byte with the next record's first line, so a file that does not end in 0x01
// is cut inside its last record, which starts after the last "\r\n" that is
// followed by a record mark; the whole records end just before that "\r\n".
bool WholeRecordsIn(HANDLE file, uint64_t length, uint64_t* whole, bool* cut) {
    *whole = 0;
    *cut = false;
    if (length == 0) return true;
    std::string last;
    if (!ReadAt(file, length - 1, 1, &last) || last.size() != 1) return false;
    if (last[0] == kEndByte) {
        *whole = length - 1;
        return true;
    }
    *cut = true;
    uint64_t start = kNoRecord;
    if (!LastRecordStartIn(file, length, &start)) return false;
    *whole = start == kNoRecord ? 0 : start - 2;
    return true;
}

// Copies the first `length` bytes of `from` to `to` a chunk at a time.
bool CopyBytes(HANDLE from, HANDLE to, uint64_t length) {
    std::string chunk;
    for (uint64_t done = 0; done < length;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(length - done, kChunk));
        DWORD written = 0;
        if (!ReadAt(from, done, want, &chunk) || chunk.size() != want ||
            !::WriteFile(to, chunk.data(), static_cast<DWORD>(want), &written, nullptr) || written != want)
            return false;
        done += want;
    }
    return true;
}

}  // namespace

bool IsRecordStart(std::string_view text, size_t line) {
    if (line > text.size() || text.size() - line < 4) return false;
    for (const char* mark : kRecordMarks)
        if (std::memcmp(text.data() + line, mark, 4) == 0) return true;
    return false;
}

SaveResult SaveTrace(const std::string& source, const std::string& target) {
    SaveResult result;
    vx::unique_file in = OpenShared(source);
    LARGE_INTEGER size{};
    uint64_t whole = 0;
    if (!in || !::GetFileSizeEx(in.get(), &size) ||
        !WholeRecordsIn(in.get(), static_cast<uint64_t>(size.QuadPart), &whole, &result.cut)) {
        result.error = ::GetLastError();
        return result;
    }

    // Written beside the target and moved over it, so that a failed write
    // leaves an existing file of that name as it was. The copy streams: a
    // trace can be larger than the memory this process can have.
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
        written = out && CopyBytes(in.get(), out.get(), whole) &&
                  (whole == 0 || (::WriteFile(out.get(), &kEndByte, 1, &done, nullptr) && done == 1));
        if (!written) result.error = ::GetLastError();
    }
    in.reset();
    if (written && !::MoveFileExA(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        result.error = ::GetLastError();
        written = false;
    }
    if (!written) {
        ::DeleteFileA(temp);
        return result;
    }
    result.ok = true;
    result.bytes = whole == 0 ? 0 : whole + 1;
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

    bool cut = false;
    uint64_t whole = 0;
    if (!WholeRecordsIn(file.get(), length, &whole, &cut)) return check;
    check.state = cut ? TraceFileState::Cut : TraceFileState::Whole;
    check.wholeLength = whole;
    return check;
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
