// The trace side of Vexilo.exe driven as a user drives it: the sample hooked
// from the window, tracing started, the sample client run, the trace tree,
// the event details and the final report read back from the controls and
// compared with the kernel's distilled trace; then the trace saved and opened
// again, whole and cut.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "e2e.h"
#include "shellwindow.h"

namespace e2e {
namespace {

constexpr char kSeparator[] = "----------- Return values --------------------------------------------";

std::string HexUpper(unsigned long v) {
    char text[16];
    std::snprintf(text, sizeof text, "%lX", v);
    return text;
}

// The rest of the record's line that starts with `prefix` ("" for none).
std::string LineAfter(const std::string& record, const std::string& prefix) {
    size_t at = record.find("\r\n" + prefix);
    if (at == std::string::npos) return {};
    at += 2 + prefix.size();
    return record.substr(at, record.find("\r\n", at) - at);
}

unsigned long HexField(const std::string& record, const char* name) {
    size_t at = record.find(name);
    return at == std::string::npos ? 0 : std::strtoul(record.c_str() + at + std::strlen(name), nullptr, 16);
}

// The lines of a record after its header line, up to its end.
std::vector<std::string> BodyLines(const std::string& record) {
    std::vector<std::string> lines;
    size_t start = record.find("\r\n", 2);  // past the header (the record starts with its line break)
    while (start != std::string::npos && start + 2 < record.size()) {
        size_t end = record.find("\r\n", start + 2);
        std::string line = record.substr(start + 2, end == std::string::npos ? std::string::npos : end - start - 2);
        if (line.empty()) break;
        lines.push_back(line);
        start = end;
    }
    return lines;
}

struct FileRecord {
    std::string kind;  // RecordKind
    std::string text;
    unsigned long pid = 0, tid = 0;
    std::string serial;  // of a call or an exit
};

std::vector<FileRecord> ReadRecords(const std::string& fileText, unsigned long pid = 0) {
    std::vector<FileRecord> out;
    for (const std::string& r : SplitRecords(fileText)) {
        FileRecord f{RecordKind(r), r, HexField(r, " PID="), HexField(r, " TID="), {}};
        if (pid && f.pid != pid) continue;
        size_t space = f.kind.find(' ');
        if (space != std::string::npos) f.serial = f.kind.substr(space + 1);
        out.push_back(f);
    }
    return out;
}

// The positions of the first call of `method`: its entry and its exit (0, 0 without).
std::pair<size_t, size_t> FirstCall(const std::vector<FileRecord>& records, const std::string& method) {
    size_t enter = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (!enter && records[i].kind.rfind("ENTER", 0) == 0 &&
            LineAfter(records[i].text, "Method: ").find(" " + method + " (") != std::string::npos)
            enter = i;
        else if (enter && records[i].kind == "EXIT " + records[enter].serial)
            return {enter, i};
    }
    return {0, 0};
}

struct Node {
    int depth;
    std::string text;
    bool operator==(const Node&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Node& n) { return os << n.depth << ":" << n.text; }

std::string ClassOf(const std::string& record) {
    std::string line = LineAfter(record, "Class: ");  // "VxSample Calc Class (instance# 1)"
    size_t paren = line.rfind(" (instance# ");
    return line.substr(0, paren) + "(" + std::to_string(std::atoi(line.c_str() + paren + 12)) + ")";
}

// What the trace tree must show for these records, worked out apart from the
// window: a node per creation, destruction, load and unload, and per shown
// call, under the innermost enclosing shown call still running when it
// arrived; FINAL REPORT last. `index` receives each record's node position
// (-1 without node).
std::vector<Node> ExpectedTree(const std::vector<FileRecord>& records, bool showIUnknown, bool showIDispatch,
                               std::vector<int>* index = nullptr) {
    struct Pending {
        std::string serial;
        unsigned long pid, tid;
        bool shown;
    };
    std::vector<Pending> pending;
    std::vector<Node> nodes;
    auto depth = [&] {
        return static_cast<int>(std::count_if(pending.begin(), pending.end(), [](const Pending& p) { return p.shown; }));
    };
    for (const FileRecord& r : records) {
        int at = -1;
        std::string kind = r.kind.substr(0, r.kind.find(' '));
        if (kind == "ENTER") {
            int slot = std::atoi(r.serial.c_str() + r.serial.find('.') + 1);
            std::string method = LineAfter(r.text, "Method: ");  // "VT_HRESULT Add ("
            size_t first = method.find(' ');
            std::string name = method.empty() ? "Call beyond Vtable" : method.substr(first + 1, method.find(' ', first + 1) - first - 1);
            bool dispatchName = name == "Invoke" || name == "GetIDsOfNames" || name == "GetTypeInfo" || name == "GetTypeInfoCount";
            bool shown = name != "Call beyond Vtable" &&
                         (slot <= 2 ? showIUnknown : slot <= 6 && dispatchName ? showIDispatch : true);
            if (shown) {
                at = static_cast<int>(nodes.size());
                nodes.push_back({depth(), name + " <" + ClassOf(r.text) + ">"});
            }
            pending.push_back({r.serial, r.pid, r.tid, shown});
        } else if (kind == "EXIT") {
            for (size_t i = pending.size(); i-- > 0;)
                if (pending[i].serial == r.serial && pending[i].pid == r.pid && pending[i].tid == r.tid) {
                    pending.erase(pending.begin() + static_cast<long>(i));
                    break;
                }
        } else if (kind == "CREATE" || kind == "DESTROY") {
            at = static_cast<int>(nodes.size());
            nodes.push_back({depth(), (kind == "CREATE" ? "CREATING <" : "DESTROYING <") + ClassOf(r.text) + ">"});
        } else if (kind == "LOAD" || kind == "UNLOAD") {
            std::string header = r.text.substr(2, r.text.find("\r\n", 2) - 2);  // "========= LOAD DLL: X ========= TID"
            size_t colon = header.find(": ") + 2;
            at = static_cast<int>(nodes.size());
            nodes.push_back({depth(), kind + " DLL: " + header.substr(colon, header.find(" =", colon) - colon)});
        }
        if (index) index->push_back(at);
    }
    nodes.push_back({0, "FINAL REPORT"});
    return nodes;
}

// The final report's lines (depth and text) for one process of the records.
std::vector<Node> ExpectedReport(const std::vector<FileRecord>& records, unsigned long pid, const std::string& commandLine) {
    std::vector<unsigned long> threads;
    std::map<unsigned long, std::vector<std::string>> classes;
    std::map<std::pair<unsigned long, std::string>, std::pair<int, int>> counts;  // created, alive
    for (const FileRecord& r : records) {
        if (r.pid != pid || (r.kind != "CREATE" && r.kind != "DESTROY")) continue;
        std::string line = LineAfter(r.text, "Class: ");
        std::string cls = line.substr(0, line.rfind(" (instance# "));
        if (std::find(threads.begin(), threads.end(), r.tid) == threads.end()) threads.push_back(r.tid);
        auto& list = classes[r.tid];
        if (std::find(list.begin(), list.end(), cls) == list.end()) list.push_back(cls);
        auto& [created, alive] = counts[{r.tid, cls}];
        if (r.kind == "CREATE") {
            ++created;
            ++alive;
        } else if (alive > 0) {
            --alive;
        }
    }
    std::vector<Node> nodes;
    if (threads.empty()) return nodes;
    nodes.push_back({0, "ProcessID=" + std::to_string(pid) + "(" + HexUpper(pid) + "h) (" + commandLine + ")"});
    for (unsigned long tid : threads) {
        nodes.push_back({1, "TreadID=" + std::to_string(tid) + "(" + HexUpper(tid) + "h)"});
        for (const std::string& cls : classes[tid]) {
            nodes.push_back({2, "Class: " + cls});
            nodes.push_back({3, "Number of created instances: " + std::to_string(counts[{tid, cls}].first)});
            nodes.push_back({3, "Number of undestroyed instances: " + std::to_string(counts[{tid, cls}].second)});
        }
    }
    return nodes;
}

class ShellTraceTest : public MainWindowTest {
protected:
    void SetUp() override {
        const std::string folder = "C:\\vxshtrace-" + ArchName() + "\\";
        ASSERT_NO_FATAL_FAILURE(Install(folder, {folder + "Ledra.dll", folder + "Pollux.dll", SamplePath()}));
        ::CreateDirectoryA((folder + "TraceStorage").c_str(), nullptr);
    }
    // Saves the trace shown as `path` and waits for the file.
    void Save(const std::string& path) {
        ::DeleteFileA(path.c_str());
        ASSERT_NO_FATAL_FAILURE(FileCommand(kSave, path));
        ASSERT_TRUE(WaitFor([&] { return FileExists(path); }, 60000)) << path;
    }
    // The pane's nodes, depth and text.
    std::vector<Node> Pane(int tree) {
        std::vector<Node> nodes;
        for (const TreeNode& n : ui.Tree(tree)) nodes.push_back({n.depth, n.text});
        return nodes;
    }
    bool Ends(const char* text) {
        auto nodes = ui.Tree(kTree1);
        return !nodes.empty() && nodes.back().text == text;
    }
    // Selects node i of the left pane and returns the right pane's lines.
    std::vector<std::string> Details(size_t i) {
        auto nodes = ui.Tree(kTree1);
        if (i >= nodes.size()) return {};
        ui.SelectNode(kTree1, nodes[i].item);
        std::vector<std::string> lines;
        WaitFor([&] {
            lines.clear();
            for (const TreeNode& n : ui.Tree(kTree2)) lines.push_back(n.text);
            return !lines.empty() && lines.front().rfind("ProcessID=", 0) == 0;
        }, 10000);
        return lines;
    }
    // The right pane's lines for a call: its own, then its exit's.
    static std::vector<std::string> CallDetails(const FileRecord& enter, const FileRecord& exit) {
        std::vector<std::string> lines = {"ProcessID=" + std::to_string(enter.pid) + "(" + HexUpper(enter.pid) +
                                          "h)  ThreadID=" + std::to_string(enter.tid) + "(" + HexUpper(enter.tid) + "h)"};
        for (const std::string& l : BodyLines(enter.text)) lines.push_back(l);
        lines.insert(lines.end(), {"", kSeparator, ""});
        for (const std::string& l : BodyLines(exit.text)) lines.push_back(l);
        return lines;
    }
};

TEST_F(ShellTraceTest, LiveTraceOfTheSampleThenSavedAndOpenedAgain) {
    ASSERT_NO_FATAL_FAILURE(Start());
    // Hook the sample from the component list.
    ASSERT_NO_FATAL_FAILURE(SelectListedSample());
    Command(kHookUnhook);
    ASSERT_TRUE(WaitFor([&] { return ui.ButtonEnabled(kButtonRun); }, 20000)) << "not hooked";

    // Start: waiting for a client, Stop usable.
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
    EXPECT_TRUE(ui.ButtonChecked(kButtonRun));
    EXPECT_TRUE(ui.ButtonEnabled(kButtonStop));
    EXPECT_FALSE(ui.MenuState(kStop) & MF_GRAYED);
    EXPECT_TRUE(ui.Tree(kTree1).empty());

    // The sample client, live: every record with a node, nested as it ran.
    ProcessResult client = RunProgram(Quoted(ClientPath()) + " basic", 60000);
    ASSERT_EQ(0u, client.exitCode) << client.output;
    ASSERT_TRUE(WaitFor([&] { return Ends("FINAL REPORT"); }, 30000)) << "no final report; " << ui.Tree(kTree1).size() << " nodes";
    std::vector<FileRecord> records = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), client.processId);
    std::vector<int> index;
    std::vector<Node> expected = ExpectedTree(records, true, true, &index);
    ASSERT_GT(expected.size(), 20u);
    std::vector<Node> live = Pane(kTree1);
    EXPECT_EQ(expected, live);
    EXPECT_EQ("Processed Items: " + std::to_string(live.size()) + " ", ui.StatusText(1));
    EXPECT_TRUE(ui.ButtonEnabled(kButtonFinal));
    EXPECT_TRUE(ui.ButtonEnabled(kButtonStop)) << "the process ended: tracing can stop";

