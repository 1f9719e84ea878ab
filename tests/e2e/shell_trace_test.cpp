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
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "resultnames.h"
#include "shellwindow.h"
#include "tracetext.h"

namespace e2e {
namespace {

// The records of a saved trace (of one process when `pid` is given), read
// through the trace-record model that has its own unit tests.
std::vector<vx::TraceRecord> ReadRecords(const std::string& fileText, unsigned long pid = 0) {
    std::vector<vx::TraceRecord> out;
    vx::RecordSplitter splitter([&](std::vector<std::string>&& lines) {
        vx::TraceRecord r = vx::ParseRecord(std::move(lines));
        if (!pid || r.process == pid) out.push_back(std::move(r));
    });
    splitter.Feed(fileText);
    splitter.Finish();
    return out;
}

constexpr char kSeparator[] = "----------- Return values --------------------------------------------";

// A process or thread id as the panes show it: decimal, then hexadecimal.
std::string IdText(unsigned long v) {
    char text[32];
    std::snprintf(text, sizeof text, "%lu(%lXh)", v, v);
    return text;
}

// The positions of the first call of `method`: its entry and its exit (0, 0 without).
std::pair<size_t, size_t> FirstCall(const std::vector<vx::TraceRecord>& records, const std::string& method) {
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].kind == vx::RecordKind::Enter && records[i].method == method)
            for (size_t j = i + 1; j < records.size(); ++j)
                if (records[j].kind == vx::RecordKind::Exit && vx::Closes(records[j], records[i])) return {i, j};
    return {0, 0};
}

