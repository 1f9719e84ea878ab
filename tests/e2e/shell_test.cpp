// The main program Vexilo.exe driven as a user drives it: its window read
// back through the controls, its settings file and the registry checked
// after each command, screenshots of each mode kept as artifacts.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "e2e.h"
#include "raii.h"
#include "settings_template.h"
#include "shellwindow.h"

namespace e2e {
namespace {

std::string Folder() { return "C:\\vxshell-" + ArchName() + "\\"; }

std::string Upper(std::string s) {
    ::CharUpperBuffA(s.data(), static_cast<DWORD>(s.size()));
    return s;
}
std::string Lower(std::string s) {
    ::CharLowerBuffA(s.data(), static_cast<DWORD>(s.size()));
    return s;
}
std::string FileName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

std::map<std::string, std::string> SettingValues() {
    std::map<std::string, std::string> values;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vexilo\\Settings", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char name[256], data[256];
        DWORD n = sizeof name, d = sizeof data, type = 0;
        if (::RegEnumValueA(key, i, name, &n, nullptr, &type, reinterpret_cast<BYTE*>(data), &d) != ERROR_SUCCESS) break;
        values[name] = type == REG_SZ ? std::string(data) : "<not a string>";
    }
    ::RegCloseKey(key);
    return values;
}

void SetSettingValue(const char* name, const char* text) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vexilo\\Settings", 0, nullptr, 0, KEY_WRITE,
                                               nullptr, &key, nullptr));
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
    ::RegCloseKey(key);
}

std::string ServerOf(const std::string& clsid) { return RegString("CLSID\\" + clsid + "\\InprocServer32"); }

// The DLL's own registration, started by an unhook, runs apart: true once no
// regsvr32 is running any more.
bool NoRegistrationRunning() {
    vx::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more; more = ::Process32Next(snapshot.get(), &entry))
        if (_stricmp(entry.szExeFile, "regsvr32.exe") == 0) return false;
    return true;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Line n of the text, or "" while the file is shorter (it is rewritten
// through a copy, so a look may find it empty for a moment).
std::string LineOf(const std::string& text, size_t n) {
    std::vector<std::string> lines = Lines(text);
    return n < lines.size() ? lines[n] : std::string();
}

class ShellTest : public MainWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(
            Install(Folder(), {Folder() + "Ledra.dll", Folder() + "Pollux.dll", SamplePath(), PlainPath()}));
    }
    std::string Settings() const { return ReadFileText(inst.folder + "Vexilo.txt"); }
    HTREEITEM NodeWithText(int tree, const std::string& text) {
        for (const TreeNode& n : ui.Tree(tree))
            if (n.text == text) return n.item;
        return nullptr;
    }
};