    // A call's details: its lines, the separator, its exit's lines.
    auto [enterAt, exitAt] = FirstCall(records, "Divide");
    ASSERT_TRUE(exitAt) << "no Divide call in the trace";
    std::vector<std::string> callLines = CallDetails(records[enterAt], records[exitAt]);
    EXPECT_EQ(callLines, Details(static_cast<size_t>(index[enterAt])));
    Shot("shell-trace-live.png");

    // The final report: Edit > Final Report selects it.
    Command(kFinal);
    std::string commandLine = LineAfter(records.front().text, "Host process's command line: ");
    std::vector<Node> report = ExpectedReport(records, client.processId, commandLine);
    ASSERT_FALSE(report.empty());
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree2) == report; }, 10000)) << ::testing::PrintToString(Pane(kTree2));
    Shot("shell-trace-final.png");

    // Show IUnknown off: the IUnknown calls go, what ran inside them moves up; on again: the same tree.
    Command(kShowIUnknown);
    std::vector<Node> withoutIUnknown = ExpectedTree(records, false, true);
    EXPECT_LT(withoutIUnknown.size(), expected.size());
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree1) == withoutIUnknown; }, 10000)) << ::testing::PrintToString(Pane(kTree1));
    Command(kShowIUnknown);
    ASSERT_TRUE(WaitFor([&] { return Pane(kTree1) == expected; }, 10000));
    EXPECT_EQ(callLines, Details(static_cast<size_t>(index[enterAt]))) << "the keys lead to the same records";

    // A second, short client: an empty view again, its own records only, and
    // Stop usable once it has ended, whatever the poll saw of it.
    ProcessResult second = RunProgram(Quoted(ClientPath()) + " create", 60000);
    ASSERT_EQ(0u, second.exitCode) << second.output;
    std::vector<FileRecord> secondRecords;
    ASSERT_TRUE(WaitFor([&] {
        secondRecords = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), second.processId);
        return !secondRecords.empty() && Pane(kTree1) == ExpectedTree(secondRecords, true, true);
    }, 30000)) << ::testing::PrintToString(Pane(kTree1));
    EXPECT_TRUE(ui.ButtonEnabled(kButtonStop));
    EXPECT_FALSE(ui.MenuState(kStop) & MF_GRAYED);
    ASSERT_NO_FATAL_FAILURE(Trace(kStop));
    EXPECT_FALSE(ui.ButtonChecked(kButtonRun));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonStop));
    EXPECT_FALSE(ui.MenuState(kStart) & MF_GRAYED);

    // The distilled trace starts afresh with each client: trace the sample
    // once more, save, then open: the file's records as one collapsed tree,
    // ending in FINAL REPORT.
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
    ProcessResult third = RunProgram(Quoted(ClientPath()) + " basic", 60000);
    ASSERT_EQ(0u, third.exitCode) << third.output;
    ASSERT_TRUE(WaitFor([&] { return Ends("FINAL REPORT"); }, 30000));
    ASSERT_NO_FATAL_FAILURE(Trace(kStop));
    std::string saved = inst.folder + "TraceStorage\\run.trc";
    ASSERT_NO_FATAL_FAILURE(Save(saved));
    std::string bytes = ReadFileText(saved);
    EXPECT_EQ(ReadFileText(inst.folder + "TraceDistilled.txt"), bytes);
    std::vector<FileRecord> all = ReadRecords(bytes);
    std::vector<int> fileIndex;
    std::vector<Node> fromFile = ExpectedTree(all, true, true, &fileIndex);
    ASSERT_GT(fromFile.size(), 20u);
    FileCommand(kOpen, saved);
    ASSERT_TRUE(WaitFor([&] { return Ends("FINAL REPORT") && ui.ButtonEnabled(kButtonRun); }, 30000));
    EXPECT_EQ(fromFile, Pane(kTree1));
    HWND tree = ui.Child(kTree1);
    size_t parents = 0;
    for (const TreeNode& n : ui.Tree(kTree1)) {
        if (!TreeView_GetChild(tree, n.item)) continue;
        ++parents;
        EXPECT_FALSE(::SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(n.item), TVIS_EXPANDED) &
                     TVIS_EXPANDED) << n.text << " is expanded";
    }
    EXPECT_GT(parents, 0u);
    HWND progress = ::GetDlgItem(ui.Child(kStatus), kProgress);
    EXPECT_EQ(static_cast<LRESULT>(all.size()), ::SendMessageA(progress, PBM_GETRANGE, FALSE, 0));
    EXPECT_FALSE(::IsWindowVisible(progress));
    // A call's details, read from the file.
    auto [fileEnter, fileExit] = FirstCall(all, "Divide");
    ASSERT_TRUE(fileExit);
    EXPECT_EQ(CallDetails(all[fileEnter], all[fileExit]), Details(static_cast<size_t>(fileIndex[fileEnter])));
    Command(kExpandAll);
    ASSERT_TRUE(WaitFor([&] {
        auto nodes = ui.Tree(kTree1);
        return nodes.size() > 2 && (::SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(nodes[1].item),
                                                   TVIS_EXPANDED) & TVIS_EXPANDED);
    }, 10000));
    EXPECT_EQ(fromFile, Pane(kTree1));
    Shot("shell-trace-file.png");

    // Cut inside its last DESTROY record: the message, and the whole records before it.
    size_t cutAt = bytes.rfind("\r\n--- DESTROYING OF THE INSTANCE ---");
    ASSERT_NE(std::string::npos, cutAt);
    std::string cutPath = inst.folder + "TraceStorage\\cut.trc";
    WriteFileText(cutPath, bytes.substr(0, cutAt + 30));
    std::vector<Node> whole = ExpectedTree(ReadRecords(bytes.substr(0, cutAt) + "\x01"), true, true);
    FileCommand(kOpen, cutPath);
    EXPECT_EQ("The trace file ends inside a record; the records before it are shown.\r\n" + cutPath, MessageAndClose());
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree1) == whole; }, 10000)) << ::testing::PrintToString(Pane(kTree1));

    // A file that is not there: the message, an empty view.
    FileCommand(kOpen, inst.folder + "TraceStorage\\missing.trc");
    EXPECT_EQ("The trace file cannot be opened:\r\n" + inst.folder + "TraceStorage\\missing.trc", MessageAndClose());
    EXPECT_TRUE(WaitFor([&] { return ui.Tree(kTree1).empty(); }, 10000));
}

