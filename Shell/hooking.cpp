// Hooking and unhooking from the window, the hooked list, and the hooks
// re-applied at start-up and removed at exit.
#include "commands.h"
#include "hookpairs.h"
#include "mainwindow.h"
#include "modulelist.h"
#include "termination.h"
#include "textconv.h"

namespace shell {
namespace {

// The reader's Booleans cross as VARIANT_BOOL: TRUE is -1, and any non-zero counts.
bool Yes(HRESULT hr, const VARIANT_BOOL& result) { return SUCCEEDED(hr) && result != VARIANT_FALSE; }

}  // namespace

std::string MainWindow::ModuleText() const {
    std::string text, error;
    vx::ReadTextFile(settings_.ZorTxtFile, &text, &error);
    return text;
}

std::vector<long> MainWindow::LiveHookNumbers() {
    std::vector<long> numbers;
    std::vector<vx::HookPair> pairs;
    if (vx::ReadHookPairs(reader_.get(), &pairs) == vx::HookPairsRead::kBusy) {
        // Unknown which numbers live processes hold: none is given out again.
        for (const vx::ModuleLine& line : vx::ModuleLines(ModuleText())) numbers.push_back(line.number);
        return numbers;
    }
    for (const vx::HookPair& pair : pairs) numbers.push_back(pair.hookNumber);
    return numbers;
}

void MainWindow::FillHookedList() {
    tracePane_.Tree().Clear();
    details_.Tree().Clear();
    ComponentDlls_.clear();
    HookedCount = 0;
    // The list ends at its first empty line or at the end of the file.
    for (const vx::ModuleLine& line : vx::ModuleLines(ModuleText())) {
        if (!line.active) continue;
        ++HookedCount;
        CompDLLInfo dll;
        dll.HookNumber = line.number;
        dll.LongDllName = line.path;
        dll.ShortDllName = ShortNameOfPath(line.path);
        tracePane_.Tree().Add("", line.path, UpperCase(dll.ShortDllName), kHookImage);
        ComponentDlls_.emplace(line.path, std::move(dll));
    }
    if (HookedCount == 0) {
        tracePane_.Tree().Add("", "Empty", "No hooked component DLLs.");
        details_.Tree().Add("", "Empty", "Select item in the left pane to view details in this pane.");
    }
}

void MainWindow::HookUnhook() {
    if (HookingInProgress || !reader_) return;
    HookingInProgress = true;
    vx::scope_exit clear([&] { HookingInProgress = false; });
    std::string path, key;
    if (settings_.Tree1Mode == kComponentListMode) {
        path = details_.Tree().Text("FullName");
        key = UpperCase(path);
    } else if (settings_.Tree1Mode == kHookedListMode && HookedCount > 0) {
        path = key = tracePane_.Tree().SelectedKey();
    }
    if (path.empty()) return;
    // A DLL whose classes cannot be loaded is not hooked; no message.
    if (tracePane_.Tree().Colour(key) != KeyedTree::kDefaultColour) return;
    auto found = ComponentDlls_.find(key);
    if (found == ComponentDlls_.end()) return;
    CompDLLInfo& dll = found->second;
    vx::unique_bstr bpath(vx::NewBstr(path));
    if (dll.HookNumber == 0) {
        int oldImage = tracePane_.Tree().Image(key);
        tracePane_.Tree().SetImage(key, kHookImage);
        PumpMessages();
        auto refuse = [&] {
            tracePane_.Tree().SetImage(key, oldImage == kHookImage ? KeyedTree::kNoImage : oldImage);
            ::MessageBoxA(hwnd_, kNotLoadableMessage, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        };
        VARIANT_BOOL ok = VARIANT_FALSE;
        HRESULT hr = reader_->CheckComponent(bpath.get(), &ok);
        if (!Yes(hr, ok)) return refuse();
        long n = vx::FindFreeHookNumber(ModuleText(), [&] { return LiveHookNumbers(); });
        ok = VARIANT_FALSE;
        hr = reader_->SetHook(bpath.get(), n, &ok);
        if (!Yes(hr, ok)) return refuse();
        std::string error;
        if (!vx::WriteModuleLineInFile(settings_.ZorTxtFile, path, n, &error)) {
            // Without its module line the stub could not find the DLL: undo the hook.
            VARIANT_BOOL removed = VARIANT_FALSE;
            reader_->RemoveHook(bpath.get(), &removed);
            tracePane_.Tree().SetImage(key, KeyedTree::kNoImage);
            ::MessageBoxA(hwnd_, ("The hook could not be recorded: " + error).c_str(), kAppTitle, MB_OK | MB_ICONERROR);
            return;
        }
        dll.HookNumber = n;
        tracePane_.Tree().SetText(key, UpperCase(dll.ShortDllName));
        bar_.Enable(mnuTracingStart, true);
    } else {
        VARIANT_BOOL removed = VARIANT_FALSE;
        reader_->RemoveHook(bpath.get(), &removed);
        if (removed == VARIANT_FALSE) {
            // Hooked by an earlier session or another tool: this reader has no
            // record of it, so apply it under its number and remove it again,
            // which restores the DLL's own registration.
            VARIANT_BOOL ok = VARIANT_FALSE;
            reader_->SetHook(bpath.get(), dll.HookNumber, &ok);
            if (ok != VARIANT_FALSE) reader_->RemoveHook(bpath.get(), &removed);
        }
        std::string error;
        vx::CommentOutModuleLineInFile(settings_.ZorTxtFile, dll.HookNumber, &error);
        dll.HookNumber = 0;
        tracePane_.Tree().SetText(key, UpperCase(dll.ShortDllName));
        tracePane_.Tree().SetImage(key, KeyedTree::kNoImage);
        bool any = false;
        for (const auto& [k, d] : ComponentDlls_) any |= d.HookNumber != 0;
        if (!any) bar_.Enable(mnuTracingStart, false);
    }
    // The next hook command may already be waiting: it must find this one over.
    HookingInProgress = false;
    PumpMessages();
}

void MainWindow::ViewTypeLib() {
    if (!reader_) return;
    std::string path = settings_.Tree1Mode == kHookedListMode && HookedCount > 0 ? tracePane_.Tree().SelectedKey()
                                                                                  : details_.Tree().Text("FullName");
    if (path.empty()) return;
    vx::unique_bstr bpath(vx::NewBstr(path));
    VARIANT_BOOL shown = VARIANT_FALSE;
    HRESULT hr = reader_->ViewComponent(bpath.get(), &shown);
    if (!Yes(hr, shown))
        ::MessageBoxA(hwnd_, kNotLoadableMessage, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
}

long MainWindow::ReapplyHooks() {
    long active = 0;
    hooksNotApplied_.clear();
    if (!reader_) return 0;
    for (const vx::ModuleLine& line : vx::ModuleLines(ModuleText())) {
        if (!line.active) continue;
        vx::unique_bstr path(vx::NewBstr(line.path));
        VARIANT_BOOL ok = VARIANT_FALSE;
        HRESULT hr = reader_->SetHook(path.get(), line.number, &ok);
        if (!Yes(hr, ok)) {
            // Switched off (keeping its number) only when the DLL is gone or
            // cannot be loaded; a hook refused for now (classes unregistered,
            // registration not writable) stays listed for the next start.
            VARIANT_BOOL loadable = VARIANT_FALSE;
            hr = reader_->CheckComponent(path.get(), &loadable);
            if (Yes(hr, loadable)) {
                hooksNotApplied_.push_back(line.path);
            } else {
                std::string error;
                vx::CommentOutModuleLineInFile(settings_.ZorTxtFile, line.number, &error);
            }
            continue;
        }
        ++active;
    }
    return active;
}

void MainWindow::TellHooksNotApplied() {
    if (hooksNotApplied_.empty()) return;
    std::string text = "These hooked component DLLs could not be hooked again now (are their classes registered, and "
                       "may their registration be written?). They stay in the list of hooks and are tried again at "
                       "the next start:";
    for (const std::string& path : hooksNotApplied_) text += "\r\n" + path;
    ::MessageBoxA(hwnd_, text.c_str(), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
}

bool MainWindow::RemoveAllHooks(unsigned long boundMs, bool tellUser) {
    if (!reader_) return true;
    std::vector<std::string> removed;
    for (const vx::ModuleLine& line : vx::ModuleLines(ModuleText())) {
        if (!line.active) continue;
        vx::unique_bstr path(vx::NewBstr(line.path));
        VARIANT_BOOL ok = VARIANT_FALSE;
        reader_->RemoveHook(path.get(), &ok);
        removed.push_back(line.path);
    }
    bool done = WaitForTermination(
        [&] {
            VARIANT_BOOL flag = VARIANT_FALSE;
            return SUCCEEDED(reader_->IsTerminationCompleted(&flag)) && flag != VARIANT_FALSE;
        },
        [&] {
            PumpMessages();
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        },
        [] { return static_cast<unsigned long>(::GetTickCount()); }, boundMs);
    if (!done && tellUser) {
        std::string text = "The trace reader did not report within " + std::to_string(boundMs / 1000) +
                           " seconds that it has stopped watching the hooked classes. "
                           "Vexilo closes anyway; these hooks may still be in place:";
        for (const std::string& path : removed) text += "\r\n" + path;
        ::MessageBoxA(hwnd_, text.c_str(), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
    }
    return done;
}

}  // namespace shell