TEST_F(ShellTest, FirstStartSecondCopyAndTheTwelveValues) {
    ASSERT_NO_FATAL_FAILURE(Start());
    HDC screen = ::GetDC(nullptr);
    int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    auto px = [&](int twips) { return MulDiv(twips, dpi, 1440); };
    RECT r;
    ::GetWindowRect(ui.hwnd(), &r);
    EXPECT_NEAR(px(2000), r.left, 1);
    EXPECT_NEAR(px(2000), r.top, 1);
    EXPECT_NEAR(px(12000), r.right - r.left, 1);
    EXPECT_NEAR(px(8000), r.bottom - r.top, 1);

    auto left = ui.Tree(kTree1);
    ASSERT_EQ(1u, left.size());
    EXPECT_EQ("No hooked component DLLs.", left[0].text);
    auto right = ui.Tree(kTree2);
    ASSERT_EQ(1u, right.size());
    EXPECT_EQ("Select item in the left pane to view details in this pane.", right[0].text);
    EXPECT_EQ("Currently Hooked Component DLLs", ui.Text(kTreeTitle));
    // Nothing hooked: Quick Help is open over the right pane.
    EXPECT_EQ("Quick Help", ui.Text(kDetails));
    EXPECT_TRUE(::IsWindowVisible(ui.Child(kHelp)));
    EXPECT_EQ(1, ui.StatusParts());
    EXPECT_EQ("Choose Mode:  View Component DLL List  or  View Trace from File  or  Start Tracing.", ui.StatusText(0));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonRun));
    EXPECT_TRUE(ui.MenuState(kStart) & MF_GRAYED);
    EXPECT_TRUE(ui.ButtonEnabled(kButtonCom));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonCopy));
    EXPECT_FALSE(ui.MenuState(kList) & MF_GRAYED);
    Shot("shell-hooked-empty.png");

    // A second copy says so, raises the first and ends; the first stays the only window.
    ChildProcess second;
    ASSERT_TRUE(second.Start(Quoted(inst.folder + "Vexilo.exe")));
    HWND box = FindProcessWindow(second.processId(), "#32770", "Vexilo", 20000);
    ASSERT_TRUE(box) << "no message from the second copy";
    EXPECT_EQ("Vexilo is already running.", MessageBoxText(box));
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, second.Finish(20000).exitCode);
    EXPECT_EQ(nullptr, FindProcessWindow(second.processId(), kClass));
    EXPECT_TRUE(::IsWindow(ui.hwnd()));

    // Always on top from the menu: the check mark, the button and the window follow.
    Command(kOnTop);
    ASSERT_TRUE(WaitFor([&] { return (ui.MenuState(kOnTop) & MF_CHECKED) != 0; }, 5000));
    EXPECT_TRUE(ui.ButtonChecked(kButtonOnTop));

    ::SetWindowPos(ui.hwnd(), nullptr, 200, 150, 900, 600, SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_EQ(0u, Close().exitCode);
    auto values = SettingValues();
    EXPECT_EQ(12u, values.size());
    std::map<std::string, std::string> expected = {
        {"TreeIsExpanded", "True"}, {"ShowUserMethods", "True"}, {"ShowIUnknown", "True"}, {"ShowIDispatch", "True"},
        {"EnsureVisibleLastItem", "True"}, {"AlwaysOnTop", "True"}, {"WindowState", "0"}, {"Splitter", "5330"},
        {"MainLeft", std::to_string(MulDiv(200, 1440, dpi))}, {"MainTop", std::to_string(MulDiv(150, 1440, dpi))},
        {"MainWidth", std::to_string(MulDiv(900, 1440, dpi))}, {"MainHeight", std::to_string(MulDiv(600, 1440, dpi))}};
    EXPECT_EQ(expected, values);

    // Restored at the next start; a maximized exit keeps the measures and writes "2".
    ASSERT_NO_FATAL_FAILURE(Start());
    ::GetWindowRect(ui.hwnd(), &r);
    EXPECT_EQ(200, r.left);
    EXPECT_EQ(150, r.top);
    EXPECT_EQ(900, r.right - r.left);
    EXPECT_TRUE(ui.MenuState(kOnTop) & MF_CHECKED);
    EXPECT_TRUE(::GetWindowLongA(ui.hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) << "restored always on top";
    ASSERT_EQ(0u, Close().exitCode);
    // Stored maximized: it opens maximized, and a maximized exit keeps the measures.
    SetSettingValue("WindowState", "2");
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_TRUE(::IsZoomed(ui.hwnd()));
    ASSERT_EQ(0u, Close().exitCode);
    values = SettingValues();
    EXPECT_EQ("2", values["WindowState"]);
    EXPECT_EQ(expected["MainLeft"], values["MainLeft"]);

    // Values that do not parse, and a place off every screen: defaults, on the screen.
    SetSettingValue("MainLeft", "far away");
    SetSettingValue("MainTop", "-90000");
    SetSettingValue("AlwaysOnTop", "maybe");
    SetSettingValue("WindowState", "0");
    ASSERT_NO_FATAL_FAILURE(Start());
    ::GetWindowRect(ui.hwnd(), &r);
    EXPECT_NEAR(px(2000), r.left, 1);
    EXPECT_NEAR(px(2000), r.top, 1);
    EXPECT_FALSE(ui.MenuState(kOnTop) & MF_CHECKED);
}

TEST_F(ShellTest, ComponentListHookAndUnhookFromTheWindow) {
    const std::string sample = SamplePath(), plain = PlainPath();
    const std::vector<std::string> classes = vxinstall::ClassesOfServer(sample);
    ASSERT_FALSE(classes.empty());
    ASSERT_NO_FATAL_FAILURE(Start());
    Command(kList);
    ASSERT_TRUE(WaitFor([&] { return ui.StatusText(0) == kListedStatus; }, 90000)) << ui.StatusText(0);
    EXPECT_EQ("Component DLL/OCX List", ui.Text(kTreeTitle));
    EXPECT_EQ(2, ui.StatusParts());
    EXPECT_EQ(0u, ui.StatusText(1).find("Found Component DLLs: ")) << ui.StatusText(1);
    EXPECT_TRUE(ui.ButtonEnabled(kButtonCopy));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonRun)) << "nothing in the module list";
    HTREEITEM sampleNode = NodeWithText(kTree1, Upper(FileName(sample)));
    ASSERT_TRUE(sampleNode) << "the sample component is not listed";
    // Without a type library its classes cannot be loaded: lower case (and grey).
    EXPECT_TRUE(NodeWithText(kTree1, Lower(FileName(plain)))) << "the component without a type library is not listed";
    // Still "Quick Help" while help covers the pane.
    EXPECT_EQ("Quick Help", ui.Text(kDetails));

    ASSERT_TRUE(ui.SelectNode(kTree1, sampleNode));
    ASSERT_TRUE(WaitFor([&] { return !ui.Tree(kTree2).empty(); }, 5000));
    auto right = ui.Tree(kTree2);
    EXPECT_EQ(sample, right[0].text);
    size_t guids = 0;
    for (const TreeNode& n : right)
        if (n.depth == 2) guids += std::find(classes.begin(), classes.end(), n.text) != classes.end();
    EXPECT_EQ(classes.size(), guids) << "every class of the DLL with its identifier";
    EXPECT_EQ(1 + 2 * classes.size(), right.size());
    EXPECT_FALSE(::IsWindowVisible(ui.Child(kHelp))) << "selecting a DLL closes Quick Help";
    EXPECT_EQ("Selected Component DLL's CoClasses", ui.Text(kDetails));
    Shot("shell-component-list.png");

    // Hook: module line 1, classes on the stub copy, the picture, "Run".
    Command(kHookUnhook);
    ASSERT_TRUE(WaitFor([&] { return ServerOf(classes[0]) == inst.folder + "Zor#_01.dll"; }, 20000)) << ServerOf(classes[0]);
    ASSERT_TRUE(WaitFor([&] { return LineOf(Settings(), 5) == sample; }, 5000)) << Settings();
    for (const std::string& cls : classes) EXPECT_EQ(inst.folder + "Zor#_01.dll", ServerOf(cls));
    ASSERT_TRUE(WaitFor([&] { return ui.ButtonEnabled(kButtonRun); }, 5000));
    EXPECT_FALSE(ui.MenuState(kStart) & MF_GRAYED);
    for (const TreeNode& n : ui.Tree(kTree1))
        if (n.item == sampleNode) {
            EXPECT_EQ(1, n.image) << "the Hook picture";
        }

    // A client created now loads the component through the stub copy.
    ProcessResult client = RunProgram(Quoted(ClientPath()) + " basic", 60000);
    EXPECT_EQ(0u, client.exitCode) << client.output;
    std::string trace = ReadFileText(inst.folder + "TraceDistilled.txt");
    EXPECT_NE(std::string::npos, trace.find(sample)) << "no trace of the hooked component:\n" << trace;

    // Unhook: the line commented out, the DLL's own registration back, "Run" off.
    Command(kHookUnhook);
    ASSERT_TRUE(WaitFor([&] { return LineOf(Settings(), 5) == "//" + sample; }, 10000)) << Settings();
    EXPECT_TRUE(WaitFor([&] { return ServerOf(classes[0]) == sample; }, 30000)) << ServerOf(classes[0]);
    ASSERT_TRUE(WaitFor([&] { return !ui.ButtonEnabled(kButtonRun); }, 5000));
    EXPECT_TRUE(ui.MenuState(kStart) & MF_GRAYED);

    // The freed number is used again; the exit removes the hook.
    ASSERT_TRUE(WaitFor(NoRegistrationRunning, 30000));
    Command(kHookUnhook);
    ASSERT_TRUE(WaitFor([&] { return LineOf(Settings(), 5) == sample; }, 10000)) << Settings();
    EXPECT_TRUE(WaitFor([&] { return ServerOf(classes[0]) == inst.folder + "Zor#_01.dll"; }, 10000));
    ProcessResult exit = Close();
    EXPECT_EQ(0u, exit.exitCode);
    EXPECT_TRUE(WaitFor([&] { return ServerOf(classes[0]) == sample; }, 30000)) << ServerOf(classes[0]);
}