// A client nobody here wrote: the prefix's script host calling the sample
// late-bound, traced from the window. Tracing waits a few polls before the
// client starts, so that the reader ends its run of nothing first: that end
// reports nothing, and the final report that follows is the client's.
TEST_F(ShellTraceTest, ScriptHostTracedFromTheWindow) {
    ASSERT_NO_FATAL_FAILURE(HookSample({SamplePath()}));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
    EXPECT_FALSE(WaitFor([&] { return !ui.Tree(kTree1).empty(); }, 600)) << "no client yet, nothing to report";
    std::string script = vxinstall::WinePath(std::string(VX_SCRIPTS_DIR) + "/calc.js");
    ProcessResult run = RunProgram("C:\\windows\\system32\\cscript.exe //nologo " + Quoted(script), 60000);
    ASSERT_EQ(0u, run.exitCode) << run.output;
    ASSERT_TRUE(WaitFor([&] { return Ends("FINAL REPORT"); }, 30000)) << ui.Tree(kTree1).size() << " nodes";
    std::vector<FileRecord> records = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), run.processId);
    std::vector<Node> expected = ExpectedTree(records, true, true);
    EXPECT_EQ(expected, Pane(kTree1));
    EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [](const Node& n) {
        return n.text.rfind("Invoke <", 0) == 0 || n.text.rfind("GetIDsOfNames <", 0) == 0;
    })) << "the script host calls through IDispatch";
    std::string commandLine = LineAfter(records.front().text, "Host process's command line: ");
    EXPECT_NE(std::string::npos, commandLine.find("cscript")) << commandLine;
    Command(kFinal);
    std::vector<Node> report = ExpectedReport(records, run.processId, commandLine);
    ASSERT_FALSE(report.empty());
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree2) == report; }, 10000)) << ::testing::PrintToString(Pane(kTree2));
}

