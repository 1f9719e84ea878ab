// run and dump: the records of a traced program as they arrive, or of a
// saved trace file.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "eventsink.h"
#include "tracemap.h"

namespace vxtrace {
namespace {

constexpr DWORD kPollMs = 20;
// After the program has ended, how long records may still be awaited.
constexpr DWORD kDrainMs = 15000;

// The events of the reader: only the end of a tracing run matters here.
class EventSink final : public vxs::EventSinkOf<&DIID_ITraceReaderEvents> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == 3) endOfProcess = true;  // EndOfProcess
        if (id == 2) endOfProcess = false;  // StartOfProcess
        return S_OK;
    }
    bool endOfProcess = false;
};

// Writes records to standard output and, when asked, to a file (CR LF).
class Output {
public:
    bool Open(const std::string& path) {
        if (path.empty()) return true;
        file_ = std::fopen(path.c_str(), "wb");
        return file_ != nullptr;
    }
    ~Output() {
        if (file_) std::fclose(file_);
    }
    void Record(const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        Print(text + "\n");
        if (file_) {
            std::string crlf;
            for (const std::string& line : lines) crlf += line + "\r\n";
            crlf += "\r\n";
            std::fwrite(crlf.data(), 1, crlf.size(), file_);
            std::fflush(file_);
        }
    }

private:
    std::FILE* file_ = nullptr;
};

// "[n]" at the end of a record's first line.
long RecordNumberOf(const std::string& first) {
    size_t open = first.rfind('[');
    return open == std::string::npos ? 0 : std::atol(first.c_str() + open + 1);
}

struct Batch {
    long count = 0;
    long realLast = 0;
    bool locked = false;
    std::vector<uint8_t> bytes;
};

Batch Poll(ITraceReader* reader) {
    Batch batch;
    vx::unique_variant records;
    long locked = 0;
    if (FAILED(reader->GetNewRecords(&records, &batch.realLast, &locked, &batch.count))) batch.count = 0;
    batch.locked = locked != 0;
    if (batch.count > 0 && records.vt == (VT_ARRAY | VT_UI1)) {
        void* data = nullptr;
        if (SUCCEEDED(::SafeArrayAccessData(records.parray, &data))) {
            batch.bytes.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + 20 * batch.count);
            ::SafeArrayUnaccessData(records.parray);
        }
    }
    return batch;
}

uint32_t Word(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
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

}  // namespace

int Run(Session& session, const std::string& outFile, const std::vector<std::string>& command) {
    Output out;
    if (!out.Open(outFile)) {
        Fail("cannot write \"" + outFile + "\"");
        return kBadInput;
    }
    ITraceReader* reader = session.reader();
    reader->put_Mode(2);  // TRACER_MODE_DYNAMIC
    EventSink sink;
    vx::com_ptr<IConnectionPointContainer> container;
    vx::com_ptr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (SUCCEEDED(reader->QueryInterface(IID_IConnectionPointContainer, container.put_void())) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_ITraceReaderEvents, point.put())))
        point->Advise(&sink, &cookie);

    // The map lives while a process holds it: a program that ends before the
    // first poll would take its map, and with it where its records are, along.
    // The kernel sets up a map it finds without live processes.
    vx::unique_handle map(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, vx::kTraceMapSize,
                                               vx::kTraceMapName));
    std::string line = QuotedCommandLine(command);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
        Fail("cannot start \"" + command[0] + "\" (error " + std::to_string(::GetLastError()) + ")");
        if (point) point->Unadvise(cookie);
        return kBadInput;
    }
    vx::unique_handle process(started.hProcess), thread(started.hThread);
    // The reader runs this thread at the highest priority: the program must
    // not wait for us.
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_NORMAL);

    const uint32_t programId = started.dwProcessId;
    long lastNumber = 0;
    DWORD endedAt = 0;
    bool ended = false;
    for (;;) {
        Session::Pump();
        Batch batch = Poll(reader);
        for (long i = 0; i < batch.count; ++i) {
            size_t at = static_cast<size_t>(i) * 20;
            uint32_t recPtr = Word(batch.bytes, at + 8);
            std::vector<std::string> lines = session.RecordLines(static_cast<long>(recPtr));
            lastNumber = std::max(lastNumber, RecordNumberOf(lines[0]));
            if (Word(batch.bytes, at + 16) == programId) out.Record(lines);
        }
        if (!ended && ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
            ended = true;
            endedAt = ::GetTickCount();
        }
        if (ended && batch.count == 0 && !batch.locked) {
            // Every record the writer has started is here, or the run is over.
            long state = 1;
            reader->GetMapFileState(&state);
            if (state == 1 || lastNumber >= batch.realLast || sink.endOfProcess) break;
            if (::GetTickCount() - endedAt > kDrainMs) {
                Fail("records of the program were still missing " + std::to_string(kDrainMs / 1000) +
                     " s after it ended");
                break;
            }
        }
        if (batch.count == 0) ::Sleep(kPollMs);
    }
    if (point) point->Unadvise(cookie);
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
    Output out;
    size_t records = 0;
    for (;;) {
        Batch batch = Poll(reader);
        if (batch.count < 0) {
            Fail("cannot read trace file \"" + path + "\"");
            return kBadInput;
        }
        if (batch.count == 0) break;
        for (long i = 0; i < batch.count; ++i) {
            out.Record(session.RecordLines(static_cast<long>(Word(batch.bytes, static_cast<size_t>(i) * 20 + 8))));
            ++records;
        }
    }
    if (records == 0) {
        Fail("no records in \"" + path + "\"");
        return kBadInput;
    }
    return kOk;
}

}  // namespace vxtrace
