// The trace reader's end-to-end fixture: the sample registered (unhooked),
// nothing in the module list, the reader registered; vxtrace as a user runs it.
#pragma once

#include <algorithm>
#include <functional>
#include <string>

#include "Ledra.h"
#include "e2e.h"
#include "modulelist.h"
#include "raii.h"
#include "recorddescriptor.h"
#include "textconv.h"

namespace e2e {

// A record's lines without the empty ones, each ended by `lineEnd`: as the
// reader hands them out ("\r\n") and vxtrace prints them ("\n").
inline std::string RecordLines(const std::string& record, const char* lineEnd) {
    std::string text;
    for (size_t at = 0, end; at < record.size(); at = end + 1) {
        end = std::min(record.find('\n', at), record.size());
        const size_t size = end - at - (end > at && record[end - 1] == '\r');
        if (size) text += record.substr(at, size) + lineEnd;
    }
    return text;
}

// Runs the window messages waiting: the reader's watcher calls into this
// apartment through them.
inline void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

// Pumps until done() or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms = 20000) {
    for (DWORD start = ::GetTickCount(); !done(); ::Sleep(50)) {
        if (::GetTickCount() - start > ms) return false;
        Pump();
    }
    return true;
}

// This thread in a single-threaded apartment while it lives.
class Apartment {
public:
    Apartment() : ok_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_OK) { EXPECT_TRUE(ok_); }
    ~Apartment() {
        if (ok_) ::CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    bool ok_;
};

// A trace reader created through COM, as its clients create it; told the
// installation folder when one is given. Empty (and a failure) when refused.
inline vx::com_ptr<ITraceReader> NewTraceReader(const std::string& folder = "") {
    vx::com_ptr<ITraceReader> reader;
    EXPECT_EQ(::CoCreateInstance(CLSID_TraceReader, nullptr, CLSCTX_INPROC_SERVER, IID_ITraceReader,
                                 reader.put_void()),
              S_OK);
    if (reader && !folder.empty()) {
        vx::unique_bstr path(vx::NewBstr(folder));
        reader->put_InstallationPath(path.get());
    }
    return reader;
}

// The descriptors one GetNewRecords call hands out, sized as the count says.
inline std::vector<vx::RecordDescriptor> NewRecords(ITraceReader* reader) {
    vx::unique_variant array;
    long real = 0, lockedOut = 0, count = 0;
    EXPECT_EQ(reader->GetNewRecords(&array, &real, &lockedOut, &count), S_OK);
    if (count <= 0) return {};
    EXPECT_EQ(array.vt, VT_ARRAY | VT_UI1);
    if (array.vt != (VT_ARRAY | VT_UI1)) return {};
    vx::safearray_access<uint8_t> data(array.parray);
    EXPECT_EQ(data.size(), sizeof(vx::RecordDescriptor) * static_cast<ULONG>(count));
    return vx::DescriptorsOf(data.data(), data.size(), count);
}

// The sample unhooked and nothing in the module list; the reader registered.
class ReaderTest : public TraceTest {
protected:
    void SetUp() override {
        TraceTest::SetUp();
        std::string error;
        ASSERT_TRUE(vxinstall::RegisterComponent(sample, false, &error)) << error;
        inst.main.modules.clear();
        Rewrite();
        ASSERT_TRUE(vxinstall::RegisterComponent(inst.folder + "Ledra.dll", false, &error)) << error;
    }
    // Its output with the console's CR LF line ends read as LF.
    ProcessResult Vxtrace(const std::string& arguments, DWORD timeoutMs = 120000) {
        ProcessResult result = RunProgram(Quoted(inst.folder + "vxtrace.exe") + " " + arguments, timeoutMs);
        std::erase(result.output, '\r');
        return result;
    }
    std::string Settings() const { return ReadFileText(inst.folder + "Vexilo.txt"); }
};

// The same with the sample hooked through vxtrace, as a user hooks it.
class HookedReaderTest : public ReaderTest {
protected:
    void SetUp() override {
        ReaderTest::SetUp();
        ProcessResult hook = Vxtrace("hook " + Quoted(sample));
        ASSERT_EQ(hook.exitCode, 0u) << hook.output;
    }
    void TearDown() override {
        Vxtrace("unhook " + Quoted(sample));
        ReaderTest::TearDown();
    }
};

}  // namespace e2e