struct Node {
    int depth;
    std::string text;
    bool operator==(const Node&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Node& n) { return os << n.depth << ":" << n.text; }

std::string ClassOf(const vx::TraceRecord& r) { return r.className + "(" + std::to_string(r.instance) + ")"; }

// What the trace tree must show for these records, worked out apart from the
// window: a node per creation, destruction, load and unload, and per shown
// call, under the innermost enclosing shown call still running when it
// arrived; FINAL REPORT last. `index` receives each record's node position
// (-1 without node).
std::vector<Node> ExpectedTree(const std::vector<vx::TraceRecord>& records, bool showIUnknown, bool showIDispatch,
                               std::vector<int>* index = nullptr) {
    struct Pending {
        const vx::TraceRecord* enter;
        int node;  // its node, -1 when it has none
    };
    std::vector<Pending> pending;
    struct Built {
        std::string text;
        int parent;
    };
    std::vector<Built> built;
    std::vector<int> nodeOf;  // per record
    // Under the nearest call of its own thread that has a node.
    auto add = [&](const vx::TraceRecord& r, const std::string& text) {
        int parent = -1;
        for (size_t i = pending.size(); i-- > 0 && parent < 0;)
            if (pending[i].enter->process == r.process && pending[i].enter->thread == r.thread) parent = pending[i].node;
        built.push_back({text, parent});
        return static_cast<int>(built.size()) - 1;
    };
    for (const vx::TraceRecord& r : records) {
        int at = -1;
        if (r.kind == vx::RecordKind::Enter) {
            int slot = std::atoi(r.serial.c_str() + r.serial.find('.') + 1);
            std::string name = r.method.empty() ? "Call beyond Vtable" : r.method;
            bool dispatchName = name == "Invoke" || name == "GetIDsOfNames" || name == "GetTypeInfo" || name == "GetTypeInfoCount";
            bool shown = name != "Call beyond Vtable" &&
                         (slot <= 2 ? showIUnknown : slot <= 6 && dispatchName ? showIDispatch : true);
            if (shown) at = add(r, name + " <" + ClassOf(r) + ">");
            pending.push_back({&r, at});
        } else if (r.kind == vx::RecordKind::Exit) {
            for (size_t i = pending.size(); i-- > 0;) {
                if (!vx::Closes(r, *pending[i].enter)) continue;
                // A failed call's node ends with its result's name.
                if (pending[i].node >= 0 && r.result && *r.result < 0)
                    built[static_cast<size_t>(pending[i].node)].text += "  -> " + vx::ResultName(*r.result);
                // Calls of its thread still pending above it were unwound with it.
                for (size_t j = pending.size(); j-- > i;)
                    if (j == i || (pending[j].enter->process == r.process && pending[j].enter->thread == r.thread))
                        pending.erase(pending.begin() + static_cast<long>(j));
                break;
            }
        } else if (r.kind == vx::RecordKind::Create || r.kind == vx::RecordKind::Destroy) {
            at = add(r, (r.kind == vx::RecordKind::Create ? "CREATING <" : "DESTROYING <") + ClassOf(r) + ">");
        } else if (r.kind == vx::RecordKind::Load || r.kind == vx::RecordKind::Unload) {
            at = add(r, (r.kind == vx::RecordKind::Load ? "LOAD DLL: " : "UNLOAD DLL: ") + r.dll);
        }
        nodeOf.push_back(at);
    }
    // Depth first, children in order of addition, as the tree shows them.
    std::vector<std::vector<int>> children(built.size() + 1);
    for (size_t i = 0; i < built.size(); ++i) children[static_cast<size_t>(built[i].parent + 1)].push_back(static_cast<int>(i));
    std::vector<Node> nodes;
    std::vector<int> position(built.size(), -1);
    std::function<void(int, int)> visit = [&](int parent, int depth) {
        for (int child : children[static_cast<size_t>(parent + 1)]) {
            position[static_cast<size_t>(child)] = static_cast<int>(nodes.size());
            nodes.push_back({depth, built[static_cast<size_t>(child)].text});
            visit(child, depth + 1);
        }
    };
    visit(-1, 0);
    if (index)
        for (int node : nodeOf) index->push_back(node < 0 ? -1 : position[static_cast<size_t>(node)]);
    nodes.push_back({0, "FINAL REPORT"});
    return nodes;
}

class ShellTraceTest : public MainWindowTest {
protected:
    void SetUp() override {
        const std::string folder = "C:\\vxshtrace-" + ArchName() + "\\";
        ASSERT_NO_FATAL_FAILURE(Install(folder, {folder + "Ledra.dll", folder + "Pollux.dll", SamplePath()}));
        ::CreateDirectoryA((folder + "TraceStorage").c_str(), nullptr);
    }
    // Tracing (the sample hooked and the window started first when it is not
    // running), the client's `scenario` run to its end and its final report
    // there to be shown.
    void TraceClient(const std::string& scenario, ProcessResult* client) {
        if (!ui.hwnd()) {
            ASSERT_NO_FATAL_FAILURE(HookSample({SamplePath()}));
            ASSERT_NO_FATAL_FAILURE(Start());
        }
        ASSERT_NO_FATAL_FAILURE(Trace(kStart));
        *client = RunProgram(Quoted(ClientPath()) + " " + scenario, 120000);
        ASSERT_EQ(0u, client->exitCode) << client->output;
        ASSERT_TRUE(WaitFor([&] { return ui.ButtonEnabled(kButtonFinal); }, 120000)) << ui.StatusText(1);
    }
    // Saves the trace shown as `path` and waits for the file.
    void Save(const std::string& path) {
        ::DeleteFileA(path.c_str());
        ASSERT_NO_FATAL_FAILURE(FileCommand(kSave, path));
        ASSERT_TRUE(WaitFor([&] { return FileExists(path); }, 60000)) << path;
    }
    // Opens a saved trace and waits until it is shown to its end; the tree
    // shown before may end in a final report too.
    void Open(const std::string& path) {
        FileCommand(kOpen, path);
        ASSERT_TRUE(WaitFor([&] {
            return ui.Text(kTreeTitle) == "Events from TraceFile: " + FileName(path) && Ends("FINAL REPORT") &&
                   ui.ButtonEnabled(kButtonRun);
        }, 30000)) << ui.Text(kTreeTitle);
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
    // Edit > Final Report: the report pane starts with the records' process,
    // named by its LOAD record's command line, and the thread of its first
    // creation. The counts per thread and class are the report's unit tests'
    // (and the statistics', from the same records, the window test's).
    ::testing::AssertionResult FinalReportOf(const std::vector<vx::TraceRecord>& records) {
        Command(kFinal);
        const vx::TraceRecord& load = records.front();
        auto create = std::find_if(records.begin(), records.end(),
                                   [](const vx::TraceRecord& r) { return r.kind == vx::RecordKind::Create; });
        if (create == records.end()) return ::testing::AssertionFailure() << "no creation in the records";
        const std::vector<Node> head = {
            {0, "ProcessID=" + IdText(load.process) + " (" + load.commandLine + ")"},
            {1, "TreadID=" + IdText(create->thread)}};
        if (WaitFor([&] {
                std::vector<Node> pane = Pane(kTree2);
                return pane.size() > head.size() && std::equal(head.begin(), head.end(), pane.begin());
            }, 10000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << ::testing::PrintToString(Pane(kTree2));
    }
    // The right pane's lines for a call: its own, then its exit's.
    static std::vector<std::string> CallDetails(const vx::TraceRecord& enter, const vx::TraceRecord& exit) {
        std::vector<std::string> lines = {"ProcessID=" + IdText(enter.process) + "  ThreadID=" + IdText(enter.thread)};
        lines.insert(lines.end(), enter.lines.begin() + 1, enter.lines.end());
        lines.insert(lines.end(), {"", kSeparator, ""});
        lines.insert(lines.end(), exit.lines.begin() + 1, exit.lines.end());
        return lines;
    }
};

TEST_F(ShellTraceTest, LiveTraceOfTheSampleThenSavedAndOpenedAgain) {
    ASSERT_NO_FATAL_FAILURE(HookSample({SamplePath()}));
    ASSERT_NO_FATAL_FAILURE(Start());

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
    std::vector<vx::TraceRecord> records = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), client.processId);
    std::vector<int> index;
    std::vector<Node> expected = ExpectedTree(records, true, true, &index);
    ASSERT_GT(expected.size(), 20u);
    std::vector<Node> live = Pane(kTree1);
    EXPECT_EQ(expected, live);
    EXPECT_EQ("Processed Items: " + std::to_string(live.size()) + " ", ui.StatusText(1));
    EXPECT_TRUE(ui.ButtonEnabled(kButtonStop)) << "the process ended: tracing can stop";

    // A call's details: its lines, the separator, its exit's lines.
    auto [enterAt, exitAt] = FirstCall(records, "Divide");
    ASSERT_TRUE(exitAt) << "no Divide call in the trace";
    std::vector<std::string> callLines = CallDetails(records[enterAt], records[exitAt]);
    EXPECT_EQ(callLines, Details(static_cast<size_t>(index[enterAt])));
    Shot("shell-trace-live.png");

    EXPECT_TRUE(FinalReportOf(records));
    Shot("shell-trace-final.png");

    // Show IUnknown off: the IUnknown calls go, what ran inside them moves up; on again: the same tree.
    Command(kShowIUnknown);
    std::vector<Node> withoutIUnknown = ExpectedTree(records, false, true);
    EXPECT_LT(withoutIUnknown.size(), expected.size());
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree1) == withoutIUnknown; }, 10000)) << ::testing::PrintToString(Pane(kTree1));
    Command(kShowIUnknown);
    ASSERT_TRUE(WaitFor([&] { return Pane(kTree1) == expected; }, 10000));
    EXPECT_EQ(callLines, Details(static_cast<size_t>(index[enterAt]))) << "the keys lead to the same records";
    ASSERT_NO_FATAL_FAILURE(Trace(kStop));
    std::string saved = inst.folder + "TraceStorage\\run.trc";
    ASSERT_NO_FATAL_FAILURE(Save(saved));
    std::string bytes = ReadFileText(saved);
    EXPECT_EQ(ReadFileText(inst.folder + "TraceDistilled.txt"), bytes);

    // A second, short client: its own records only, and Stop usable once it
    // has ended, whatever the poll saw of it.
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
    ProcessResult second = RunProgram(Quoted(ClientPath()) + " create", 60000);
    ASSERT_EQ(0u, second.exitCode) << second.output;
    std::vector<vx::TraceRecord> secondRecords;
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

    // The first client's saved trace opened: the file's records as one
    // collapsed tree, ending in FINAL REPORT.
    std::vector<vx::TraceRecord> all = ReadRecords(bytes);
    std::vector<int> fileIndex;
    std::vector<Node> fromFile = ExpectedTree(all, true, true, &fileIndex);
    ASSERT_NO_FATAL_FAILURE(Open(saved));
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
    EXPECT_TRUE(FinalReportOf(all)) << "from the file";
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
    std::vector<Node> whole = ExpectedTree(ReadRecords(bytes.substr(0, cutAt)), true, true);
    FileCommand(kOpen, cutPath);
    EXPECT_EQ("The trace file ends inside a record; the records before it are shown.\r\n" + cutPath, MessageAndClose());
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree1) == whole; }, 10000)) << ::testing::PrintToString(Pane(kTree1));

    // A file that is not there: the message, an empty view.
    FileCommand(kOpen, inst.folder + "TraceStorage\\missing.trc");
    EXPECT_EQ("The trace file cannot be opened:\r\n" + inst.folder + "TraceStorage\\missing.trc", MessageAndClose());
    EXPECT_TRUE(WaitFor([&] { return ui.Tree(kTree1).empty(); }, 10000));
}

