// run and dump: the records of a traced program as they arrive, or of a
// saved trace file.
#include <cstdio>
#include <cstring>
#include <memory>

#include "commands.h"
#include "data.h"
#include "eventids.h"
#include "eventsink.h"
#include "recorddescriptor.h"
#include "tracemap.h"

namespace vxtrace {
namespace {

constexpr DWORD kPollMs = 20;
// After the program has ended: how long to wait for records while none come,
// and at most in all.
constexpr DWORD kQuietMs = 3000;
constexpr DWORD kDrainMs = 15000;

// The events of the reader: only the end of a tracing run matters here.
class EventSink final : public vxs::EventSinkOf<&DIID_ITraceReaderEvents> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == vx::kEndOfProcess) endOfProcess = true;
        if (id == vx::kStartOfProcess) endOfProcess = false;
        return S_OK;
    }
    bool endOfProcess = false;
};

// Records to standard output (a blank line after each, or exported) and,
// when asked, to a file in the saved-trace format: lines led by CR LF, every
// record ending in its 0x01 end mark, so that dump and the main window read
// it whole; and to the comparison with a golden trace.
class Output {
public:
    Output(vx::ExportFormat format, vx::ComparableTrace* compared) : compared_(compared) {
        exporter_ = vx::MakeExporter(format, [this](const std::string& text) { Show(text); });
    }
    // Whether the file can be written, without touching what it holds.
    static bool CanWrite(const std::string& path) {
        if (path.empty()) return true;
        std::string full = vx::FullPathOf(path);
        vx::unique_file file(vx::OpenFile(full, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
        if (file) return true;
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
        DWORD attributes = vx::FileAttributes(full.substr(0, full.rfind('\\') + 1));
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    // Replaces the file: called once the program has started.
    bool Open(const std::string& path) {
        if (path.empty()) return true;
        file_.reset(vx::OpenFile(vx::FullPathOf(path), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS));
        return static_cast<bool>(file_);
    }
    // Gathered and written a few records at a time. On the screen each write
    // is one call of at most a few kilobytes (or one record), so the traced
    // program's own lines, on the same output, come between records and never
    // inside one; the file's text goes in one write a batch.
    void Record(const std::vector<std::string>& lines) {
        if (exporter_ || compared_) {
            vx::TraceRecord record = vx::ParseRecord(lines);
            if (exporter_) exporter_->Take(record);
            if (compared_) compared_->Take(record);
        }
        if (!exporter_) {
            std::string text;
            for (const std::string& line : lines) text += line + "\n";
            Show(text + "\n");
        }
        if (file_) {
            for (const std::string& line : lines) saved_ += "\r\n" + line;
            saved_ += "\r\n\x01";
        }
    }
    // The end of the run: calls that never returned are exported too.
    void Finish() {
        if (exporter_) exporter_->Finish();
        if (compared_) compared_->Finish();
        Flush();
    }
    void Flush() {
        if (!screen_.empty()) Print(screen_);
        screen_.clear();
        if (file_ && !saved_.empty()) {
            DWORD written = 0;
            ::WriteFile(file_.get(), saved_.data(), static_cast<DWORD>(saved_.size()), &written, nullptr);
        }
        saved_.clear();
    }

private:
    void Show(const std::string& text) {
        if (!screen_.empty() && screen_.size() + text.size() > kAtomicWrite) {
            Print(screen_);
            screen_.clear();
        }
        screen_ += text;
    }

    // What a pipe takes in whole, between other writers' writes.
    static constexpr size_t kAtomicWrite = 4096;
    std::unique_ptr<vx::RecordExporter> exporter_;
    vx::ComparableTrace* compared_;
    vx::unique_file file_;
    std::string screen_;
    std::string saved_;
};

// "[n]" at the end of a record's first line.
long RecordNumberOf(const std::string& first) {
    size_t open = first.rfind('[');
    return open == std::string::npos ? 0 : std::atol(first.c_str() + open + 1);
}

struct Batch {
    long count = 0;  // RecAmNew: a count, or one of the negative answers
    long realLast = 0;
    bool locked = false;
    std::vector<vx::RecordDescriptor> records;
};

Batch Poll(ITraceReader* reader) {
    Batch batch;
    vx::unique_variant array;
    long locked = 0;
    if (FAILED(reader->GetNewRecords(&array, &batch.realLast, &locked, &batch.count))) batch.count = 0;
    batch.locked = locked != 0;
    if (batch.count > 0 && array.vt == (VT_ARRAY | VT_UI1)) {
        vx::safearray_access<uint8_t> data(array.parray);
        batch.records = vx::DescriptorsOf(data.data(), data.size(), batch.count);
    }
    return batch;
}

std::string QuotedCommandLine(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty()) line += ' ';
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            line += arg;
            continue;
        }
        line += '"';
        size_t slashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++slashes;
                continue;
            }
            line.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
            slashes = 0;
            line += c;
        }
        line.append(slashes * 2, '\\');
        line += '"';
    }
    return line;
}

