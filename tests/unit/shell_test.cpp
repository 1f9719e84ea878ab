// The main window's logic without the window: settings answers, the per-user
// values, the layout, the component list, the settings
// dialog's rewrite, the bounded wait at exit and the keyed tree.
#include <gtest/gtest.h>
#include <windows.h>

#include "collectlines.h"
#include "commandgate.h"
#include "commands.h"
#include "complist.h"
#include "keyedtree.h"
#include "layout.h"
#include "settings.h"
#include "settings_template.h"
#include "termination.h"
#include "windowsettings.h"

namespace {

using namespace shell;

TEST(ShellSettings, ReadsTheAnswersAsTheKernelDoes) {
    vx::MainSettingsContent written;
    written.collectIDispatch = false;
    written.exitWithRemainingHooks = true;
    // The kernel leaves the calls out only on an N in either of the two
    // places after the colon (the letters' case and the question's place are
    // the shared answer reader's, which the kernel's settings tests read).
    struct Case {
        std::string text;
        bool iu, id, exit;
    } cases[] = {
        {vx::MainSettingsText(written), true, false, true},
        // A letter in the third place is no answer: IDispatch and the exit read as unanswered.
        {"Print IUnknown methods ? [Y/N]:N\r\nPrint IDispatch methods ? [Y/N]:  N\r\n"
         "Exit with remaining hooks ? [Y/N]:  Y\r\n", false, true, false},
        {"Print IUnknown methods ? [Y/N]: ?\r\nExit with remaining hooks ? [Y/N]: N", true, true, false},
        // No questions at all: everything collected, hooks removed at exit.
        {"[List of modules with components to investigate]\r\n", true, true, false},
    };
    for (const Case& c : cases) {
        Settings s;
        s.InitFromText(c.text);
        EXPECT_EQ(c.iu, s.CollectIUnknown) << c.text;
        EXPECT_EQ(c.id, s.CollectIDispatch) << c.text;
        EXPECT_EQ(c.exit, s.ExitWithLeftHooks) << c.text;
    }
}

TEST(ShellWindowSettings, TextFormsAndFallbacks) {
    // What the exit writes reads back the same.
    WindowSettings d = WindowSettings::FromTexts({}), changed = d;
    changed.AlwaysOnTop = true;
    changed.ShowIUnknown = false;
    changed.Splitter = 1234.5f;
    changed.WindowState = 2;
    EXPECT_EQ(changed.ToTexts(true), WindowSettings::FromTexts(changed.ToTexts(true)).ToTexts(true));
    EXPECT_NE(changed.ToTexts(true), d.ToTexts(true));

    // Words where numbers belong, numbers where words belong, junk after a number.
    WindowSettings bad = WindowSettings::FromTexts({{"MainLeft", "left"}, {"MainTop", "12x"}, {"AlwaysOnTop", "1"},
                                                    {"ShowIUnknown", "false"}, {"WindowState", "7"},
                                                    {"MainWidth", "1e30"}, {"Splitter", "1234.5"}});
    EXPECT_EQ(d.MainLeft, bad.MainLeft);
    EXPECT_EQ(d.MainTop, bad.MainTop);
    EXPECT_FALSE(bad.AlwaysOnTop);
    EXPECT_FALSE(bad.ShowIUnknown);
    EXPECT_EQ(d.WindowState, bad.WindowState);
    EXPECT_EQ(d.MainWidth, bad.MainWidth);
    EXPECT_FLOAT_EQ(1234.5f, bad.Splitter);

    // Minimized writes "0" (a maximized exit, "2" and the measures kept, is the window test's).
    WindowSettings minimized = d;
    minimized.WindowState = 1;
    EXPECT_EQ("0", minimized.ToTexts(false)["WindowState"]);
}

TEST(ShellLayout, SplitterAndNarrowWindow) {
    LayoutInput in;
    in.windowWidth = 12000;
    in.innerWidth = 11880;
    in.innerHeight = 7000;
    in.toolbarHeight = 450;
    in.statusHeight = 300;
    in.statusTop = 6700;
    in.firstPanelWidth = 9000;
    in.titleHeight = 300;
    in.splitterLeft = 5330;
    PaneLayout l = ResizeLayout(in, {});
    // Below the toolbar and the titles, above the status bar, side by side
    // within the window; the splitter and the details go with the panes.
    EXPECT_GE(l.treeTitle.top, in.toolbarHeight);
    EXPECT_GE(l.tree1.top, l.treeTitle.top + in.titleHeight);
    EXPECT_LE(l.tree1.top + l.tree1.height, in.statusTop);
    EXPECT_EQ(l.tree2.top, l.tree1.top);
    EXPECT_LT(l.tree1.left + l.tree1.width, in.splitterLeft);
    EXPECT_GE(l.tree2.left, in.splitterLeft);
    EXPECT_LE(l.tree2.left + l.tree2.width, in.innerWidth);
    EXPECT_EQ(l.details.left, l.tree2.left);
    EXPECT_EQ(l.splitter.top, l.tree1.top);
    EXPECT_GT(l.progress.top, in.statusTop);
    EXPECT_LT(l.progress.width, in.firstPanelWidth);

    // Splitter within 105 twips of the right edge: the left pane takes the width, the right stays.
    in.windowWidth = 5400;
    PaneLayout narrow = ResizeLayout(in, l);
    EXPECT_EQ(5400 - 105, narrow.tree1.width);
    EXPECT_EQ(l.tree2.left, narrow.tree2.left);
    EXPECT_EQ(l.tree2.width, narrow.tree2.width);

    EXPECT_EQ(1000, ClampSplitter(-50, 12000));
    EXPECT_EQ(11000, ClampSplitter(11500, 12000));
    EXPECT_EQ(4000, ClampSplitter(4000, 12000));
    EXPECT_EQ(1000, TwipsToPixels(12000, 120)) << "at the screen's own resolution";
}

std::string ModuleFile(const std::vector<std::string>& modules) {
    vx::MainSettingsContent c;
    c.modules = modules;
    return vx::MainSettingsText(c);
}

TEST(ShellComponentList, GroupsClassesAndShowsHookedDllsUnderTheirRealName) {
    ComponentDlls dlls;
    std::string modules = ModuleFile({"C:\\a\\one.dll", "//C:\\old.dll", "C:\\b\\Seven.dll", "C:\\c\\x.dll", "C:\\d\\y.dll",
                                      "C:\\e\\z.dll", "C:\\f\\Real.dll"});
    auto first = OnClassEvent(dlls, {"{1}", "First", "C:\\p\\Comp.dll", "Comp.dll"}, true, modules);
    EXPECT_TRUE(first.newDll);
    EXPECT_EQ("C:\\P\\COMP.DLL", first.key);
    EXPECT_EQ("COMP.DLL", first.text);
    EXPECT_FALSE(first.hooked || first.grey);
    auto second = OnClassEvent(dlls, {"{2}", "", "c:\\P\\comp.dll", "comp.dll"}, true, modules);
    EXPECT_FALSE(second.newDll);
    OnClassEvent(dlls, {"{3}", "Third", "C:\\p\\Comp.dll", "Comp.dll"}, true, modules);
    ASSERT_EQ(1u, dlls.size());
    const ClassCollect& classes = dlls.begin()->second.Classes;
    ASSERT_EQ(3u, classes.Count());
    EXPECT_EQ(kNoClassName, classes.Item(1).ClassName);
    EXPECT_EQ("{3}", classes.Item(2).GUIDstr);

    auto hooked = OnClassEvent(dlls, {"{4}", "H", "C:\\inst\\Zor#_07.dll", "Zor#_07.dll"}, false, modules);
    EXPECT_TRUE(hooked.hooked);
    EXPECT_EQ(" REAL.DLL", hooked.text);
    EXPECT_EQ("C:\\F\\REAL.DLL", hooked.key);
    EXPECT_EQ(7, dlls["C:\\f\\Real.dll"].HookNumber);

    auto grey = OnClassEvent(dlls, {"{5}", "G", "C:\\q\\Broken.DLL", "Broken.DLL"}, false, modules);
    EXPECT_TRUE(grey.grey);
    EXPECT_EQ("broken.dll", grey.text);
    EXPECT_TRUE(OnClassEvent(dlls, {"{6}", "N", "", ""}, true, modules).ignored);

    // Every digit of the stub's number counts, as the stub reads it.
    EXPECT_EQ(123, HookNumberOfStubName("Zor#_123.dll"));
    EXPECT_EQ(0, HookNumberOfStubName("zor#_07.dll"));
    EXPECT_EQ(0, HookNumberOfStubName("Zor#_.dll"));
}

// A whole settings file with both answers rewritten is the window test's
// (the Settings dialog); here the answers that stand elsewhere or are missing.
TEST(ShellSettingsDialog, RewritesExactlyTheTwoAnswers) {
    std::string after;
    // Each answer goes on its own question's line, wherever it stands.
    ASSERT_TRUE(RewriteCollectLines("a\r\nPrint IDispatch methods ? [Y/N]: Y\r\nb\r\nPrint IUnknown methods ? [Y/N]: n\r\nc\r\n",
                                    true, false, &after));
    EXPECT_EQ("a\r\nPrint IDispatch methods ? [Y/N]: N\r\nb\r\nPrint IUnknown methods ? [Y/N]: Y\r\nc\r\n", after);
    ASSERT_TRUE(RewriteCollectLines("Print IUnknown methods ? [Y/N]: Y\r\nkept\r\n", true, false, &after));
    EXPECT_EQ("Print IUnknown methods ? [Y/N]: Y\r\nPrint IDispatch methods ? [Y/N]: N\r\nkept\r\n", after);
    std::string untouched = "x";
    EXPECT_FALSE(RewriteCollectLines("no questions\r\n", true, true, &untouched));
    EXPECT_EQ("x", untouched);
}

TEST(ShellExit, TheWaitForTheReaderIsBounded) {
    unsigned long clock = 0;
    int pumps = 0, asks = 0;
    bool done = WaitForTermination([&] { ++asks; return false; }, [&] { ++pumps; clock += 100; }, [&] { return clock; },
                                   30000);
    EXPECT_FALSE(done);
    EXPECT_GE(clock, 30000u);
    EXPECT_LE(clock, 30100u);
    // Completion: one more pump so the watcher's posted release runs.
    pumps = 0;
    asks = 0;
    done = WaitForTermination([&] { return ++asks == 3; }, [&] { ++pumps; }, [] { return 0ul; }, 30000);
    EXPECT_TRUE(done);
    EXPECT_EQ(3, pumps);
}

// What the window asks of a tree it fills whole: keys (a taken key or a
// missing parent adds nothing) and an expansion set at the insert (painting
// off) that holds for children added later. Texts and the selection are the
// lazy tree's case; pictures and emptying the window tests' (the failed
// call's picture, the hooked DLL's, a new trace replacing the shown one).
TEST(ShellKeyedTree, KeysAndExpansion) {
    ::InitCommonControls();
    HWND tree = ::CreateWindowExA(0, WC_TREEVIEWA, "", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(tree);
    KeyedTree t;
    t.Attach(tree);
    EXPECT_TRUE(t.Add("", "A", "alpha"));
    EXPECT_FALSE(t.Add("", "A", "again"));
    EXPECT_FALSE(t.Add("missing", "B", "beta"));
    EXPECT_TRUE(t.Add("A", "A1", "child", 1));

    t.SetRedraw(false);
    EXPECT_TRUE(t.Add("", "E", "expanded", KeyedTree::kNoImage, true));
    EXPECT_TRUE(t.Add("E", "E1", "child", KeyedTree::kNoImage, true));
    EXPECT_TRUE(t.Add("", "F", "collapsed", KeyedTree::kNoImage, false));
    EXPECT_TRUE(t.Add("F", "F1", "child", KeyedTree::kNoImage, false));
    t.SetRedraw(true);
    EXPECT_TRUE(t.IsExpanded("E"));
    EXPECT_FALSE(t.IsExpanded("F"));
    EXPECT_TRUE(TreeView_GetNextVisible(tree, t.ItemOf("E")) == t.ItemOf("E1")) << "E's child shows";
    EXPECT_TRUE(TreeView_GetNextVisible(tree, t.ItemOf("F")) == nullptr) << "F's child is folded away";
    ::DestroyWindow(tree);
}

// A lazy tree's owner hands it the tree's notices, as the trace pane does.
LRESULT CALLBACK LazyOwner(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* tree = reinterpret_cast<KeyedTree*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    LRESULT result = 0;
    if (message == WM_NOTIFY && tree && tree->OnNotify(reinterpret_cast<NMHDR*>(lParam), &result)) return result;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

// A lazy tree: the top level alone in the control, children inserted on
// expansion, a node selected from deep inside collapsed branches; Find's
// order holds the nodes not in the control. (Buttons where the model has
// children and the children's order are the window tests', which expand
// nodes to read them as a user would.)
TEST(ShellKeyedTree, LazyTreeShowsChildrenWhenExpanded) {
    ::InitCommonControls();
    WNDCLASSA cls = {};
    cls.lpfnWndProc = LazyOwner;
    cls.lpszClassName = "VxLazyOwner";
    ::RegisterClassA(&cls);
    HWND owner = ::CreateWindowExA(0, cls.lpszClassName, "", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr, nullptr, nullptr);
    HWND tree = ::CreateWindowExA(0, WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS, 0, 0, 300, 300, owner,
                                  nullptr, nullptr, nullptr);
    ASSERT_TRUE(owner && tree);
    KeyedTree t;
    ::SetWindowLongPtrA(owner, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&t));
    t.Attach(tree, true);
    const char* adds[][3] = {{"", "A", "alpha"}, {"A", "A1", "one"},  {"A1", "A11", "deep"},
                             {"A", "A2", "two"}, {"", "B", "beta"},   {"A2", "A21", "deeper"}};
    for (const auto& add : adds) EXPECT_TRUE(t.Add(add[0], add[1], add[2])) << add[1];
    EXPECT_EQ(2, TreeView_GetCount(tree)) << "the top level alone is in the control";
    EXPECT_EQ((std::vector<std::string>{"A", "A1", "A11", "A2", "A21", "B"}), t.KeysInTreeOrder());
    EXPECT_EQ("deeper", t.Text("A21"));
    TreeView_Expand(tree, t.ItemOf("A"), TVE_EXPAND);
    EXPECT_NE(nullptr, t.ItemOf("A2"));
    EXPECT_TRUE(t.IsExpanded("A"));
    EXPECT_EQ(nullptr, t.ItemOf("A11")) << "A1 is still collapsed";
    EXPECT_TRUE(t.Add("A", "A3", "three")) << "below an expanded node";
    EXPECT_NE(nullptr, t.ItemOf("A3"));

    t.Select("A21");
    EXPECT_EQ("A21", t.SelectedKey());
    EXPECT_TRUE(t.IsExpanded("A2"));
    ::DestroyWindow(owner);
}

// A hook in progress (it pumps messages): List DLLs and a second hook wait
// and come back in their order when it ends, commands that need not wait run
// at once, a close waits for every running command to end.
TEST(ShellCommandGate, CommandsWaitForTheRunningOneAndACloseForAllOfThem) {
    CommandGate gate;
    EXPECT_TRUE(gate.Arrive(true, {mnuComponentHookUnhook, 0}));
    gate.Enter();
    EXPECT_FALSE(gate.Arrive(true, {mnuComponentList, 0}));
    EXPECT_FALSE(gate.Arrive(true, {mnuHookUnhook, 0}));
    EXPECT_TRUE(gate.Arrive(false, {mnuTracingStop, 0}));
    gate.Enter();
    EXPECT_TRUE(gate.Leave().empty()) << "the hook still runs";
    gate.RequestClose();
    EXPECT_FALSE(gate.TakeDueClose(true)) << "the hook still runs";
    std::vector<WaitingCommand> due = gate.Leave();
    ASSERT_EQ(due.size(), 2u);
    EXPECT_EQ(due[0].wParam, static_cast<uintptr_t>(mnuComponentList));
    EXPECT_EQ(due[1].wParam, static_cast<uintptr_t>(mnuHookUnhook));
    EXPECT_FALSE(gate.TakeDueClose(false)) << "a poll still runs";
    EXPECT_TRUE(gate.TakeDueClose(true));
    EXPECT_FALSE(gate.TakeDueClose(true)) << "once";

    // A flood of clicks is bounded, as clicks on a disabled button are.
    gate.Enter();
    for (size_t i = 0; i < CommandGate::kMostWaiting + 5; ++i) gate.Arrive(true, {mnuComponentList, 0});
    EXPECT_EQ(gate.Leave().size(), CommandGate::kMostWaiting);
}

TEST(ShellWindowSettings, TheViewBoundAndTheExitWaitAreWholeNumbersInTheirRanges) {
    struct Case {
        const char* name;
        const char* text;
        long value;
    } cases[] = {
        {"MaxViewRecords", "250000", 250000}, {"MaxViewRecords", "1000", 1000},
        {"MaxViewRecords", "999", WindowSettings::kDefaultMaxViewRecords}, {"MaxViewRecords", "20000000", 20000000},
        {"MaxViewRecords", "20000001", WindowSettings::kDefaultMaxViewRecords},
        {"MaxViewRecords", "many", WindowSettings::kDefaultMaxViewRecords},
        {"MaxViewRecords", "-5", WindowSettings::kDefaultMaxViewRecords},
        {"ExitWaitSeconds", "4", 4}, {"ExitWaitSeconds", " 600 ", 600}, {"ExitWaitSeconds", "0", 30},
        {"ExitWaitSeconds", "601", 30}, {"ExitWaitSeconds", "2.5", 30},
    };
    for (const Case& c : cases) {
        WindowSettings s = WindowSettings::FromTexts({{c.name, c.text}});
        EXPECT_EQ(c.value, std::string(c.name) == "MaxViewRecords" ? s.MaxViewRecords : s.ExitWaitSeconds)
            << c.name << "=" << c.text;
    }
    auto texts = WindowSettings().ToTexts(true);
    EXPECT_EQ(0u, texts.count("MaxViewRecords") + texts.count("ExitWaitSeconds")) << "the user's own values, never written";
}

}  // namespace
