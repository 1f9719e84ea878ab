// What the tests of the real main window share: its command and control ids,
// waiting for a state of another process's window, and a fixture that
// installs the program into a folder of its own, starts it and closes it.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <windows.h>

#include "e2e.h"
#include "window.h"

namespace e2e {

using namespace vxremote;

// Command ids, control ids and toolbar positions of the main window.
enum : int {
    kList = 1001, kHookUnhook = 1002, kStart = 1011, kStop = 1012, kOpen = 1021, kSave = 1022, kExport = 1023,
    kCompare = 1024, kFont = 1031, kStatistics = 1038, kResetFilter = 1039, kFailedOnly = 1077,
    kFindNext = 1033, kCopy = 1034, kFinal = 1035, kOnTop = 1041, kExpandAll = 1043, kShowIUnknown = 1045,
    kShowIDispatch = 1046, kSettings = 1047, kHelpHelp = 1051,
    kTree1 = 101, kTree2 = 102, kStatus = 104, kHelp = 105, kTreeTitle = 106, kDetails = 107, kProgress = 109,
    kButtonCom = 0, kButtonRun = 3, kButtonStop = 4, kButtonCopy = 8, kButtonFinal = 9, kButtonOnTop = 10,
    kButtonIUnk = 14, kButtonIDisp = 15,
};
constexpr char kClass[] = "VexiloMainWindow";
constexpr ULONG_PTR kNextTraceFilePath = 0x56585452;  // the path the next file dialog answers
constexpr char kListedStatus[] =
    "Select component DLL/OCX to view its coclasses. You can Hook/Unhook it or run ITypeLib Viewer.";

inline std::string FileName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }
// How the component list names a DLL whose classes it can read.
inline std::string ListedName(const std::string& path) {
    std::string name = FileName(path);
    ::CharUpperBuffA(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

class MainWindowTest : public ::testing::Test {
protected:
    // The staged program in `folder` with fresh settings and no trace, the
    // servers registered, and no window settings of an earlier run.
    void Install(const std::string& folder, std::initializer_list<std::string> servers) {
        inst.folder = folder;
        std::string error;
        ASSERT_TRUE(vxinstall::CopyStage(vxinstall::WinePath(VX_STAGE_DIR), inst.folder, &error)) << error;
        for (const char* name : {"Vexilo.exe", "Help.rtf", "Pollux.dll"}) {
            std::string from = vxinstall::WinePath(VX_STAGE_DIR) + "\\" + name, to = inst.folder + name;
            // A server this test process has loaded is in use; it holds the same bytes.
            if (!::CopyFileA(from.c_str(), to.c_str(), FALSE)) {
                ASSERT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError()) << "cannot copy " << from;
            }
        }
        ASSERT_TRUE(vxinstall::WriteSettings(inst, &error)) << error;
        ASSERT_TRUE(vxinstall::WriteAppPath(inst.folder, &error)) << error;
        vxinstall::ClearTraceFiles(inst.folder);
        for (const std::string& server : servers)
            ASSERT_TRUE(vxinstall::RegisterComponent(server, false, &error)) << error;
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Vexilo");
    }
    void TearDown() override {
        Close();
        std::string error;
        vxinstall::RegisterComponent(SamplePath(), false, &error);
    }

    // The module list `modules` with the sample component hooked as number 1,
    // as an earlier session of the program would have left them.
    void HookSample(std::initializer_list<std::string> modules) {
        inst.main.modules = modules;
        std::string error;
        ASSERT_TRUE(vxinstall::WriteSettings(inst, &error)) << error;
        ASSERT_TRUE(vxinstall::HookComponent(inst.folder, 1, SamplePath(), &error)) << error;
    }

    // Starts the program and waits for its window to show the hooked list;
    // with `message`, the message box the start shows before the window is
    // read and closed first.
    void Start(std::string* message = nullptr) {
        ASSERT_TRUE(program.Start(Quoted(inst.folder + "Vexilo.exe") + " " + inst.folder));
        if (message) *message = MessageAndClose();
        HWND window = FindProcessWindow(program.processId(), kClass, "Vexilo", 30000);
        ASSERT_TRUE(window) << "no main window";
        ASSERT_TRUE(ui.Attach(window));
        ASSERT_TRUE(message || WaitFor([&] { return !ui.Tree(kTree1).empty(); }, 20000)) << "the hooked list stays empty";
    }
    // The text of the message box the program (or `processId`) shows next, closed with OK.
    std::string MessageAndClose(DWORD processId = 0) {
        HWND box = FindProcessWindow(processId ? processId : program.processId(), "#32770", "Vexilo", 30000);
        if (!box) return "<no message>";
        std::string text = MessageBoxText(box);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !::IsWindow(box); }, 5000);
        return text;
    }
    // The first node of the pane with that text (a null item without one).
    TreeNode NodeWithText(int tree, const std::string& text) {
        for (const TreeNode& n : ui.Tree(tree))
            if (n.text == text) return n;
        return {};
    }
    // Selects the sample in the component list, whose classes then fill the right pane.
    void SelectListedSample() {
        ASSERT_TRUE(WaitFor([&] { return ui.StatusText(0) == kListedStatus; }, 90000)) << ui.StatusText(0);
        HTREEITEM node = NodeWithText(kTree1, ListedName(SamplePath())).item;
        ASSERT_TRUE(node) << "the sample component is not listed";
        ASSERT_TRUE(ui.SelectNode(kTree1, node));
        ASSERT_TRUE(WaitFor([&] { return !ui.Tree(kTree2).empty(); }, 5000));
    }
    // Starts or stops tracing and waits for the tree's title to say so.
    void Trace(int command) {
        Command(command);
        const char* title = command == kStart ? "Events (Tracing in Progress)" : "Events";
        ASSERT_TRUE(WaitFor([&] { return ui.Text(kTreeTitle) == title; }, 10000)) << ui.Text(kTreeTitle);
    }
    // Open or Save, with `path` as the file dialog's answer.
    void FileCommand(int command, const std::string& path) {
        COPYDATASTRUCT data = {kNextTraceFilePath, static_cast<DWORD>(path.size() + 1), const_cast<char*>(path.c_str())};
        ASSERT_TRUE(::SendMessageA(ui.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)));
        Command(command);
    }
    void Command(int id) { ::PostMessageA(ui.hwnd(), WM_COMMAND, id, 0); }
    ProcessResult Close(DWORD timeoutMs = 60000) {
        if (!ui.hwnd() || !::IsWindow(ui.hwnd())) return {};
        ::PostMessageA(ui.hwnd(), WM_CLOSE, 0, 0);
        return Ended(timeoutMs);
    }
    // The program's end, without closing it.
    ProcessResult Ended(DWORD timeoutMs) {
        ProcessResult r = program.Finish(timeoutMs);
        ui.Detach();
        return r;
    }
    void Shot(const std::string& name) { EXPECT_TRUE(Screenshot(ui.hwnd(), name)) << name; }

    vxinstall::Installation inst;
    ChildProcess program;
    RemoteWindow ui;
};

}  // namespace e2e