std::string OtherReaderText(DWORD process) {
    std::string who = process == ~0u ? "another process" : "process " + std::to_string(process);
    return "another trace reader (" + who +
           ", the main window or a vxtrace run) is reading the live trace; end it first";
}

}  // namespace

// Starts the program to trace; false after saying why. With `outputToErrors`
// its standard output goes to our error stream, so that ours holds data only.
bool StartProgram(const std::vector<std::string>& command, bool outputToErrors, vx::unique_handle* process,
                  uint32_t* processId) {
    std::string line = QuotedCommandLine(command);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (outputToErrors) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        Fail("cannot start \"" + command[0] + "\" (error " + std::to_string(::GetLastError()) + ")");
        return false;
    }
    vx::unique_handle thread(started.hThread);  // never waited for
    process->reset(started.hProcess);
    *processId = started.dwProcessId;
    return true;
}

// When the polls may stop: the program has ended and every record its
// writers started has come, or none came for too long.
class TraceEnd {
public:
    void Saw(const Batch& batch, DWORD now) {
        realLast_ = std::max(realLast_, batch.realLast);
        if (!batch.records.empty()) lastRecordAt_ = now;
    }
    void Numbered(long number) { lastNumber_ = std::max(lastNumber_, number); }
    void ProgramEnded(DWORD now) {
        ended_ = true;
        endedAt_ = lastRecordAt_ = now;
    }
    bool programEnded() const { return ended_; }

    bool Over(ITraceReader* reader, const Batch& batch, bool endOfProcess, DWORD now) const {
        if (!ended_ || !batch.records.empty()) return false;
        // Every record the writers started is here, or the run is over.
        long state = 1;
        reader->GetMapFileState(&state);
        if (!batch.locked && (state == 1 || lastNumber_ >= realLast_ || endOfProcess)) return true;
        // Records started by threads that ended inside a traced call never
        // come: stop once none has come for a while, and say so.
        if (now - lastRecordAt_ <= kQuietMs && now - endedAt_ <= kDrainMs) return false;
        long missing = realLast_ - lastNumber_;
        Fail(missing > 0 ? std::to_string(missing) +
                               " records started by traced processes never reached the trace (their threads "
                               "ended inside traced calls, or another traced process is still running)"
                         : "the trace did not report the end of the program's tracing run");
        return true;
    }

private:
    long lastNumber_ = 0, realLast_ = 0;
    DWORD endedAt_ = 0, lastRecordAt_ = ::GetTickCount();
    bool ended_ = false;
};

