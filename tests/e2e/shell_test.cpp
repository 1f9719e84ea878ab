// The main program Vexilo.exe driven as a user drives it: its window read
// back through the controls, its settings file and the registry checked
// after each command, screenshots of each mode kept as artifacts.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <map>

#include "modulelist.h"
#include "settings_template.h"
#include "shellwindow.h"
#include "tracetext.h"

namespace e2e {
namespace {

std::string Folder() { return "C:\\vxshell-" + ArchName() + "\\"; }

std::string Lower(std::string s) {
    ::CharLowerBuffA(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

std::map<std::string, std::string> SettingValues() {
    std::map<std::string, std::string> values;
    vx::unique_hkey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vexilo\\Settings", 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char name[256], data[256];
        DWORD n = sizeof name, d = sizeof data, type = 0;
        if (::RegEnumValueA(key.get(), i, name, &n, nullptr, &type, reinterpret_cast<BYTE*>(data), &d) != ERROR_SUCCESS) break;
        values[name] = type == REG_SZ ? std::string(data) : "<not a string>";
    }
    return values;
}

void SetSettingValue(const char* name, const char* text) {
    vx::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vexilo\\Settings", 0, nullptr, 0, KEY_WRITE,
                                               nullptr, key.put(), nullptr));
    ::RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
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

class ShellTest : public MainWindowTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(
            Install(Folder(), {Folder() + "Ledra.dll", Folder() + "Pollux.dll", SamplePath(), PlainPath()}));
        classes = vxinstall::ClassesOfServer(sample);
        ASSERT_FALSE(classes.empty());
    }
    std::string Settings() const { return ReadFileText(inst.folder + "Vexilo.txt"); }
    // Hook n's module line, "//" before a freed path, read by position as the
    // kernel reads it; "" while the file is rewritten through its copy.
    std::string HookLine(size_t n = 1) const {
        std::vector<vx::ModuleLine> lines = vx::ModuleLines(Settings());
        return n > lines.size() ? "" : (lines[n - 1].active ? "" : "//") + lines[n - 1].path;
    }
    // Waits until the sample's first class is served by `server`.
    ::testing::AssertionResult ServedBy(const std::string& server, DWORD timeoutMs = 30000) {
        if (WaitFor([&] { return ServerOf(classes[0]) == server; }, timeoutMs)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "served by " << ServerOf(classes[0]);
    }
    std::string Stub() const { return inst.folder + "Zor#_01.dll"; }

    const std::string sample = SamplePath();
    std::vector<std::string> classes;  // of the sample
};

TEST_F(ShellTest, FirstStartSecondCopyStoredValuesAndTheSettingsDialog) {
    ASSERT_NO_FATAL_FAILURE(Start());
    int dpi = ::GetDeviceCaps(vx::window_dc().get(), LOGPIXELSX);
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
    // Nothing hooked: Quick Help is open over the right pane.
    EXPECT_EQ("Quick Help", ui.Text(kDetails));
    EXPECT_TRUE(::IsWindowVisible(ui.Child(kHelp)));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonRun));
    EXPECT_TRUE(ui.MenuState(kStart) & MF_GRAYED);
    EXPECT_TRUE(ui.ButtonEnabled(kButtonCom));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonCopy));
    EXPECT_FALSE(ui.MenuState(kList) & MF_GRAYED);
    Shot("shell-hooked-empty.png");

    // A second copy says so, raises the first and ends; the first stays the only window.
    ChildProcess second;
    ASSERT_TRUE(second.Start(Quoted(inst.folder + "Vexilo.exe")));
    EXPECT_EQ("Vexilo is already running.", MessageAndClose(second.processId()));
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
    std::map<std::string, std::string> expected = {
        {"TreeIsExpanded", "True"}, {"ShowUserMethods", "True"}, {"ShowIUnknown", "True"}, {"ShowIDispatch", "True"},
        {"EnsureVisibleLastItem", "True"}, {"AlwaysOnTop", "True"}, {"WindowState", "0"}, {"Splitter", "5330"},
        {"NestByArrivalOrder", "False"}, {"FilterRules", ""}, {"HighlightRules", ""},
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

    // A place off every screen: the default place, whole.
    SetSettingValue("MainTop", "-90000");
    SetSettingValue("WindowState", "0");
    const std::string before = Settings();
    ASSERT_NO_FATAL_FAILURE(Start());
    ::GetWindowRect(ui.hwnd(), &r);
    EXPECT_NEAR(px(2000), r.left, 1);
    EXPECT_NEAR(px(2000), r.top, 1);

    // The Settings dialog rewrites its two answers and nothing else.
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
    std::string answered = before;  // both answers N, every other line as it was
    for (const char* q : {"Print IUnknown methods ? [Y/N]: ", "Print IDispatch methods ? [Y/N]: "})
        answered.replace(answered.find(q) + std::strlen(q), 1, "N");
    ASSERT_TRUE(WaitFor([&] { return Settings() == answered; }, 10000)) << Settings();
    EXPECT_FALSE(FileExists(inst.folder + "Vexilo.txt1")) << "the temporary copy is deleted";
    ASSERT_TRUE(WaitFor([&] { return !ui.ButtonEnabled(kButtonIUnk); }, 5000));
    EXPECT_FALSE(ui.ButtonChecked(kButtonIUnk));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonIDisp));
    EXPECT_TRUE(ui.MenuState(kShowIUnknown) & MF_GRAYED);
    EXPECT_TRUE(ui.MenuState(kShowIDispatch) & MF_GRAYED);
}