// Standard interfaces that the sample's library does not describe (its
// Widget's), decoded from the kernel's own library: nodes and details as for
// any call, a structure's members among them.
TEST_F(ShellTraceTest, WidgetsStandardInterfacesShownLikeAnyCall) {
    ASSERT_NO_FATAL_FAILURE(HookSample({SamplePath()}));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
    ProcessResult client = RunProgram(Quoted(ClientPath()) + " known", 60000);
    ASSERT_EQ(0u, client.exitCode) << client.output;
    ASSERT_TRUE(WaitFor([&] { return Ends("FINAL REPORT"); }, 30000)) << ui.Tree(kTree1).size() << " nodes";
    std::vector<FileRecord> records = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), client.processId);
    std::vector<int> index;
    EXPECT_EQ(ExpectedTree(records, true, true, &index), Pane(kTree1));
    auto [enterAt, exitAt] = FirstCall(records, "GetSizeMax");
    ASSERT_TRUE(exitAt) << "no GetSizeMax call in the trace";
    std::vector<std::string> callLines = CallDetails(records[enterAt], records[exitAt]);
    EXPECT_NE(std::find(callLines.begin(), callLines.end(), "                        QuadPart=4 (4h)  (VT_UI8)"),
              callLines.end()) << ::testing::PrintToString(callLines);
    EXPECT_EQ(callLines, Details(static_cast<size_t>(index[enterAt])));
}