TEST_F(ShellTest, SettingsDialogRewritesTheTwoAnswers) {
    const std::string before = Settings();
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_TRUE(ui.ButtonEnabled(kButtonIUnk));
    EXPECT_TRUE(ui.ButtonChecked(kButtonIUnk));
    Command(kSettings);
    HWND dialog = FindProcessWindow(program.processId(), "#32770", "Settings", 10000);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(BST_CHECKED, ::SendMessageA(::GetDlgItem(dialog, 102), BM_GETCHECK, 0, 0));
    EXPECT_TRUE(Screenshot(dialog, "shell-settings-dialog.png"));
    ::SendMessageA(::GetDlgItem(dialog, 102), BM_CLICK, 0, 0);
    ::SendMessageA(::GetDlgItem(dialog, 103), BM_CLICK, 0, 0);
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, 104))) << "the note goes with both boxes unchecked";
    ::SendMessageA(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return Settings() != before; }, 10000));
    auto was = Lines(before), now = Lines(Settings());
    ASSERT_EQ(was.size(), now.size());
    EXPECT_EQ("Print IUnknown methods ? [Y/N]: N", now[0]);
    EXPECT_EQ("Print IDispatch methods ? [Y/N]: N", now[1]);
    for (size_t i = 2; i < now.size(); ++i) EXPECT_EQ(was[i], now[i]) << "line " << i + 1;
    EXPECT_FALSE(FileExists(inst.folder + "Vexilo.txt1")) << "the temporary copy is deleted";
    ASSERT_TRUE(WaitFor([&] { return !ui.ButtonEnabled(kButtonIUnk); }, 5000));
    EXPECT_FALSE(ui.ButtonChecked(kButtonIUnk));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonIDisp));
    EXPECT_TRUE(ui.MenuState(kShowIUnknown) & MF_GRAYED);
    EXPECT_TRUE(ui.MenuState(kShowIDispatch) & MF_GRAYED);
}

