// Shared pieces of the end-to-end tests: the installation under test, the
// trace map held open by the test (as the trace reader holds it), and record
// parsing.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "layout.h"
#include "process.h"
#include "raii.h"
#include "testinstall.h"
#include "../unit/tempdir.h"

namespace e2e {

std::string ArchName();
std::string SamplePath();     // the sample component, as a Windows path
std::string PlainPath();      // the component without a type library
std::string ClientPath();
std::string StressPath();
// The prefix's script host running one of the sample scripts ("calc.js").
std::string ScriptCommand(const std::string& script);
std::string Quoted(const std::string& path);
// The unit tests' file helpers, under the names the end-to-end tests use.
inline constexpr auto& ReadFileText = ReadWhole;
inline constexpr auto& WriteFileText = WriteWhole;
// A string value under HKEY_CLASSES_ROOT (the key's default value without a
// name) as stored, an expandable one not expanded; "<missing>" when there is none.
std::string RegString(const std::string& key, const char* name = nullptr);

// The named trace map, opened or created by the test so that its content
// outlives the clients.
class HeldMap {
public:
    explicit HeldMap(const char* name = korbin::kTraceMapName);
    korbin::TraceMap* operator->() const { return get(); }
    korbin::TraceMap* get() const { return static_cast<korbin::TraceMap*>(view_.get()); }
    std::string Ring() const;

private:
    vx::unique_handle handle_;
    vx::unique_view view_;
};

// A window of the test's own that keeps every text set on it: the kernel
// tells the reader's window the latest record number so.
class TextWindow {
public:
    // `onText` runs as each text arrives, inside the sender's call.
    explicit TextWindow(std::function<void(const std::string&)> onText = {});
    ~TextWindow();
    HWND get() const { return window_; }
    uint32_t Handle32() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window_)); }

    std::vector<std::string> texts;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l);
    std::function<void(const std::string&)> onText_;
    HWND window_ = nullptr;
};

// Records of a trace file: the text of each, from the "\r\n" before its first
// line to the line break that ends it. The final end mark must be there.
std::vector<std::string> SplitRecords(const std::string& fileText);

// "LOAD", "UNLOAD", "CREATE", "DESTROY", "ENTER <thunk>.<slot>", "EXIT <thunk>.<slot>", "REPORT", "END".
std::string RecordKind(const std::string& record);
std::vector<std::string> RecordKinds(const std::vector<std::string>& records);
// How many of the kinds are `kind`.
int Count(const std::vector<std::string>& kinds, const std::string& kind);
// "" when, per thread, every exit closes the innermost open entry of the
// same serial and no entry stays open; else what went wrong.
std::string CheckCallPairing(const std::vector<std::string>& records);
// Every record numbered on from the one before, from 1 (the number in
// brackets of its header).
void ExpectNumberedOneByOne(const std::vector<std::string>& records);
// Only the LOAD DLL and UNLOAD DLL records.
std::vector<std::string> DllRecords(const std::vector<std::string>& records);
// The kinds of the DLL records that contain `process` (a "PID=...h" text, or
// "" for all), each followed by a blank: "LOAD UNLOAD LOAD UNLOAD ".
std::string DllKinds(const std::vector<std::string>& records, const std::string& process = "");
// The last `count` kinds, each followed by a blank: "UNLOAD REPORT END ".
std::string LastKinds(const std::vector<std::string>& kinds, size_t count);

// A record with the 24 characters of its Time: line replaced by "<time>".
std::string WithoutTime(const std::string& record);

// What a LOAD DLL or UNLOAD DLL record must say.
std::string DllRecord(const char* kind, const std::string& dllPath, DWORD threadId, DWORD processId, int number,
                      const std::string& commandLine, const char* unloadLine = nullptr);

// An ENTER or EXIT record without its header line, pointer values as "#".
struct Call {
    std::string kind;
    std::string body;
};
std::vector<Call> Calls(const std::vector<std::string>& records);

// Finds, from the last match on, the entry whose text is exactly `enter` (or
// starts with it when `prefixOnly`); its exit must follow at once.
class CallChecker {
public:
    explicit CallChecker(std::vector<Call> calls) : calls_(std::move(calls)) {}
    // The exit record's text, "<none>" (and a failure) when there is none.
    std::string Enter(const std::string& enter, bool prefixOnly = false);
    void Expect(const std::string& enter, const std::string& exit, bool prefixOnly = false) {
        EXPECT_EQ(Enter(enter, prefixOnly), exit) << enter;
    }

private:
    std::vector<Call> calls_;
    size_t next_ = 0;
};

// How often a loop that hunts an intermittent fault runs: `normal` times in a
// test run, `soak` times in a soak run (the environment variable VX_SOAK set).
int Repeats(int normal, int soak);

// Saves a window's picture as `name` in this architecture's build folder when
// the run asks for screenshots (the environment variable VX_TEST_SHOTS set),
// after a moment to let it paint; true when none was asked for or it was saved.
bool Screenshot(HWND window, const std::string& name);

// Installs into "C:\vxe2e-<arch>\" with the sample component hooked as number 1.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Rewrites the settings files with the installation's current content.
    void Rewrite();
    // Rewrites the settings with the distilled trace alone.
    void DistilledOnly() { inst.advanced.fullTrace = false; Rewrite(); }
    std::string Distilled() const { return ReadFileText(inst.folder + "TraceDistilled.txt"); }
    std::string Full() const { return ReadFileText(inst.folder + "TraceFull.txt"); }
    std::string ClientCommand(const std::string& scenario) const { return Quoted(ClientPath()) + " " + scenario; }
    // Runs `command` with the sample's own registration, then hooks it again.
    ProcessResult RunUnhooked(const std::string& command);

    vxinstall::Installation inst;
    std::string sample;
};

}  // namespace e2e