// Another reader already follows the trace: Start says so and leaves the
// window idle instead of showing an empty trace that never fills.
TEST_F(ShellTraceTest, StartRefusedWhileAnotherReaderFollowsTheTrace) {
    ASSERT_NO_FATAL_FAILURE(HookSample({SamplePath()}));
    ChildProcess other;
    ASSERT_TRUE(other.Start(Quoted(inst.folder + "vxtrace.exe") + " run -- " + Quoted(ClientPath()) + " wait"));
    ASSERT_TRUE(other.WaitForOutput("waiting", 30000));

    // The client holds the sample: the in-use message first, then tracing starts by itself.
    std::string inUse;
    ASSERT_NO_FATAL_FAILURE(Start(&inUse));
    EXPECT_NE(std::string::npos, inUse.find("now in use")) << inUse;
    std::string refused = MessageAndClose();
    EXPECT_EQ(0u, refused.find("Another program is reading the trace right now")) << refused;
    EXPECT_TRUE(WaitFor([&] { return ui.Text(kTreeTitle) == "Events" && !ui.ButtonChecked(kButtonRun); }, 10000));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonStop));
    EXPECT_FALSE(ui.MenuState(kStart) & MF_GRAYED) << "tracing can be tried again";

    other.Write("go\n");
    ProcessResult traced = other.Finish(60000);
    EXPECT_EQ(0u, traced.exitCode) << traced.output;
    EXPECT_NE(std::string::npos, traced.output.find("UNLOAD DLL")) << "the first reader kept the whole trace";
}