TEST_F(ShellTest, StartWithTheSampleInUseNamesItAndTracesItAtOnce) {
    const std::string sample = SamplePath();
    ASSERT_NO_FATAL_FAILURE(HookSample({sample}));
    ChildProcess client;
    ASSERT_TRUE(client.Start(Quoted(ClientPath()) + " wait"));
    ASSERT_TRUE(client.WaitForOutput("waiting", 60000));

    ASSERT_TRUE(program.Start(Quoted(inst.folder + "Vexilo.exe") + " " + inst.folder));
    HWND box = FindProcessWindow(program.processId(), "#32770", "Vexilo", 30000);
    ASSERT_TRUE(box) << "no in-use message";
    EXPECT_EQ("Following hooked component DLLs are now in use by some processes:\r\n" + Upper(FileName(sample)) +
                  " (by ProcID=" + std::to_string(client.processId()) + ")\r\nAccumulated trace info will be shown now.",
              MessageBoxText(box));
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    HWND window = FindProcessWindow(program.processId(), kClass, "Vexilo", 30000);
    ASSERT_TRUE(window);
    ASSERT_TRUE(ui.Attach(window));
    // Tracing started by itself and shows what the client did so far.
    ASSERT_TRUE(WaitFor([&] { return NodeWithText(kTree1, "Add <VxSample Calc Class(1)>") != nullptr; }, 20000));
    EXPECT_EQ("Events (Tracing in Progress)", ui.Text(kTreeTitle));
    EXPECT_TRUE(ui.ButtonChecked(kButtonRun));
    auto nodes = ui.Tree(kTree1);
    ASSERT_GE(nodes.size(), 3u);
    EXPECT_EQ("LOAD DLL: " + FileName(sample), nodes[0].text);
    EXPECT_TRUE(NodeWithText(kTree1, "CREATING <VxSample Calc Class(1)>"));
    Shot("shell-hooked-list.png");
    client.Write("\n");
    EXPECT_EQ(0u, client.Finish(60000).exitCode);
    EXPECT_TRUE(WaitFor([&] { return NodeWithText(kTree1, "FINAL REPORT") != nullptr; }, 20000));
    EXPECT_TRUE(NodeWithText(kTree1, "UNLOAD DLL: " + FileName(sample)));
}