// Listing, hooking and unhooking as a user clicks: List DLLs and a close
// arrive while a hook or an unhook is in progress (its message pumps run
// them); each waits its turn: the listing shows the hook, the close ends the
// program once the unhook is done.
TEST_F(ShellTest, ComponentListHookAndUnhookFromTheWindow) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Command(kList);
    ASSERT_TRUE(WaitFor([&] { return ui.StatusText(0) == kListedStatus; }, 90000)) << ui.StatusText(0);
    EXPECT_EQ(0u, ui.StatusText(1).find("Found Component DLLs: ")) << ui.StatusText(1);
    EXPECT_TRUE(ui.ButtonEnabled(kButtonCopy));
    EXPECT_FALSE(ui.ButtonEnabled(kButtonRun)) << "nothing in the module list";
    // Without a type library its classes cannot be loaded: lower case (and grey).
    EXPECT_TRUE(NodeWithText(kTree1, Lower(FileName(PlainPath()))).item) << "the component without a type library is not listed";
    // Still "Quick Help" while help covers the pane.
    EXPECT_EQ("Quick Help", ui.Text(kDetails));

    ASSERT_NO_FATAL_FAILURE(SelectListedSample());
    EXPECT_EQ(sample, ui.Tree(kTree2)[0].text);
    EXPECT_EQ(1 + 2 * classes.size(), ui.Tree(kTree2).size());
    for (const std::string& cls : classes) EXPECT_TRUE(NodeWithText(kTree2, cls).item) << "no node for class " << cls;
    EXPECT_FALSE(::IsWindowVisible(ui.Child(kHelp))) << "selecting a DLL closes Quick Help";
    EXPECT_EQ("Selected Component DLL's CoClasses", ui.Text(kDetails));
    Shot("shell-component-list.png");

    // Hook, with List DLLs clicked at once: module line 1, classes on the
    // stub copy, then the listing with the Hook picture; "Run".
    Command(kHookUnhook);
    Command(kList);
    ASSERT_TRUE(WaitFor([&] {
        return ui.StatusText(0) == kListedStatus && NodeWithText(kTree1, ListedName(sample)).image == 1;
    }, 90000)) << "the listing ran before the hook was recorded";
    EXPECT_EQ(sample, HookLine());
    for (const std::string& cls : classes) EXPECT_EQ(Stub(), ServerOf(cls));
    ASSERT_TRUE(WaitFor([&] { return ui.ButtonEnabled(kButtonRun); }, 5000));
    EXPECT_FALSE(ui.MenuState(kStart) & MF_GRAYED);

    // A client created now loads the component through the stub copy.
    ProcessResult client = RunProgram(Quoted(ClientPath()) + " basic", 60000);
    EXPECT_EQ(0u, client.exitCode) << client.output;
    std::string trace = ReadFileText(inst.folder + "TraceDistilled.txt");
    EXPECT_NE(std::string::npos, trace.find(sample)) << "no trace of the hooked component:\n" << trace;

    // Unhook: the line commented out, the DLL's own registration back, "Run" off.
    ASSERT_NO_FATAL_FAILURE(SelectListedSample());
    Command(kHookUnhook);
    ASSERT_TRUE(WaitFor([&] { return HookLine() == "//" + sample; }, 10000)) << Settings();
    EXPECT_TRUE(ServedBy(sample));
    ASSERT_TRUE(WaitFor([&] { return !ui.ButtonEnabled(kButtonRun); }, 5000));
    EXPECT_TRUE(ui.MenuState(kStart) & MF_GRAYED);

    // The freed number is used again.
    ASSERT_TRUE(WaitFor(NoRegistrationRunning, 30000));
    Command(kHookUnhook);
    ASSERT_TRUE(WaitFor([&] { return HookLine() == sample; }, 10000)) << Settings();
    EXPECT_TRUE(ServedBy(Stub()));

    // Unhook with List DLLs and a close behind it: the unhook completes, the
    // listing runs, the window closes.
    ASSERT_TRUE(WaitFor(NoRegistrationRunning, 30000));
    // The command acts on the DLL the details name: a hook may be refreshing them.
    ASSERT_NO_FATAL_FAILURE(SelectListedSample());
    ASSERT_TRUE(WaitFor([&] { auto d = ui.Tree(kTree2); return !d.empty() && d[0].text == sample; }, 10000));
    Command(kHookUnhook);
    Command(kList);
    EXPECT_EQ(0u, Close(120000).exitCode) << "closed without a fault";
    EXPECT_EQ("//" + sample, HookLine());
    EXPECT_TRUE(ServedBy(sample));
}

