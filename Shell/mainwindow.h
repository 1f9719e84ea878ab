// The main window Form1: its controls, modes, component list, hooking and
// options. The window-free parts live in shell_core; this class wires them
// to the controls and the two COM servers.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Ledra.h"
#include "Pollux.h"
#include "commandgate.h"
#include "complist.h"
#include "findcopy.h"
#include "images.h"
#include "keyedtree.h"
#include "layout.h"
#include "raii.h"
#include "settings.h"
#include "sinks.h"
#include "termination.h"
#include "tracelogic.h"

namespace shell {

constexpr char kAppTitle[] = "Vexilo";
constexpr char kMainWindowClass[] = "VexiloMainWindow";
// The time a session's end leaves the exit (the system ends a program that
// takes much longer).
constexpr unsigned long kSessionEndWaitMs = 4000;
constexpr char kNotLoadableMessage[] = "The component DLL or its type library could not be loaded";

class MainWindow {
public:
    // Creates the window (hidden) and its controls; false when that fails.
    bool Create(HINSTANCE instance, const std::string& commandLine);
    // Form_Load: the start-up sequence after the single-instance test.
    void Form_Load();
    HWND hwnd() const { return hwnd_; }

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // The Find dialog's keys (Tab, Enter, Escape) while it is open.
    bool IsFindDialogMessage(MSG* msg);

    // The scan engine's class event (from the sink).
    void Scann_OneMoreClass(const std::vector<std::string>& info, bool isLoadable);

    // The trace reader's events (from the sink), inside GetNewRecords.
    void Tracer_StartOfProcess();
    void Tracer_NoActiveProcess();
    void Tracer_EndOfProcess();
    void Tracer_TraceError(const std::string& message);

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // Every command comes through here: it runs, or waits for the running one (CommandGate).
    void RunCommand(int id, bool fromToolbar, const WaitingCommand& message);
    // After a command (or the start-up) ends: the commands that waited for it are sent again.
    void EndCommand();
    void OnCommand(int id, bool fromToolbar);
    // A close that waited for a command, the poll or a reading, once all of them are over.
    void CloseIfRequested();
    void ReportFailure(const std::string& text);
    LRESULT OnNotify(NMHDR* header);

    // controls.cpp
    void CreateControls();
    void CreateMenus();
    void CreateToolbar();
    void SetPanels(const std::vector<std::pair<const char*, std::string>>& panels);
    void SetPanelText(const char* key, const std::string& text);
    void SizePanels();
    int PanelIndex(const char* key) const;
    void SetButtonEnabled(const char* key, bool on);
    void SetButtonPressed(const char* key, bool pressed);
    bool ButtonPressed(const char* key) const;
    void SetMenuEnabled(int id, bool on);
    void SetMenuChecked(int id, bool on);
    bool MenuChecked(int id) const;
    void Form_Resize();
    void ApplyLayout(const PaneLayout& layout);
    void PlaceProgressBar();
    int Px(double twips) const;
    double Tw(int pixels) const;
    void SetTitle(HWND edit, const std::string& text);
    std::string TitleOf(HWND edit) const;
    void PumpMessages();

    // modes.cpp
    void ApplyTree1Mode();
    void ApplyInterfaceViewButtons();
    void SetDetailsTitle(const std::string& title);
    void mnuHelpHelp_Click();
    void ShowQuickHelp(bool show);

    // components.cpp
    void mnuComponentList_Click();
    void ShowCoClasses(const std::string& key);
    void TreeView1_NodeClick(const std::string& key, bool rightButton);

    // hooking.cpp
    void FillHookedList();
    void HookUnhook();
    void ViewTypeLib();
    long ReapplyHooks();
    void TellHooksNotApplied();
    bool RemoveAllHooks(unsigned long boundMs, bool tellUser);
    std::vector<long> LiveHookNumbers();
    std::string ModuleText() const;

    // options.cpp
    void mnuOptionsAlwaysOnTop_Click();
    void mnuOptionsAutoscroll_Click();
    void mnuOptionsShowIUnknown_Click();
    void mnuOptionsShowIDispatch_Click();
    void mnuOptionsSettings_Click();
    void ToggleOption(OptionCommand command, const char* key, int menu, bool* setting, bool rebuildsTree);

    // lifecycle.cpp
    void ReadWindowSettings();
    void Form_Unload();
    // The exit's duties that outlast the process: the hooks removed (unless
    // the settings keep them, waiting at most `boundMs` for the reader) and
    // the window settings written; `tellUser` shows hooks that may stay.
    void SaveAndUnhook(unsigned long boundMs, bool tellUser);

    // dialogs.cpp
    void mnuHelpAbout_Click();