// Suspends every thread of the process but the one that owns the window:
// the reader's watcher among them can then never report that it has ended.
int SuspendAllButWindowThread(DWORD processId, HWND window) {
    DWORD windowThread = ::GetWindowThreadProcessId(window, nullptr);
    vx::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int suspended = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != processId || entry.th32ThreadID == windowThread) continue;
        vx::unique_handle thread(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (thread && ::SuspendThread(thread.get()) != static_cast<DWORD>(-1)) ++suspended;
    }
    return suspended;
}

TEST_F(ShellTest, ExitWhoseReaderNeverReportsTheEndClosesWithinTheBound) {
    const std::string sample = SamplePath();
    const std::vector<std::string> classes = vxinstall::ClassesOfServer(sample);
    ASSERT_FALSE(classes.empty());
    ASSERT_NO_FATAL_FAILURE(HookSample({sample}));
    // The bound is the user's to set (30 seconds unless set); a short one
    // keeps this test short.
    SetSettingValue("ExitWaitSeconds", "4");
    // The start re-hooks the line: the reader's watcher runs from then on.
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(WaitFor([&] { return ui.ButtonEnabled(kButtonRun); }, 10000));
    ASSERT_TRUE(WaitFor(NoRegistrationRunning, 30000));
    ASSERT_GT(SuspendAllButWindowThread(program.processId(), ui.hwnd()), 0) << "no watcher thread to stop";

    DWORD start = ::GetTickCount();
    ::PostMessageA(ui.hwnd(), WM_CLOSE, 0, 0);
    HWND box = FindProcessWindow(program.processId(), "#32770", "Vexilo", 60000);
    ASSERT_TRUE(box) << "no message about the hooks that may stay";
    DWORD waited = ::GetTickCount() - start;
    EXPECT_GE(waited, 3900u);
    EXPECT_LT(waited, 15000u);
    std::string text = MessageBoxText(box);
    EXPECT_NE(std::string::npos, text.find("did not report within 4 seconds")) << text;
    EXPECT_NE(std::string::npos, text.find(sample)) << "the message names the hook:\n" << text;
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    ProcessResult exit = program.Finish(20000);
    ui.Detach();
    EXPECT_EQ(0u, exit.exitCode) << "the program closes anyway";
    // The hook itself was removed before the wait.
    EXPECT_TRUE(WaitFor([&] { return ServerOf(classes[0]) == sample; }, 30000)) << ServerOf(classes[0]);
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

TEST_F(ShellTest, FindNextWrapsCopyTakesEitherPaneAndFontSetsBoth) {
    // A trace of the sample client to open: written through the hook before the window starts.
    const std::string sample = SamplePath();
    ASSERT_NO_FATAL_FAILURE(HookSample({sample}));
    ProcessResult client = RunProgram(Quoted(ClientPath()) + " basic", 60000);
    ASSERT_EQ(0u, client.exitCode) << client.output;
    const std::string saved = inst.folder + "find.trc";
    ASSERT_TRUE(::CopyFileA((inst.folder + "TraceDistilled.txt").c_str(), saved.c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(Start());
    COPYDATASTRUCT path = {kNextTraceFilePath, static_cast<DWORD>(saved.size() + 1), const_cast<char*>(saved.c_str())};
    ASSERT_TRUE(::SendMessageA(ui.hwnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&path)));
    Command(kOpen);
    std::vector<TreeNode> nodes;
    ASSERT_TRUE(WaitFor([&] {
        nodes = ui.Tree(kTree1);
        return nodes.size() > 10 && nodes.back().text == "FINAL REPORT";
    }, 30000)) << nodes.size() << " nodes";
    auto selectedText = [&] {
        HTREEITEM item = TreeView_GetSelection(ui.Child(kTree1));
        for (const TreeNode& n : ui.Tree(kTree1))
            if (n.item == item) return n.text;
        return std::string("(none)");
    };
    auto message = [&] {
        HWND box = FindProcessWindow(program.processId(), "#32770", "Vexilo", 10000);
        if (!box) return std::string("(no message)");
        std::string text = MessageBoxText(box);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !::IsWindow(box); }, 5000);
        return text;
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
    EXPECT_EQ("The whole trace has been searched.", message());
    // With Match Case the same text is in no node.
    ::SendMessageA(matchCase, BM_SETCHECK, BST_CHECKED, 0);
    ::PostMessageA(find, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(next));
    EXPECT_EQ("Search text is not found.", message());
    // Cancel keeps the text and the box for F3, which then searches with the dialog hidden.
    ::SendMessageA(what, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("FINAL REP"));
    ::PostMessageA(find, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(find, IDCANCEL)));
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(find); }, 5000));
    ASSERT_TRUE(ui.SelectNode(kTree1, nodes[1].item));
    Command(kFindNext);
    ASSERT_TRUE(WaitFor([&] { return selectedText() == "FINAL REPORT"; }, 10000)) << selectedText();
    EXPECT_FALSE(FindProcessWindow(program.processId(), "#32770", "Find in Trace")) << "F3 searches with the dialog hidden";

    // Copy: the left pane's selected node, then the right pane's shown lines indented by level.
    ASSERT_TRUE(WaitFor([&] { return ui.Tree(kTree2).size() > 3; }, 5000));
    FocusControl(ui.Child(kTree1));
    Command(kCopy);
    EXPECT_TRUE(WaitFor([&] { return ClipboardText() == "FINAL REPORT"; }, 5000)) << ClipboardText();
    std::string expected;
    HWND right = ui.Child(kTree2);
    int hiddenBelow = 1 << 30;  // nodes deeper than this lie inside a collapsed branch
    for (const TreeNode& n : ui.Tree(kTree2)) {
        if (n.depth > hiddenBelow) continue;
        hiddenBelow = 1 << 30;
        expected += (expected.empty() ? "" : "\r\n") + std::string(4 * n.depth, ' ') + n.text;
        bool expanded = ::SendMessageA(right, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(n.item), TVIS_EXPANDED) & TVIS_EXPANDED;
        if (!expanded) hiddenBelow = n.depth;
    }
    EXPECT_NE(std::string::npos, expected.find("\r\n        ")) << "the report reaches two levels down:\n" << expected;
    FocusControl(right);
    Command(kCopy);
    EXPECT_TRUE(WaitFor([&] { return ClipboardText() == expected; }, 5000)) << ClipboardText();
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
}