// Clients nobody here wrote, traced from the window one after the other:
// the prefix's script host calling the sample late-bound, then the Widget's
// standard interfaces that the sample's library does not describe, decoded
// from the kernel's own library (nodes and details as for any call, a
// structure's members among them). Tracing waits a few polls before the
// first client starts, so that the reader ends its run of nothing first:
// that end reports nothing, and the final report that follows is the
// client's.
TEST_F(ShellTraceTest, ScriptHostAndTheWidgetsStandardInterfacesTracedFromTheWindow) {
    ASSERT_NO_FATAL_FAILURE(HookSample({SamplePath()}));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
    EXPECT_FALSE(WaitFor([&] { return !ui.Tree(kTree1).empty(); }, 600)) << "no client yet, nothing to report";
    std::string script = vxinstall::WinePath(std::string(VX_SCRIPTS_DIR) + "/calc.js");
    ProcessResult run = RunProgram("C:\\windows\\system32\\cscript.exe //nologo " + Quoted(script), 60000);
    ASSERT_EQ(0u, run.exitCode) << run.output;
    ASSERT_TRUE(WaitFor([&] { return Ends("FINAL REPORT"); }, 30000)) << ui.Tree(kTree1).size() << " nodes";
    std::vector<vx::TraceRecord> records = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), run.processId);
    std::vector<Node> expected = ExpectedTree(records, true, true);
    EXPECT_EQ(expected, Pane(kTree1));
    EXPECT_TRUE(std::any_of(expected.begin(), expected.end(), [](const Node& n) {
        return n.text.rfind("Invoke <", 0) == 0 || n.text.rfind("GetIDsOfNames <", 0) == 0;
    })) << "the script host calls through IDispatch";
    EXPECT_NE(std::string::npos, records.front().commandLine.find("cscript")) << records.front().commandLine;
    EXPECT_TRUE(FinalReportOf(records));

    ProcessResult known = RunProgram(Quoted(ClientPath()) + " known", 60000);
    ASSERT_EQ(0u, known.exitCode) << known.output;
    std::vector<int> index;
    ASSERT_TRUE(WaitFor([&] {
        records = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), known.processId);
        index.clear();
        return !records.empty() && Pane(kTree1) == ExpectedTree(records, true, true, &index);
    }, 30000)) << ::testing::PrintToString(Pane(kTree1));
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

