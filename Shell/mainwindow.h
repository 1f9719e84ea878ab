// The main window Form1: the front door of the commands, which it routes to
// its handlers (named after the menu items), and the modes, component list,
// hooking, options and tracing run that tie its parts (command bar, status
// panels, the two panes, the Find dialog) to the two COM servers. The
// window-free parts live in shell_core and shell_tracelogic.
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
#include "commandbar.h"
#include "commandgate.h"
#include "complist.h"
#include "listwindow.h"
#include "finddialog.h"
#include "images.h"
#include "keyedtree.h"
#include "layout.h"
#include "panes.h"
#include "raii.h"
#include "settings.h"
#include "sinks.h"
#include "statuspanels.h"
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
    bool IsFindDialogMessage(MSG* msg) { return find_ && find_->IsDialogMessage(msg); }

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
    // A command's handler and how it arrives: `whileEnabled`, refused while
    // its control is disabled, whatever sent it; `waits`, held back while
    // another command runs (it pumps messages) and sent again after it.
    struct Route {
        int command;
        void (MainWindow::*handler)();
        bool whileEnabled;
        bool waits;
    };
    static const Route* RouteOf(int command);
    void OnNotice(const PaneNotice& notice);
    void mnuComponentExit_Click();
    void mnuTracingStop_Click();
    // A close that waited for a command, the poll or a reading, once all of them are over.
    void CloseIfRequested();
    void ReportFailure(const std::string& text);
    LRESULT OnNotify(NMHDR* header);

    // controls.cpp
    void CreateControls();
    void Form_Resize();
    void ApplyLayout(const PaneLayout& layout);
    void OnSplitter(UINT message, LPARAM lParam);
    RECT QuickHelpPlace() const;
    int Px(double twips) const;
    double Tw(int pixels) const;
    void PumpMessages();

    // modes.cpp
    void ApplyTree1Mode();
    void ApplyInterfaceViewButtons();
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
    void ToggleOption(OptionCommand command, Command menu, bool* setting, bool rebuildsTree);

    // lifecycle.cpp: Form_Load's steps, the exit
    void SetPaths();
    void ReadWindowSettings();
    void CreateServers();
    bool ReapplyHooksAndTellInUse(HWND splash);
    void Form_Unload();
    // The exit's duties that outlast the process: the hooks removed (unless
    // the settings keep them, waiting at most `boundMs` for the reader) and
    // the window settings written; `tellUser` shows hooks that may stay.
    void SaveAndUnhook(unsigned long boundMs, bool tellUser);

    // dialogs.cpp
    void mnuHelpAbout_Click();

    // edit.cpp
    void mnuEditFind_Click();
    void mnuEditFindNext_Click();
    void mnuEditCopy_Click();
    void mnuEditFont_Click();

    HINSTANCE instance_ = nullptr;
    std::string commandLine_;
    HWND hwnd_ = nullptr;
    HWND txtTreeViewTitle = nullptr, picSplitter = nullptr;
    // Pictures and fonts the controls use but do not own: they outlive the
    // window, which this object does.
    vx::unique_image_list treeImages_;
    vx::unique_font font_;
    CommandBar bar_;
    StatusPanels status_;
    TracePane tracePane_;
    DetailsPane details_;
    std::unique_ptr<FindDialog> find_;
    // Compare With's differences; the statistics.
    ListWindow compare_{"VexiloCompare", {{"", 300}, {"#", 700}, {"This trace", 6000}, {"#", 700}, {"", 6000}}};
    ListWindow statistics_{"VexiloStatistics", {{"Class", 3200},
                                                 {"Method", 2600},
                                                 {"Calls", 900, true},
                                                 {"Failed", 900, true},
                                                 {"Created", 900, true},
                                                 {"Left", 900, true}}};
    TraceFilter filter_, highlight_;
    int32_t contextNum_ = 0;  // the trace node right-clicked last
    bool rebuildAfterFile_ = false;
    int dpi_ = 96;
    PaneLayout layout_;
    double splitterLeft_ = 5330;  // twips

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
    bool SplitterMoving = false;
    bool ToolbarDispatch = false;
    bool HookingInProgress = false;
    bool closing_ = false;
    int windowState_ = 0;
    // What the class events need while a listing runs.
    std::string listingModuleText_;
    vx::unique_font paneFont_;  // from Edit > Font

    // ---- The trace side: tracing run, trace tree, event details, trace files, final report.
    // tracing.cpp
    void InitTraceSide();
    void CloseTraceSide();
    void mnuTracingStart_Click();
    void StartTracing();
    void Timer1_Timer();
    void SetTimer1(bool on);
    void ApplyRunStep(const RunStep& step);
    void ApplyCommandChanges(const CommandChanges& changes);
    void ResetTraceView();
    void TakeBatch();
    void ShowTraceProgress(bool now);
    void AddFinalReportNode();
    void RunDeferredOption();
    void RebuildTraceTree();
    // Filters, highlight, statistics, nesting (filtering.cpp).
    HFONT TreeFont() const;
    std::string InterfaceOf(int32_t num);
    void LoadViewRules();
    void SetRules(TraceFilter* rules, std::string* kept, TraceFilter changed);
    void Refilter();
    void ContextRule(int command);
    template <int command>
    void ContextRuleOf() { ContextRule(command); }
    void mnuEditFilter_Click();
    void mnuEditHighlight_Click();
    void mnuEditResetFilter_Click();
    void mnuEditStatistics_Click();
    void mnuOptionsNestByArrival_Click();
    void SetTreeExpansion(bool expanded);
    void mnuOptionsExpandAll_Click();
    void mnuOptionsCollapseAll_Click();
    TreeViewOptions ViewOptions();
    // tracedetails.cpp
    void ShowEventDetails(const std::string& key);
    void BuildFinalReportView();
    void mnuEditFinal_Click();
    // tracefiles.cpp
    std::string AskTraceFilePath(bool save);
    std::string AskExportPath();
    void mnuTraceFileOpen_Click();
    void mnuTraceFileSave_Click();
    void mnuTraceFileExport_Click();
    void mnuTraceFileCompare_Click();
    void ShowTraceFile();

    TraceView traceView_;
    TracingRun tracingRun_;
    std::unique_ptr<ReaderTexts> readerTexts_;
    NewRecordsBatch batch_;  // cleared by each poll before the reader refills it
    TraceReaderSink traceSink_{this};
    vx::advise_cookie traceEvents_;
    HWND txtHappened = nullptr;  // the kernel's notification target; nothing reads it
    vx::unique_handle traceMap_;  // keeps the trace map of a client that ends between two polls
    std::string nextTraceFilePath_;  // kNextTraceFilePath
    bool timer1On_ = false;
    DWORD lastShown_ = 0;
    DWORD showCost_ = 0;  // what the last ShowTraceProgress took
    bool readingTraceFile_ = false;
    CommandGate gate_;
    bool NodeClickBusy = false;
};

}  // namespace shell
