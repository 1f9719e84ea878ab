// Component-list mode: every registered in-process component DLL, grouped
// from the scan engine's class events, with its classes on the right.
#include "commands.h"
#include "mainwindow.h"
#include "modulelist.h"

namespace shell {

constexpr char kListedStatus[] =
    "Select component DLL/OCX to view its coclasses. You can Hook/Unhook it or run ITypeLib Viewer.";

void MainWindow::mnuComponentList_Click() {
    std::string text = ModuleText();
    std::vector<std::string> modules = vx::ReadModuleList(text);
    SetTimer1(false);
    tracePane_.Tree().Clear();
    details_.Tree().Clear();
    settings_.Tree1Mode = kComponentListMode;
    ApplyTree1Mode();
    bar_.Enable(mnuTracingStart, !modules.empty());

    HCURSOR saved = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    ComponentDlls_.clear();
    long amount = 0;
    if (Scann) Scann->GetCompAmountInList(&amount);
    status_.BeginProgress(amount > 0 ? amount + 50 : 500);
    listingModuleText_ = text;
    tracePane_.Tree().SetRedraw(false);
    // VARIANT_TRUE: the engine reports every class through OneMoreClass.
    if (Scann) Scann->ScanCompList(VARIANT_TRUE);
    for (const std::string& module : modules) {
        std::string key = UpperCase(module);
        if (tracePane_.Tree().Exists(key)) tracePane_.Tree().SetText(key, UpperCase(ShortNameOfPath(module)));
    }
    tracePane_.Tree().SetRedraw(true);
    ::SetCursor(saved);
    status_.EndProgress();
    status_.SetText("Status", kListedStatus);
}

void MainWindow::Scann_OneMoreClass(const std::vector<std::string>& info, bool isLoadable) {
    size_t before = tracePane_.Tree().Count();
    ClassEventView view = OnClassEvent(ComponentDlls_, info, isLoadable, listingModuleText_);
    if (view.ignored || !view.newDll) return;
    status_.SetText("Processed", "Found Component DLLs: " + std::to_string(before + 1) + " ");
    status_.Progress(static_cast<long>(before + 1));
    tracePane_.Tree().Add("", view.key, view.text, view.hooked ? kHookImage : KeyedTree::kNoImage);
    if (view.grey) tracePane_.Tree().SetColour(view.key, ::GetSysColor(COLOR_GRAYTEXT));
    // Keep the window answering while a long listing runs.
    if ((before & 31) == 0) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) ::DispatchMessageA(&msg);
    }
}

void MainWindow::ShowCoClasses(const std::string& key) {
    auto found = ComponentDlls_.find(key);
    details_.Tree().SetRedraw(false);
    details_.Tree().Clear();
    if (found != ComponentDlls_.end()) {
        details_.Tree().Add("", "FullName", found->second.LongDllName);
        details_.Tree().Expand("FullName");
        int n = 0;
        for (const auto& [classKey, cls] : found->second.Classes) {
            // Class ids can repeat across DLLs and pictures; the running number keeps keys unique.
            std::string prefix = std::to_string(++n) + "_";
            details_.Tree().Add("FullName", prefix + cls.GUIDstr, cls.ClassName);
            details_.Tree().Add(prefix + cls.GUIDstr, prefix + "id" + cls.GUIDstr, cls.GUIDstr);
            details_.Tree().Expand(prefix + cls.GUIDstr);
        }
        details_.Tree().Expand("FullName");
        details_.Tree().EnsureVisible("FullName");
    }
    details_.Tree().SetRedraw(true);
}

void MainWindow::TreeView1_NodeClick(const std::string& key, bool rightButton) {
    if (key.empty()) return;
    if (settings_.Tree1Mode == kComponentListMode) {
        bool grey = tracePane_.Tree().Colour(key) != KeyedTree::kDefaultColour;
        bar_.EnableComponentCommands(!grey);
        ShowCoClasses(key);
    } else if (settings_.Tree1Mode == kHookedListMode) {
        if (HookedCount == 0) return;
        details_.Tree().Clear();
        details_.Tree().Add("", "FullName", key);
        bar_.EnableMenu(mnuComponentHookUnhook, true);
        bar_.EnableMenu(mnuComponentViewTypeLib, true);
    } else {
        ShowEventDetails(key);
        if (rightButton) {
            contextNum_ = NumFromKey(key);
            const RecInfo* r = traceView_.Records().Record(contextNum_);
            bar_.ShowTracePopup(hwnd_, r && r->RecType == kRecordEnter);
        }
        return;
    }
    if (rightButton) bar_.ShowPopup(hwnd_);
    ShowQuickHelp(false);
}

}  // namespace shell