TEST_F(ShellTest, StartWithTheSampleInUseNamesItAndTracesItAtOnce) {
    ASSERT_NO_FATAL_FAILURE(HookSample({sample}));
    ChildProcess client;
    ASSERT_TRUE(client.Start(Quoted(ClientPath()) + " wait"));
    ASSERT_TRUE(client.WaitForOutput("waiting", 60000));

    std::string message;
    ASSERT_NO_FATAL_FAILURE(Start(&message));
    EXPECT_EQ("Following hooked component DLLs are now in use by some processes:\r\n" + ListedName(sample) +
                  " (by ProcID=" + std::to_string(client.processId()) + ")\r\nAccumulated trace info will be shown now.",
              message);
    // Tracing started by itself and shows what the client did so far.
    ASSERT_TRUE(WaitFor([&] { return NodeWithText(kTree1, "Add <VxSample Calc Class(1)>").item; }, 20000));
    EXPECT_EQ("Events (Tracing in Progress)", ui.Text(kTreeTitle));
    EXPECT_TRUE(ui.ButtonChecked(kButtonRun));
    EXPECT_EQ("LOAD DLL: " + FileName(sample), ui.Tree(kTree1)[0].text);
    EXPECT_TRUE(NodeWithText(kTree1, "CREATING <VxSample Calc Class(1)>").item);
    Shot("shell-hooked-list.png");
    client.Write("\n");
    EXPECT_EQ(0u, client.Finish(60000).exitCode);
    EXPECT_TRUE(WaitFor([&] { return NodeWithText(kTree1, "FINAL REPORT").item; }, 20000));
    EXPECT_TRUE(NodeWithText(kTree1, "UNLOAD DLL: " + FileName(sample)).item);
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
    std::string text = MessageAndClose();
    DWORD waited = ::GetTickCount() - start;
    EXPECT_GE(waited, 3900u);
    EXPECT_LT(waited, 15000u);
    EXPECT_NE(std::string::npos, text.find("did not report within 4 seconds")) << text;
    EXPECT_NE(std::string::npos, text.find(sample)) << "the message names the hook:\n" << text;
    EXPECT_EQ(0u, Ended(20000).exitCode) << "the program closes anyway";
    // The hook itself was removed before the wait.
    EXPECT_TRUE(ServedBy(sample));
}

// A client calling at full speed, with the view's record bound set low: the
// view stops growing and says so while the window keeps answering, the
// trace file keeps every record, and a close ends within the exit's bound
// with the hooks removed.
TEST_F(ShellTest, AFastClientFillsTheViewToItsBoundAndTheCloseStillEndsInTime) {
    ASSERT_NO_FATAL_FAILURE(HookSample({sample}));
    SetSettingValue("MaxViewRecords", "3000");
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_NO_FATAL_FAILURE(Trace(kStart));
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
    EXPECT_EQ(0u, Close().exitCode);
    EXPECT_LT(::GetTickCount() - start, 30000u) << "the close waited past its bound";
    EXPECT_TRUE(ServedBy(sample));
    EXPECT_EQ("3000", SettingValues()["MaxViewRecords"]) << "the bound is the user's, kept as it was";
    client.Kill();
    // A client killed in the middle of a call may leave its last record cut: the whole ones count.
    // Read a chunk at a time: a 32-bit test holds no million parsed records.
    long count = 0, last = 0;
    bool inOrder = true;
    vx::ReadTraceFile(inst.folder + "TraceDistilled.txt", [&](vx::TraceRecord&& r) {
        last = r.number;
        inOrder = inOrder && r.number == ++count;
    });
    EXPECT_GT(last, 3000) << "the trace file holds what the view left out";
    EXPECT_TRUE(inOrder) << "every record numbered one by one";
}

// Start-up re-hooks the module list: a line whose DLL cannot be loaded is
// switched off, a loadable DLL that cannot be hooked now (its classes are
// registered for another path) stays listed and is named to the user. Then
// the session ends: the settings are saved and the hooks removed, without a
// close.
TEST_F(ShellTest, StartKeepsHooksRefusedForNowAndTheSessionEndRemovesTheOthers) {
    const std::string copy = inst.folder + "VxSampleCopy.dll", gone = "C:\\vx-nowhere\\Gone.dll";
    ASSERT_TRUE(::CopyFileA(sample.c_str(), copy.c_str(), FALSE));
    ASSERT_NO_FATAL_FAILURE(HookSample({sample, copy, gone}));
    ASSERT_NO_FATAL_FAILURE(Start());
    std::string text = MessageAndClose();
    EXPECT_NE(std::string::npos, text.find("could not be hooked again now")) << text;
    EXPECT_NE(std::string::npos, text.find("\r\n" + copy)) << text;
    EXPECT_EQ(std::string::npos, text.find(gone)) << text;
    EXPECT_EQ(sample, HookLine());
    EXPECT_EQ(copy, HookLine(2)) << "kept for the next start";
    EXPECT_EQ("//" + gone, HookLine(3)) << "a DLL that is gone is switched off";
    EXPECT_EQ(Stub(), ServerOf(classes[0]));

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