// The program's records to `out`, poll by poll, until the trace is over.
void FollowTrace(Session& session, const EventSink& sink, HANDLE process, uint32_t programId, Output& out) {
    ITraceReader* reader = session.reader();
    TraceEnd end;
    for (;;) {
        Session::Pump();
        Batch batch = Poll(reader);
        if (batch.count == OTHER_TRACE_READER_ATTACHED) {
            Fail(OtherReaderText(vx::AttachedReaderProcess()));
            return;
        }
        for (const vx::RecordDescriptor& record : batch.records) {
            std::vector<std::string> lines = session.RecordLines(static_cast<long>(record.offset));
            end.Numbered(RecordNumberOf(lines[0]));
            if (record.processId == programId) out.Record(lines);
        }
        out.Flush();
        DWORD now = ::GetTickCount();
        end.Saw(batch, now);
        if (!end.programEnded() && ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0) end.ProgramEnded(now);
        if (end.Over(reader, batch, sink.endOfProcess, now)) return;
        if (batch.records.empty()) ::Sleep(kPollMs);
    }
}

int Run(Session& session, const RunOptions& options) {
    ITraceReader* reader = session.reader();
    const std::string& outFile = options.outFile;
    if (!Output::CanWrite(outFile)) {
        Fail("cannot write \"" + outFile + "\"");
        return kBadInput;
    }
    if (DWORD other = vx::AttachedReaderProcess()) {
        Fail(OtherReaderText(other));
        return kReaderBusy;
    }
    // The hooks of the module list, in force again where a component
    // registered itself since.
    ReapplyHooks(session);
    reader->put_Mode(2);  // TRACER_MODE_DYNAMIC
    EventSink sink;
    vx::advise_cookie events;
    events.advise(reader, DIID_ITraceReaderEvents, &sink);

    // The map lives while a process holds it: a program that ends before the
    // first poll would take its map, and with it where its records are, along.
    // The kernel sets up a map it finds without live processes.
    vx::unique_handle map(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, vx::kTraceMapSize,
                                               vx::kTraceMapName));
    // Attached before the program starts: a reader that came first keeps the trace.
    if (Poll(reader).count == OTHER_TRACE_READER_ATTACHED) {
        Fail(OtherReaderText(vx::AttachedReaderProcess()));
        return kReaderBusy;
    }
    // The golden trace is read first: a bad one fails before the program runs.
    bool expecting = !options.expect.empty();
    vx::ComparableTrace golden(options.compare), traced(options.compare);
    if (expecting && !ReadComparable(options.expect, &golden)) return kBadInput;
    vx::unique_handle process;
    uint32_t programId = 0;
    bool data = options.format != vx::ExportFormat::Text;
    if (!StartProgram(options.program, data, &process, &programId)) return kBadInput;
    Output out(options.format, expecting ? &traced : nullptr);
    if (!out.Open(outFile)) Fail("cannot write \"" + outFile + "\": the records go to the screen only");
    // The reader runs this thread at the highest priority: the program must
    // not wait for us.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    FollowTrace(session, sink, process.get(), programId, out);
    out.Finish();
    if (expecting) return Judge(golden, traced);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

int Dump(Session& session, const std::string& traceFile) {
    std::string path = ExistingFile(traceFile);
    if (path.empty()) {
        Fail("cannot read trace file \"" + traceFile + "\"");
        return kBadInput;
    }
    ITraceReader* reader = session.reader();
    reader->put_Mode(1);  // TRACER_MODE_STATIC
    vx::unique_bstr wide(vx::NewBstr(path));
    reader->put_StaticTraceFilePath(wide.get());
    Output out(vx::ExportFormat::Text, nullptr);
    size_t records = 0;
    for (;;) {
        Batch batch = Poll(reader);
        if (batch.count == STATIC_TRACE_FILE_CUT) {
            Fail("\"" + path + "\" ends inside a record: the " + std::to_string(records) +
                 " whole records before it were printed");
            return kBadInput;
        }
        if (batch.count < 0) {
            Fail("cannot read trace file \"" + path + "\"");
            return kBadInput;
        }
        if (batch.count == 0) break;
        for (const vx::RecordDescriptor& record : batch.records) {
            out.Record(session.RecordLines(static_cast<long>(record.offset)));
            ++records;
        }
        out.Flush();
    }
    if (records == 0) {
        Fail("no records in \"" + path + "\"");
        return kBadInput;
    }
    return kOk;
}

}  // namespace vxtrace