// A user clicking quickly: List DLLs and a close arrive while a hook is in
// progress (its message pumps run them). The hook completes, then the
// listing runs (it shows the hook), then the window closes.
TEST_F(ShellTest, CommandsAndACloseDuringAHookWaitTheirTurn) {
    const std::string sample = SamplePath();
    const std::vector<std::string> classes = vxinstall::ClassesOfServer(sample);
    ASSERT_FALSE(classes.empty());
    ASSERT_NO_FATAL_FAILURE(Start());
    Command(kList);
    ASSERT_TRUE(WaitFor([&] { return ui.StatusText(0) == kListedStatus; }, 90000)) << ui.StatusText(0);
    HTREEITEM node = NodeWithText(kTree1, Upper(FileName(sample)));
    ASSERT_TRUE(node);
    ASSERT_TRUE(ui.SelectNode(kTree1, node));
    ASSERT_TRUE(WaitFor([&] { return !ui.Tree(kTree2).empty(); }, 5000));

    Command(kHookUnhook);
    Command(kList);
    auto listedHooked = [&] {
        if (ui.StatusText(0) != kListedStatus) return false;
        for (const TreeNode& n : ui.Tree(kTree1))
            if (n.text == Upper(FileName(sample))) return n.image == 1;  // the Hook picture
        return false;
    };
    ASSERT_TRUE(WaitFor(listedHooked, 90000)) << "the listing ran before the hook was recorded";
    EXPECT_EQ(sample, LineOf(Settings(), 5));
    EXPECT_EQ(inst.folder + "Zor#_01.dll", ServerOf(classes[0]));

    // The same with a close: the unhook completes, the listing runs, the window closes.
    ASSERT_TRUE(WaitFor(NoRegistrationRunning, 30000));
    node = NodeWithText(kTree1, Upper(FileName(sample)));
    ASSERT_TRUE(node);
    ASSERT_TRUE(ui.SelectNode(kTree1, node));
    ASSERT_TRUE(WaitFor([&] { return !ui.Tree(kTree2).empty(); }, 5000));
    Command(kHookUnhook);
    Command(kList);
    ::PostMessageA(ui.hwnd(), WM_CLOSE, 0, 0);
    ProcessResult exit = program.Finish(120000);
    ui.Detach();
    EXPECT_EQ(0u, exit.exitCode) << "closed without a fault";
    EXPECT_EQ("//" + sample, LineOf(Settings(), 5));
    EXPECT_TRUE(WaitFor([&] { return ServerOf(classes[0]) == sample; }, 30000)) << ServerOf(classes[0]);
}