// The most memory the process has held in use so far.
SIZE_T PeakWorkingSet(DWORD processId) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    BOOL ok = process && ::GetProcessMemoryInfo(process, &counters, sizeof counters);
    if (process) ::CloseHandle(process);
    return ok ? counters.PeakWorkingSetSize : 0;
}

// A live trace of 100,000 records saved, and a saved trace opened and saved
// again: each saved file is the trace on screen, whole, and the window's
// memory does not grow by the file's size while it saves. Then a second
// click on the selected node brings its details back over Quick Help.
TEST_F(ShellTraceTest, LargeTracesAreSavedAsShownAndASecondClickShowsTheDetailsAgain) {
    ASSERT_NO_FATAL_FAILURE(HookSample({SamplePath()}));
    ASSERT_NO_FATAL_FAILURE(Start());
    auto traceClient = [&](const std::string& scenario) {
        ASSERT_NO_FATAL_FAILURE(Trace(kStart));
        ProcessResult client = RunProgram(Quoted(ClientPath()) + " " + scenario, 120000);
        ASSERT_EQ(0u, client.exitCode) << client.output;
        ASSERT_TRUE(WaitFor([&] { return ui.ButtonEnabled(kButtonFinal); }, 120000)) << ui.StatusText(1);
        ASSERT_NO_FATAL_FAILURE(Trace(kStop));
    };
    ASSERT_NO_FATAL_FAILURE(traceClient("loop 50000"));
    const std::string live = ReadFileText(inst.folder + "TraceDistilled.txt");
    ASSERT_GT(SplitRecords(live).size(), 100000u);
    const std::string first = inst.folder + "TraceStorage\\large.trc";
    SIZE_T before = PeakWorkingSet(program.processId());
    ASSERT_GT(before, 0u);
    ASSERT_NO_FATAL_FAILURE(Save(first));
    SIZE_T after = PeakWorkingSet(program.processId());
    EXPECT_TRUE(ReadFileText(first) == live) << "the saved file is the trace on screen";
    EXPECT_LT(after - before, live.size() / 2) << "the save held the file in memory: " << before << " -> " << after;

    // Another client changes the live trace; the opened file is what Save keeps.
    ASSERT_NO_FATAL_FAILURE(traceClient("create"));
    ASSERT_NE(live, ReadFileText(inst.folder + "TraceDistilled.txt"));
    FileCommand(kOpen, first);
    ASSERT_TRUE(WaitFor([&] {
        return ui.Text(kTreeTitle) == "Events from TraceFile: large.trc" && !ui.ButtonEnabled(kButtonStop) &&
               ui.ButtonEnabled(kButtonFinal);
    }, 60000)) << "the file is not read to its end";
    const std::string second = inst.folder + "TraceStorage\\again.trc";
    ASSERT_NO_FATAL_FAILURE(Save(second));
    EXPECT_TRUE(ReadFileText(second) == live) << "Save in trace-file mode keeps the opened trace";

    // Quick Help over the details; a click on the node already selected brings them back.
    HTREEITEM load = TreeView_GetRoot(ui.Child(kTree1));
    ASSERT_TRUE(load);
    ASSERT_TRUE(ui.SelectNode(kTree1, load));
    ASSERT_TRUE(WaitFor([&] { return !Pane(kTree2).empty() && Pane(kTree2).front().text.rfind("ProcessID=", 0) == 0; }, 10000));
    std::vector<Node> details = Pane(kTree2);
    Command(kHelpHelp);
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(ui.Child(kHelp)); }, 10000));
    EXPECT_EQ("Quick Help", ui.Text(kDetails));
    ASSERT_TRUE(ui.ClickNode(kTree1, load));
    EXPECT_TRUE(WaitFor([&] { return !::IsWindowVisible(ui.Child(kHelp)); }, 10000)) << "Quick Help stays over the details";
    EXPECT_EQ("Selected Event's Details", ui.Text(kDetails));
    EXPECT_EQ(details, Pane(kTree2));
}

}  // namespace
}  // namespace e2e