    // find.cpp
    static INT_PTR CALLBACK FindProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    bool LoadFindDialog();
    void CloseFindDialog();
    std::string FindDialogText() const;
    void mnuEditFind_Click();
    void mnuEditFindNext_Click();
    void btnNext_Click();
    void mnuEditCopy_Click();
    void mnuEditFont_Click();

    HINSTANCE instance_ = nullptr;
    std::string commandLine_;
    HWND hwnd_ = nullptr;
    HWND Toolbar1 = nullptr, txtTreeViewTitle = nullptr, picSplitter = nullptr, txtDetails = nullptr;
    HWND rtfHelp = nullptr, StatusBar1 = nullptr, prbarAmount = nullptr, hwndTree1 = nullptr, hwndTree2 = nullptr;
    HMENU menu_ = nullptr;  // the window's bar: destroyed with the window
    vx::unique_menu popup_;
    // Pictures and fonts the controls use but do not own: they outlive the
    // window, which this object does.
    vx::unique_image_list toolbarImages_;
    vx::unique_image_list treeImages_;
    vx::unique_font font_;
    KeyedTree TreeView1, TreeView2;
    int dpi_ = 96;
    PaneLayout layout_;
    double splitterLeft_ = 5330;  // twips
    std::vector<std::string> panelKeys_;

    Settings settings_;
    vx::com_ptr<ITraceReader> reader_;
    vx::com_ptr<IScanner> Scann;
    ScannerSink scanSink_{this};
    vx::advise_cookie scanEvents_;
    ComponentDlls ComponentDlls_;
    std::string DistilledTracePath, TraceStoragePath;

    long HookedCount = 0;
    std::vector<std::string> hooksNotApplied_;  // by the last ReapplyHooks
    unsigned long exitWaitMs_ = kTerminationWaitMs;
    std::string SavedDetailsTitle;
    bool SplitterMoving = false;
    bool ToolbarDispatch = false;
    bool HookingInProgress = false;
    bool quickHelpShown_ = false;
    bool closing_ = false;
    int windowState_ = 0;
    // What the class events need while a listing runs.
    std::string listingModuleText_;
    long listingMaximum_ = 0;
    // Find in Trace: the last search kept for the whole run, the dialog while loaded.
    std::string FindWhat;
    bool MatchCase = false;
    HWND frmFind = nullptr;
    TraceSearch search_;
    vx::unique_font paneFont_;  // from Edit > Font

    // ---- The trace side: tracing run, trace tree, event details, trace files, final report.
    // tracing.cpp
    void InitTraceSide();
    void CloseTraceSide();
    bool TraceCommandAllowed(int id) const;
    void mnuTracingStart_Click();
    void StartTracing();
    void Timer1_Timer();
    void SetTimer1(bool on);
    void ApplyRunStep(const RunStep& step);
    void ApplyCommandChanges(const CommandChanges& changes);
    void ResetTraceView();
    void TakeBatch();
    void InsertTraceNodes(const std::vector<TreeNode>& nodes);
    // Each node under its parent, expanded as it says; painting is the caller's.
    void AddTraceNodes(const std::vector<TreeNode>& nodes);
    void ShowTraceProgress(bool now);
    void AddFinalReportNode();
    void RunDeferredOption();
    void RebuildTraceTree();
    void SetTreeExpansion(bool expanded);
    void mnuOptionsExpandAll_Click();
    void mnuOptionsCollapseAll_Click();
    TreeViewOptions ViewOptions() const;
    // tracedetails.cpp
    void ShowEventDetails(const std::string& key);
    void BuildFinalReportView();
    void mnuEditFinal_Click();
    // tracefiles.cpp
    std::string AskTraceFilePath(bool save);
    void mnuTraceFileOpen_Click();
    void mnuTraceFileSave_Click();
    void ShowTraceFile();

    TraceView traceView_;
    TracingRun tracingRun_;
    std::unique_ptr<ReaderTexts> readerTexts_;
    NewRecordsBatch batch_;  // cleared by each poll before the reader refills it
    TraceReaderSink traceSink_{this};
    vx::advise_cookie traceEvents_;
    HWND txtHappened = nullptr;  // the kernel's notification target; nothing reads it
    vx::unique_handle traceMap_;  // keeps the trace map of a client that ends between two polls
    std::string runTooltip_ = "Start Tracing";
    std::string nextTraceFilePath_;  // kNextTraceFilePath
    bool timer1On_ = false;
    bool treeRedrawOff_ = false, treeChanged_ = false;
    DWORD lastShown_ = 0;
    long progressMaximum_ = 0;
    bool readingTraceFile_ = false;
    CommandGate gate_;
    HTREEITEM clickSelected_ = nullptr;  // selected by the mouse click in progress
    WPARAM selectionChanges_ = 0;        // selection changes of the left pane so far
    static constexpr UINT kClickedTree = WM_APP + 0x110;  // a click's second look, after the click
    bool NodeClickBusy = false;
};

}  // namespace shell