// The highest record number of a trace file and how many record headers it
// has; a client killed in the middle of a call may leave its last record cut.
std::pair<int, int> LastNumberAndHeaders(const std::string& text) {
    int headers = 0;
    for (size_t at = text.find(" PID="); at != std::string::npos; at = text.find(" PID=", at + 1)) ++headers;
    size_t last = text.rfind(" PID=");
    size_t open = last == std::string::npos ? std::string::npos : text.find('[', last);
    return {open == std::string::npos ? 0 : std::atoi(text.c_str() + open + 1), headers};
}

// A client calling at full speed, with the view's record bound set low: the
// view stops growing and says so while the window keeps answering, the
// trace file keeps every record, and a close ends within the exit's bound
// with the hooks removed.
TEST_F(ShellTest, AFastClientFillsTheViewToItsBoundAndTheCloseStillEndsInTime) {
    const std::string sample = SamplePath();
    const std::vector<std::string> classes = vxinstall::ClassesOfServer(sample);
    ASSERT_FALSE(classes.empty());
    ASSERT_NO_FATAL_FAILURE(HookSample({sample}));
    SetSettingValue("MaxViewRecords", "3000");
    ASSERT_NO_FATAL_FAILURE(Start());
    Command(kStart);
    ASSERT_TRUE(WaitFor([&] { return ui.Text(kTreeTitle) == "Events (Tracing in Progress)"; }, 10000));
    ChildProcess client;
    ASSERT_TRUE(client.Start(Quoted(ClientPath()) + " loop 2000000000"));  // calls for minutes

    const std::string bound = "View full at 3000 records; ";
    ASSERT_TRUE(WaitFor([&] { return ui.StatusText(0).rfind(bound, 0) == 0; }, 60000)) << ui.StatusText(0);
    const std::string processed = ui.StatusText(1);
    auto leftOut = [&] { return std::atol(ui.StatusText(0).c_str() + bound.size()); };
    const long first = leftOut();
    ASSERT_TRUE(WaitFor([&] { return leftOut() > first + 3000; }, 60000)) << ui.StatusText(0);
    EXPECT_EQ(processed, ui.StatusText(1)) << "the view stopped growing";
    DWORD_PTR answer = 0;
    DWORD asked = ::GetTickCount();
    EXPECT_TRUE(::SendMessageTimeoutA(ui.hwnd(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_LT(::GetTickCount() - asked, 2000u) << "the window answers while records pour in";
    Shot("shell-view-bound.png");

    DWORD start = ::GetTickCount();
    ::PostMessageA(ui.hwnd(), WM_CLOSE, 0, 0);
    ProcessResult exit = program.Finish(60000);
    DWORD took = ::GetTickCount() - start;
    ui.Detach();
    EXPECT_EQ(0u, exit.exitCode);
    EXPECT_LT(took, 30000u) << "the close waited past its bound";
    EXPECT_TRUE(WaitFor([&] { return ServerOf(classes[0]) == sample; }, 30000)) << ServerOf(classes[0]);
    EXPECT_EQ("3000", SettingValues()["MaxViewRecords"]) << "the bound is the user's, kept as it was";
    client.Kill();
    auto [last, headers] = LastNumberAndHeaders(ReadFileText(inst.folder + "TraceDistilled.txt"));
    EXPECT_GT(last, 3000) << "the trace file holds what the view left out";
    EXPECT_EQ(last, headers) << "every record numbered one by one";
}

// Start-up re-hooks the module list: a line whose DLL cannot be loaded is
// switched off, a loadable DLL that cannot be hooked now (its classes are
// registered for another path) stays listed and is named to the user. Then
// the session ends: the settings are saved and the hooks removed, without a
// close.
TEST_F(ShellTest, StartKeepsHooksRefusedForNowAndTheSessionEndRemovesTheOthers) {
    const std::string sample = SamplePath();
    const std::vector<std::string> classes = vxinstall::ClassesOfServer(sample);
    ASSERT_FALSE(classes.empty());
    const std::string copy = inst.folder + "VxSampleCopy.dll", gone = "C:\\vx-nowhere\\Gone.dll";
    ASSERT_TRUE(::CopyFileA(sample.c_str(), copy.c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(HookSample({sample, copy, gone}));
    ASSERT_NO_FATAL_FAILURE(Start());
    HWND box = FindProcessWindow(program.processId(), "#32770", "Vexilo", 30000);
    ASSERT_TRUE(box) << "no word about the hook that could not be applied";
    std::string text = MessageBoxText(box);
    EXPECT_NE(std::string::npos, text.find("could not be hooked again now")) << text;
    EXPECT_NE(std::string::npos, text.find("\r\n" + copy)) << text;
    EXPECT_EQ(std::string::npos, text.find(gone)) << text;
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(sample, LineOf(Settings(), 5));
    EXPECT_EQ(copy, LineOf(Settings(), 6)) << "kept for the next start";
    EXPECT_EQ("//" + gone, LineOf(Settings(), 7)) << "a DLL that is gone is switched off";
    EXPECT_EQ(inst.folder + "Zor#_01.dll", ServerOf(classes[0]));

    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(ui.hwnd(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer));
    EXPECT_EQ(TRUE, static_cast<BOOL>(answer)) << "the window lets the session end";
    DWORD start = ::GetTickCount();
    ASSERT_TRUE(::SendMessageTimeoutA(ui.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 20000, &answer));
    EXPECT_LT(::GetTickCount() - start, 5000u) << "within the time a session's end gives";
    EXPECT_EQ(sample, ServerOf(classes[0])) << "the hook is removed before the session ends";
    EXPECT_EQ("0", SettingValues()["WindowState"]) << "the window settings are saved";
    // The system ends the program once the session is over.
    program.Kill();
    ui.Detach();
}

}  // namespace
}  // namespace e2e
