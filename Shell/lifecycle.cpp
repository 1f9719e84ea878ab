// Start-up and shutdown of the main window: paths, program-wide objects,
// per-user window settings, hooks re-applied at start and removed at exit.
#include "dialogs.h"
#include "hookpairs.h"
#include "mainwindow.h"
#include "modulelist.h"
#include "raii.h"
#include "textconv.h"
#include "windowsettings.h"

namespace shell {
namespace {

std::string InstallationFolder(const std::string& commandLine) {
    std::string folder = commandLine;
    // A caller may quote the folder or leave blanks around it.
    while (!folder.empty() && (folder.back() == ' ' || folder.back() == '"')) folder.pop_back();
    size_t first = folder.find_first_not_of(" \"");
    folder = first == std::string::npos ? std::string() : folder.substr(first);
    if (folder.empty()) {
        char self[MAX_PATH];
        DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        folder.assign(self, n);
        folder.resize(folder.rfind('\\'));
    }
    if (folder.back() != '\\') folder += '\\';
    return folder;
}

// True when the window's title strip lies on some screen, so it can be grabbed.
bool OnAScreen(const RECT& r) {
    RECT strip = {r.left + 20, r.top, std::min(r.right, r.left + 140), r.top + 24};
    return ::MonitorFromRect(&strip, MONITOR_DEFAULTTONULL) != nullptr;
}

}  // namespace

void MainWindow::ReadWindowSettings() {
    WindowSettings stored = WindowSettings::FromTexts(ReadSettingTexts());
    CopyViewOptions(stored, settings_);
    RECT r = {Px(stored.MainLeft), Px(stored.MainTop), Px(stored.MainLeft + stored.MainWidth),
              Px(stored.MainTop + stored.MainHeight)};
    if (!OnAScreen(r)) {
        // Placed off every screen (a screen since removed, or a bad value): the default place.
        WindowSettings defaults;
        r = {Px(defaults.MainLeft), Px(defaults.MainTop), Px(defaults.MainLeft + defaults.MainWidth),
             Px(defaults.MainTop + defaults.MainHeight)};
        if (!OnAScreen(r)) ::OffsetRect(&r, -r.left, -r.top);
    }
    ::MoveWindow(hwnd_, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
    splitterLeft_ = stored.Splitter;
    traceView_.SetRecordLimit(static_cast<size_t>(stored.MaxViewRecords));
    exitWaitMs_ = static_cast<unsigned long>(stored.ExitWaitSeconds) * 1000;
    windowState_ = stored.WindowState;
}

void MainWindow::Form_Load() {
    // Start-up shows message boxes, which let commands and a close arrive:
    // they wait for it as for any command.
    gate_.Enter();
    vx::scope_exit leave([&] { EndCommand(); });
    HWND splash = ShowSplash(instance_);
    PumpMessages();

    SetPaths();
    details_.LoadHelp(settings_.InstPath + "Help.rtf");
    ReadWindowSettings();
    LoadViewRules();
    CreateServers();
    InitTraceSide();
    settings_.Init();
    vx::unique_bstr path(vx::NewBstr(settings_.InstPath));
    if (reader_) reader_->put_InstallationPath(path.get());
    if (Scann) Scann->put_InstallPath(path.get());

    settings_.Tree1Mode = kHookedListMode;
    bool inUse = ReapplyHooksAndTellInUse(splash);
    ::ShowWindow(hwnd_, windowState_ == 2 ? SW_SHOWMAXIMIZED : windowState_ == 1 ? SW_SHOWMINIMIZED : SW_SHOW);
    Form_Resize();
    ApplyTree1Mode();
    CloseSplash(splash);
    ::SetForegroundWindow(hwnd_);
    // A filter kept from an earlier run hides events: said from the start.
    if (filter_.Active()) status_.SetText("Status", "Filter on: " + filter_.Describe() + " (Edit > Filter)");
    TellHooksNotApplied();
    // The records those processes have written so far are shown at once.
    if (inUse) mnuTracingStart_Click();
}

void MainWindow::SetPaths() {
    settings_.InstPath = InstallationFolder(commandLine_);
    settings_.ZorTxtFile = settings_.InstPath + "Vexilo.txt";
    settings_.ZorTxtAdvFile = settings_.InstPath + "VexiloAdv.txt";
    TraceStoragePath = settings_.InstPath + "TraceStorage";
    DistilledTracePath = settings_.InstPath + "TraceDistilled.txt";
}

// The trace reader and the scan engine; a missing one is said and its
// commands stay unavailable.
void MainWindow::CreateServers() {
    HRESULT hr = ::CoCreateInstance(CLSID_TraceReader, nullptr, CLSCTX_INPROC_SERVER, IID_ITraceReader,
                                    reader_.put_void());
    if (FAILED(hr))
        ::MessageBoxA(hwnd_, "The trace reader (Ledra.dll) cannot be created: hooking and tracing are unavailable. "
                             "Install Vexilo again to register it.", kAppTitle, MB_OK | MB_ICONERROR);
    hr = ::CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER, IID_IScanner, Scann.put_void());
    if (SUCCEEDED(hr)) {
        scanEvents_.advise(Scann.get(), DIID__IScannerEvents, &scanSink_);
    } else {
        ::MessageBoxA(hwnd_, "The scan engine (Pollux.dll) cannot be created: the component list is unavailable.",
                      kAppTitle, MB_OK | MB_ICONERROR);
    }
}

// The hooks of the module list applied again; hooked DLLs that live
// processes hold right now are named first (the splash goes before any
// message). True when there are such processes.
bool MainWindow::ReapplyHooksAndTellInUse(HWND splash) {
    // (process id, hook number) pairs.
    std::vector<std::pair<long, long>> inUse;
    bool mapBusy = false;
    if (reader_) {
        std::vector<vx::HookPair> pairs;
        mapBusy = vx::ReadHookPairs(reader_.get(), &pairs) == vx::HookPairsRead::kBusy;
        for (const vx::HookPair& pair : pairs) inUse.emplace_back(pair.processId, pair.hookNumber);
    }
    if (mapBusy) {
        CloseSplash(splash);
        ::MessageBoxA(hwnd_,
                      "A traced process keeps the trace busy, so Vexilo cannot tell which hooked component DLLs are "
                      "in use.\r\nStart tracing to see their records.",
                      kAppTitle, MB_OK | MB_ICONINFORMATION);
        ReapplyHooks();
    } else if (inUse.empty()) {
        if (ReapplyHooks() == 0) ::Sleep(1000);
    } else {
        std::string text = "Following hooked component DLLs are now in use by some processes:";
        std::string modules = ModuleText();
        for (const auto& [process, hook] : inUse)
            text += "\r\n" + UpperCase(ShortNameOfPath(vx::ModulePathOfHook(modules, hook))) +
                    " (by ProcID=" + std::to_string(process) + ")";
        text += "\r\nAccumulated trace info will be shown now.";
        CloseSplash(splash);
        ::MessageBoxA(hwnd_, text.c_str(), kAppTitle, MB_OK | MB_ICONINFORMATION);
        ReapplyHooks();
    }
    return !inUse.empty();
}

void MainWindow::Form_Unload() {
    // The tracing run stops first: the wait for the reader below lets
    // messages run, and a poll draining a busy client there could hold the
    // wait past its bound.
    SetTimer1(false);
    SaveAndUnhook(exitWaitMs_, true);
    CloseTraceSide();
    scanEvents_.reset();
    Scann.reset();
    reader_.reset();
}

void MainWindow::SaveAndUnhook(unsigned long boundMs, bool tellUser) {
    SetTimer1(false);
    if (!settings_.ExitWithLeftHooks) RemoveAllHooks(boundMs, tellUser);
    WindowSettings out;
    CopyViewOptions(settings_, out);
    bool normal = !::IsIconic(hwnd_) && !::IsZoomed(hwnd_);
    if (normal) {
        RECT r;
        ::GetWindowRect(hwnd_, &r);
        out.MainLeft = static_cast<float>(std::lround(Tw(r.left)));
        out.MainTop = static_cast<float>(std::lround(Tw(r.top)));
        out.MainWidth = static_cast<float>(std::lround(Tw(r.right - r.left)));
        out.MainHeight = static_cast<float>(std::lround(Tw(r.bottom - r.top)));
        out.Splitter = static_cast<float>(splitterLeft_);
    }
    out.WindowState = ::IsZoomed(hwnd_) ? 2 : 0;
    WriteSettingTexts(out.ToTexts(normal));
}

}  // namespace shell
