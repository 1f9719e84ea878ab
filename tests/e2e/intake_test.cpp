// Live intake through COM: a reader in this process, with a window of its
// own, polls while real clients run the hooked sample component.
#include <gtest/gtest.h>

#include <cstdio>

#include "eventids.h"
#include "eventsink.h"
#include "readertest.h"

namespace e2e {
namespace {

// Collects the reader's events as letters: S start, E end, N no active process.
// (How an event is called is checked by the connection point's unit test.)
class EventLetters final : public vxs::EventSinkOf<&DIID_ITraceReaderEvents> {
public:
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        letters += id == vx::kStartOfProcess ? 'S' : id == vx::kEndOfProcess ? 'E' : id == vx::kNoActiveProcess ? 'N' : '?';
        return S_OK;
    }
    std::string letters;
};

// A record handed out, with its text read back: its lines, each with CR LF.
struct Delivered : vx::RecordDescriptor {
    std::string text;
};

class LiveReader : public TraceTest {
protected:
    void SetUp() override {
        TraceTest::SetUp();
        std::string error;
        ASSERT_TRUE(vxinstall::RegisterComponent(inst.folder + "Ledra.dll", false, &error)) << error;
        reader = NewTraceReader(inst.folder);
        ASSERT_TRUE(reader);
        reader->put_StatHWND(static_cast<long>(window.Handle32()));
        reader->put_Mode(2);
        ASSERT_EQ(connection.advise(reader.get(), DIID_ITraceReaderEvents, &sink), S_OK);
    }
    void TearDown() override {
        connection.reset();
        reader.reset();
        TraceTest::TearDown();
    }

    // One poll; the records it delivered, with their text read back.
    std::vector<Delivered> Poll() {
        std::vector<Delivered> out;
        for (const vx::RecordDescriptor& descriptor : NewRecords(reader.get())) {
            Delivered d{descriptor, {}};
            EXPECT_EQ(d.zero, 0);
            vx::unique_bstr line;
            reader->GetFirstRecordString(static_cast<long>(d.offset), line.put());
            for (; line.get(); reader->GetNextRecordString(line.put())) d.text += vx::Narrow(line.get()) + "\r\n";
            out.push_back(d);
        }
        return out;
    }

    // A run's own end among the events from `from` on: an end after its start.
    // A reader that polled twice before the client started ends that run of
    // nothing first.
    bool RunEnded(size_t from) const {
        size_t started = sink.letters.find('S', from);
        return started != std::string::npos && sink.letters.find('E', started) != std::string::npos;
    }

    // Runs the client while polling; every record delivered until the run ends.
    std::vector<Delivered> TraceOneRun(const std::string& scenario, DWORD* processId) {
        std::vector<Delivered> all;
        ChildProcess child;
        EXPECT_TRUE(child.Start(ClientCommand(scenario)));
        *processId = child.processId();
        vx::unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, child.processId()));
        const size_t before = sink.letters.size();
        DWORD start = ::GetTickCount();
        bool finished = false;
        while (::GetTickCount() - start < 60000) {
            Pump();
            for (Delivered& d : Poll()) all.push_back(std::move(d));
            if (!finished && ::WaitForSingleObject(process.get(), 0) != WAIT_TIMEOUT)
                finished = true;
            if (finished && RunEnded(before)) break;
            // Woken by the kernel's notice at once: it waits only 10 ms for an answer.
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        child.Finish();
        return all;
    }

    Apartment apartment;  // outlives the reader
    vx::com_ptr<ITraceReader> reader;
    EventLetters sink;
    vx::advise_cookie connection;
    TextWindow window;
};

TEST_F(LiveReader, EveryRecordOnceInFileOrderWithItsTextAndTheEventsOfTwoRuns) {
    HeldMap held;  // the map outlives the clients, as with the main window
    for (int i = 0; i < 3; ++i) Poll();
    EXPECT_EQ(sink.letters, "NE") << "no traced process at the start";

    for (int run = 1; run <= 2; ++run) {
        window.texts.clear();
        DWORD pid = 0;
        std::vector<Delivered> delivered = TraceOneRun("basic", &pid);
        std::vector<std::string> records = SplitRecords(Distilled());
        ASSERT_EQ(delivered.size(), records.size()) << "run " << run;
        // Each record's text as the file holds it, without empty lines. Kinds
        // and serials are checked where they are used: the window's live-trace
        // test builds its tree from them.
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(delivered[i].text, RecordLines(records[i], "\r\n")) << "record " << i;
            EXPECT_EQ(delivered[i].processId, pid);
        }
        EXPECT_FALSE(window.texts.empty()) << "the kernel notifies the reader's window";
        EXPECT_EQ(sink.letters, run == 1 ? "NESNE" : "NESNESNE");
    }

    // The line members answer for records of the last run only after intake.
    BSTR name = nullptr;
    reader->GetMethodName(0x7FFFFFFF, &name);
    EXPECT_EQ(name, nullptr);
}

TEST_F(LiveReader, AClientKilledWhileItsRecordsWaitForTheReaderLosesNoneOfThem) {
    HeldMap held;
    for (int i = 0; i < 3; ++i) Poll();  // attached: the writers hold their text for this reader
    ChildProcess child;
    ASSERT_TRUE(child.Start(ClientCommand("loop 10000000")));
    const DWORD pid = child.processId();
    // No poll meanwhile: what the client wrote since its last full buffer
    // waits in the section, in no file.
    const DWORD start = ::GetTickCount();
    while (held->recordCounter < 3000 && ::GetTickCount() - start < 60000) ::Sleep(5);
    child.Kill();
    ASSERT_EQ(child.Finish(10000).exitCode, 9u);
    const LONG started = held->recordCounter;
    ASSERT_GE(started, 3000);

    size_t delivered = 0;
    const DWORD drain = ::GetTickCount();
    while (::GetTickCount() - drain < 30000) {
        Pump();
        delivered += Poll().size();
        if (RunEnded(0)) break;
        ::Sleep(10);
    }
    std::vector<std::string> records = SplitRecords(Distilled());
    ASSERT_NO_FATAL_FAILURE(ExpectNumberedOneByOne(records));
    // The record the client was writing when it was killed may be missing.
    EXPECT_GE(records.size() + 1, static_cast<size_t>(started));
    EXPECT_EQ(delivered, records.size());
    char header[40];
    std::snprintf(header, sizeof header, "PID=%lxh [", pid);
    const std::string full = Full();
    size_t inFull = 0;
    for (size_t at = full.find(header); at != std::string::npos; at = full.find(header, at + 1)) ++inFull;
    // The same records, and perhaps the one in progress: its full text goes first.
    EXPECT_GE(inFull, records.size());
    EXPECT_LE(inFull, records.size() + 1);
}

}  // namespace
}  // namespace e2e
