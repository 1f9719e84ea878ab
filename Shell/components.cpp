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
    TreeView1.Clear();
    TreeView2.Clear();
    settings_.Tree1Mode = kComponentListMode;
    ApplyTree1Mode();
    SetButtonEnabled("Run", !modules.empty());
    SetMenuEnabled(mnuTracingStart, !modules.empty());

    PlaceProgressBar();
    ::SendMessageA(prbarAmount, PBM_SETPOS, 0, 0);
    ::ShowWindow(prbarAmount, SW_SHOW);
    HCURSOR saved = ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
    ComponentDlls_.clear();
    long amount = 0;
    if (Scann) Scann->GetCompAmountInList(&amount);
    listingMaximum_ = amount > 0 ? amount + 50 : 500;
    ::SendMessageA(prbarAmount, PBM_SETRANGE32, 0, listingMaximum_);
    listingModuleText_ = text;
    TreeView1.SetRedraw(false);
    // VARIANT_TRUE: the engine reports every class through OneMoreClass.
    if (Scann) Scann->ScanCompList(VARIANT_TRUE);
    for (const std::string& module : modules) {
        std::string key = UpperCase(module);
        if (TreeView1.Exists(key)) TreeView1.SetText(key, UpperCase(ShortNameOfPath(module)));
    }
    TreeView1.SetRedraw(true);
    ::SetCursor(saved);
    ::ShowWindow(prbarAmount, SW_HIDE);
    SetPanelText("Status", kListedStatus);
}

void MainWindow::Scann_OneMoreClass(const std::vector<std::string>& info, bool isLoadable) {
    size_t before = TreeView1.Count();
    ClassEventView view = OnClassEvent(ComponentDlls_, info, isLoadable, listingModuleText_);
    if (view.ignored || !view.newDll) return;
    SetPanelText("Processed", "Found Component DLLs: " + std::to_string(before + 1) + " ");
    PlaceProgressBar();
    // More DLLs than announced: the bar stays full and the listing goes on.
    long position = static_cast<long>(before + 1);
    if (position <= listingMaximum_) ::SendMessageA(prbarAmount, PBM_SETPOS, position, 0);
    TreeView1.Add("", view.key, view.text, view.hooked ? kHookImage : KeyedTree::kNoImage);
    if (view.grey) TreeView1.SetColour(view.key, ::GetSysColor(COLOR_GRAYTEXT));
    // Keep the window answering while a long listing runs.
    if ((before & 31) == 0) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) ::DispatchMessageA(&msg);
    }
}

void MainWindow::ShowCoClasses(const std::string& key) {
    auto found = ComponentDlls_.find(key);
    TreeView2.SetRedraw(false);
    TreeView2.Clear();
    if (found != ComponentDlls_.end()) {
        TreeView2.Add("", "FullName", found->second.LongDllName);
        TreeView2.Expand("FullName");
        int n = 0;
        for (const auto& [classKey, cls] : found->second.Classes) {
            // Class ids can repeat across DLLs and pictures; the running number keeps keys unique.
            std::string prefix = std::to_string(++n) + "_";
            TreeView2.Add("FullName", prefix + cls.GUIDstr, cls.ClassName);
            TreeView2.Add(prefix + cls.GUIDstr, prefix + "id" + cls.GUIDstr, cls.GUIDstr);
            TreeView2.Expand(prefix + cls.GUIDstr);
        }
        TreeView2.Expand("FullName");
        TreeView2.EnsureVisible("FullName");
    }
    TreeView2.SetRedraw(true);
}

void MainWindow::TreeView1_NodeClick(const std::string& key, bool rightButton) {
    if (key.empty()) return;
    if (settings_.Tree1Mode == kComponentListMode) {
        bool grey = TreeView1.Colour(key) != KeyedTree::kDefaultColour;
        for (int id : {mnuHookUnhook, mnuComponentHookUnhook, mnuViewTypeLib, mnuComponentViewTypeLib}) {
            ::EnableMenuItem(id == mnuHookUnhook || id == mnuViewTypeLib ? popup_.get() : menu_, id,
                             MF_BYCOMMAND | (grey ? MF_GRAYED : MF_ENABLED));
        }
        SetButtonEnabled("HookUnhook", !grey);
        SetButtonEnabled("TLib", !grey);
        ShowCoClasses(key);
    } else if (settings_.Tree1Mode == kHookedListMode) {
        if (HookedCount == 0) return;
        TreeView2.Clear();
        TreeView2.Add("", "FullName", key);
        SetMenuEnabled(mnuComponentHookUnhook, true);
        SetMenuEnabled(mnuComponentViewTypeLib, true);
    } else {
        ShowEventDetails(key);
        return;
    }
    if (rightButton) {
        POINT at;
        ::GetCursorPos(&at);
        ::TrackPopupMenu(popup_.get(), TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
    }
    if (quickHelpShown_) ShowQuickHelp(false);
}

}  // namespace shell