// The clipboard's text, as another program pasting it would get it.
std::string ClipboardText() {
    std::string text;
    if (!::OpenClipboard(nullptr)) return "(clipboard busy)";
    if (HANDLE data = ::GetClipboardData(CF_TEXT)) {
        if (const char* chars = static_cast<const char*>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    }
    ::CloseClipboard();
    return text;
}

// Gives the keyboard focus to a control of another process, as a click would.
void FocusControl(HWND control) {
    DWORD theirs = ::GetWindowThreadProcessId(control, nullptr), ours = ::GetCurrentThreadId();
    ::AttachThreadInput(ours, theirs, TRUE);
    ::SetFocus(control);
    ::AttachThreadInput(ours, theirs, FALSE);
}

// The most memory the process has held in use so far.
SIZE_T PeakWorkingSet(DWORD processId) {
    vx::unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return process && ::GetProcessMemoryInfo(process.get(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

// A live trace of 100,000 records saved, and a saved trace opened and saved
// again: each saved file is the trace on screen, whole, and the window's
// memory does not grow by the file's size while it saves. Then a second
// click on the selected node brings its details back over Quick Help.
TEST_F(ShellTraceTest, LargeTracesAreSavedAsShownAndASecondClickShowsTheDetailsAgain) {
    ProcessResult client;
    ASSERT_NO_FATAL_FAILURE(TraceClient("loop 50000", &client));
    ASSERT_NO_FATAL_FAILURE(Trace(kStop));
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
    ASSERT_NO_FATAL_FAILURE(TraceClient("create", &client));
    ASSERT_NO_FATAL_FAILURE(Trace(kStop));
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
    // The first node, selected without reading the whole tree.
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

// Reading a trace in the window: the sample's failing calls marked and named
// in the tree and the details, a filter to failed calls only that leaves
// exactly them (live and on the saved file, the files untouched, the filter
// kept for the next start), statistics as the trace counts them; on the
// opened file Find, Copy and Font, Export of the events shown (the IUnknown
// calls hidden: each call with its exit), Compare With a copy that differs
// in one parameter (that call on both sides) and with the trace itself
// (nothing); then a two-thread client nested per thread.
TEST_F(ShellTraceTest, ReadingATraceFailedCallsFindExportCompareAndThreadsNestApart) {
    ProcessResult client;
    ASSERT_NO_FATAL_FAILURE(TraceClient("basic", &client));
    const std::string distilled = ReadFileText(inst.folder + "TraceDistilled.txt");
    std::vector<vx::TraceRecord> records = ReadRecords(distilled, client.processId);
    std::vector<Node> all = ExpectedTree(records, true, true);
    ASSERT_TRUE(WaitFor([&] { return Pane(kTree1) == all; }, 30000)) << ::testing::PrintToString(Pane(kTree1));
    std::vector<Node> failed;  // and the window's own report
    for (const Node& n : all)
        if (n.text.find("  -> ") != std::string::npos || n.text == "FINAL REPORT") failed.push_back({0, n.text});
    ASSERT_EQ(failed, (std::vector<Node>{{0, "Divide <VxSample Calc Class(1)>  -> DISP_E_DIVBYZERO"},
                                         {0, "QueryInterface <VxSample Calc Class(1)>  -> E_NOINTERFACE"},
                                         {0, "FINAL REPORT"}}))
        << "the client's Divide by zero and QueryInterface of IClassFactory";
    // The failed image, and the result named in the details.
    const int kFailedImage = 8;
    std::vector<TreeNode> nodes = ui.Tree(kTree1);
    std::vector<std::string> details;
    for (size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(nodes[i].image == kFailedImage, nodes[i].text.find("  -> ") != std::string::npos) << nodes[i].text;
        if (nodes[i].text == failed[0].text) details = Details(i);
    }
    auto has = [&](const std::string& line) { return std::find(details.begin(), details.end(), line) != details.end(); };
    EXPECT_TRUE(has("               HRESULT = -2147352558 (80020012h)")) << ::testing::PrintToString(details);
    EXPECT_TRUE(has("               Name: DISP_E_DIVBYZERO"));
    EXPECT_TRUE(has("               Facility: FACILITY_DISPATCH (2), code: 18 (12h)"));
    Shot("shell-failed-calls.png");

    // Failed calls only, from a node's menu: exactly them, at the top; the files untouched.
    Command(kFailedOnly);
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree1) == failed; }, 10000)) << ::testing::PrintToString(Pane(kTree1));
    EXPECT_EQ(ui.StatusText(1), "Showing 3 of " + std::to_string(all.size()) + " events ");
    EXPECT_EQ(distilled, ReadFileText(inst.folder + "TraceDistilled.txt"));
    Shot("shell-filter-failed.png");

    // The statistics: the class's calls, failures and instances as the trace counts them.
    Command(kStatistics);
    HWND statistics = FindProcessWindow(program.processId(), "VexiloStatistics", nullptr, 20000);
    ASSERT_TRUE(statistics);
    auto count = [&](vx::RecordKind kind) {
        return std::count_if(records.begin(), records.end(), [&](const vx::TraceRecord& r) { return r.kind == kind; });
    };
    const auto creates = count(vx::RecordKind::Create), left = creates - count(vx::RecordKind::Destroy);
    auto rows = ui.ListRows(::GetDlgItem(statistics, 102), 6);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"VxSample Calc Class", "(all methods)", std::to_string(count(vx::RecordKind::Enter)),
                                                 "2", std::to_string(creates), std::to_string(left)}));
    EXPECT_NE(std::find(rows.begin(), rows.end(),
                        std::vector<std::string>{"VxSample Calc Class", "Divide", "2", "1", "", ""}), rows.end());
    EXPECT_TRUE(Screenshot(statistics, "shell-statistics.png"));

    Command(kResetFilter);
    ASSERT_TRUE(WaitFor([&] { return Pane(kTree1) == all; }, 10000));
    ASSERT_NO_FATAL_FAILURE(Trace(kStop));
    const std::string saved = inst.folder + "TraceStorage\\basic.trc";
    ASSERT_NO_FATAL_FAILURE(Save(saved));
    ASSERT_NO_FATAL_FAILURE(Open(saved));
    // Find over the opened file.
    nodes = ui.Tree(kTree1);
    ASSERT_GT(nodes.size(), 10u);
    auto selectedText = [&] {
        HTREEITEM item = TreeView_GetSelection(ui.Child(kTree1));
        for (const TreeNode& n : ui.Tree(kTree1))
            if (n.item == item) return n.text;
        return std::string("(none)");
    };
    ASSERT_TRUE(ui.SelectNode(kTree1, nodes[0].item));

    // F3 before any search opens the dialog, empty, with Find Next off.
    Command(kFindNext);
    HWND find = FindProcessWindow(program.processId(), "#32770", "Find in Trace", 10000);
    ASSERT_TRUE(find) << "no Find dialog";
    HWND what = ::GetDlgItem(find, 121), matchCase = ::GetDlgItem(find, 122), next = ::GetDlgItem(find, IDOK);
    EXPECT_FALSE(::IsWindowEnabled(next));
    ::SendMessageA(what, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("final report"));
    ::SendMessageA(find, WM_COMMAND, MAKEWPARAM(121, EN_CHANGE), reinterpret_cast<LPARAM>(what));
    EXPECT_TRUE(::IsWindowEnabled(next));
    EXPECT_TRUE(Screenshot(find, "shell-find-dialog.png"));
    // Without Match Case the lower-case text finds the upper-case node, with its view on the right.
    ::PostMessageA(find, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(next));
    ASSERT_TRUE(WaitFor([&] { return selectedText() == "FINAL REPORT"; }, 10000)) << selectedText();
    EXPECT_TRUE(WaitFor([&] { return !ui.Tree(kTree2).empty(); }, 5000));
    // From the last node the search wraps to where it began and ends there.
    ::PostMessageA(find, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(next));
    EXPECT_EQ("The whole trace has been searched.", MessageAndClose());
    // With Match Case the same text is in no node.
    ::SendMessageA(matchCase, BM_SETCHECK, BST_CHECKED, 0);
    ::PostMessageA(find, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(next));
    EXPECT_EQ("Search text is not found.", MessageAndClose());
    // Cancel keeps the text and the box for F3, which then searches with the dialog hidden.
    ::SendMessageA(what, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("FINAL REP"));
    ::PostMessageA(find, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(find, IDCANCEL)));
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(find); }, 5000));
    ASSERT_TRUE(ui.SelectNode(kTree1, nodes[1].item));
    Command(kFindNext);
    ASSERT_TRUE(WaitFor([&] { return selectedText() == "FINAL REPORT"; }, 10000)) << selectedText();
    EXPECT_FALSE(FindProcessWindow(program.processId(), "#32770", "Find in Trace")) << "F3 searches with the dialog hidden";

    // Copy: the left pane's selected node, then the right pane's lines indented by level.
    ASSERT_TRUE(WaitFor([&] { return ui.Tree(kTree2).size() > 3; }, 5000));
    FocusControl(ui.Child(kTree1));
    Command(kCopy);
    EXPECT_TRUE(WaitFor([&] { return ClipboardText() == "FINAL REPORT"; }, 5000)) << ClipboardText();
    auto report = ui.Tree(kTree2);
    const std::string reportStart = report[0].text + "\r\n    " + report[1].text + "\r\n        " + report[2].text + "\r\n";
    FocusControl(ui.Child(kTree2));
    Command(kCopy);
    EXPECT_TRUE(WaitFor([&] { return ClipboardText().rfind(reportStart, 0) == 0; }, 5000)) << ClipboardText();
    // The focus elsewhere (the window itself): an empty clipboard.
    FocusControl(ui.hwnd());
    Command(kCopy);
    EXPECT_TRUE(WaitFor([&] { return ClipboardText().empty(); }, 5000)) << ClipboardText();

    // Font: a larger size given to both panes (their rows grow alike).
    int rowBefore = static_cast<int>(::SendMessageA(ui.Child(kTree1), TVM_GETITEMHEIGHT, 0, 0));
    Command(kFont);
    HWND font = FindProcessWindow(program.processId(), "#32770", "Font", 10000);
    ASSERT_TRUE(font) << "no font dialog";
    ::SetDlgItemTextA(font, 0x472, "24");  // the size box
    ::PostMessageA(font, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(::GetDlgItem(font, IDOK)));
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(font); }, 5000));
    int row1 = 0, row2 = 0;
    EXPECT_TRUE(WaitFor([&] {
        row1 = static_cast<int>(::SendMessageA(ui.Child(kTree1), TVM_GETITEMHEIGHT, 0, 0));
        row2 = static_cast<int>(::SendMessageA(ui.Child(kTree2), TVM_GETITEMHEIGHT, 0, 0));
        return row1 > rowBefore && row1 == row2;
    }, 5000)) << rowBefore << " " << row1 << " " << row2;

    // Show IUnknown off, then Export: the events shown, each call with its exit.
    const std::string bytes = ReadFileText(saved);
    std::vector<Node> shown = ExpectedTree(ReadRecords(bytes), false, true);
    Command(kShowIUnknown);
    ASSERT_TRUE(WaitFor([&] { return Pane(kTree1) == shown; }, 10000)) << ::testing::PrintToString(Pane(kTree1));
    const std::string exported = inst.folder + "TraceStorage\\shown.jsonl";
    ::DeleteFileA(exported.c_str());
    FileCommand(kExport, exported);
    ASSERT_TRUE(WaitFor([&] { return ui.StatusText(0).find(" records exported to ") != std::string::npos; }, 30000))
        << ui.StatusText(0);
    std::vector<std::string> texts;  // each exported event as its node reads
    std::map<long, size_t> callAt;   // an ENTER's record → its text
    int enters = 0, exits = 0;
    std::string text = ReadFileText(exported);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find("\r\n", at), text.size());
        nlohmann::json r = nlohmann::json::parse(text.substr(at, end - at));
        ++end;
        std::string kind = r["kind"], object = "<" + r.value("class", "") + "(" + std::to_string(r.value("instance", 0)) + ")>";
        if (kind == "enter") callAt[r["record"]] = texts.size(), texts.push_back(r.value("method", "") + " " + object), ++enters;
        if (kind == "exit" && r.value("failed", false)) texts[callAt[r["enter"]]] += "  -> " + r.value("result", std::string());
        if (kind == "exit") ++exits;
        if (kind == "create") texts.push_back("CREATING " + object);
        if (kind == "destroy") texts.push_back("DESTROYING " + object);
        if (kind == "load" || kind == "unload") texts.push_back((kind == "load" ? "LOAD DLL: " : "UNLOAD DLL: ") + r.value("dll", ""));
    }
    std::vector<std::string> shownTexts;
    for (const Node& n : shown)
        if (n.text != "FINAL REPORT") shownTexts.push_back(n.text);
    EXPECT_EQ(shownTexts, texts);
    EXPECT_EQ(enters, exits);

    // A copy with the first Add's second operand changed.
    std::string changed = bytes;
    size_t operand = changed.find("[in]  b=3 (3h)");
    ASSERT_NE(operand, std::string::npos);
    changed.replace(operand, 14, "[in]  b=4 (4h)");
    const std::string other = inst.folder + "TraceStorage\\other.trc";
    WriteFileText(other, changed);
    FileCommand(kCompare, other);
    HWND compare = FindProcessWindow(program.processId(), "VexiloCompare", nullptr, 20000);
    ASSERT_TRUE(compare) << "no comparison window";
    RECT summary;
    ::GetClientRect(::GetDlgItem(compare, 101), &summary);
    EXPECT_GE(summary.bottom + 4, row1) << "the summary line is cut: the font chosen above is larger";
    rows = ui.ListRows(::GetDlgItem(compare, 102), 5);
    ASSERT_EQ(rows.size(), 2u) << ::testing::PrintToString(rows);
    EXPECT_EQ(rows[0][0], "-");
    EXPECT_NE(rows[0][2].find("ICalc::Add(a=2 (2h), b=3 (3h)) -> total=5 (5h), S_OK"), std::string::npos) << rows[0][2];
    EXPECT_EQ(rows[1][0], "+");
    EXPECT_NE(rows[1][4].find("ICalc::Add(a=2 (2h), b=4 (4h))"), std::string::npos) << rows[1][4];
    RemoteWindow comparison;
    ASSERT_TRUE(comparison.Attach(compare));
    EXPECT_EQ(comparison.Text(101).rfind("2 differences: 1 only in this trace, 1 only in other.trc, 0 with other results", 0), 0u)
        << comparison.Text(101);
    EXPECT_TRUE(Screenshot(compare, "shell-compare.png"));

    FileCommand(kCompare, saved);
    EXPECT_TRUE(WaitFor([&] { return comparison.Text(101).rfind("The calls match: ", 0) == 0; }, 20000)) << comparison.Text(101);
    EXPECT_TRUE(ui.ListRows(::GetDlgItem(compare, 102), 5).empty());
    ::PostMessageA(compare, WM_CLOSE, 0, 0);

    // Failed calls only, put on before the saved file is opened.
    Command(kShowIUnknown);
    Command(kFailedOnly);
    FileCommand(kOpen, saved);
    EXPECT_TRUE(WaitFor([&] { return Pane(kTree1) == failed; }, 30000)) << "the opened file, filtered: "
                                                                          << ::testing::PrintToString(Pane(kTree1));
    ASSERT_EQ(0u, Close().exitCode);
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(ui.StatusText(0).rfind("Filter on: Result is failed", 0), 0u) << ui.StatusText(0);

    // Two threads at once: each one's calls nest under its own.
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
    Command(kResetFilter);
    ProcessResult threads = RunProgram(Quoted(ClientPath()) + " threads 2", 60000);
    ASSERT_EQ(0u, threads.exitCode) << threads.output;
    ASSERT_TRUE(WaitFor([&] { return Ends("FINAL REPORT"); }, 30000));
    std::vector<vx::TraceRecord> twoThreads = ReadRecords(ReadFileText(inst.folder + "TraceDistilled.txt"), threads.processId);
    EXPECT_EQ(ExpectedTree(twoThreads, true, true), Pane(kTree1));
    size_t deepest = 0;
    for (const Node& n : Pane(kTree1)) deepest = std::max(deepest, static_cast<size_t>(n.depth));
    EXPECT_GE(deepest, 2u) << "the threads' Recurse calls nest";
}

}  // namespace
}  // namespace e2e
