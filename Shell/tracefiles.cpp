// Save Trace and Open TraceFile: the file dialogs, the copy of the distilled
// trace, and the reading of a saved trace into the trace tree.
#include "commands.h"
#include "mainwindow.h"
#include "textconv.h"

#include <commdlg.h>

namespace shell {
namespace {

constexpr long kTracerModeStatic = 1;
constexpr char kTraceFilter[] = "Trace files (*.trc)\0*.trc\0All files (*.*)\0*.*\0";

std::string ErrorText(unsigned long error) {
    char* text = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = n ? std::string(text, n) : "error " + std::to_string(error);
    if (text) ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return result;
}

}  // namespace

// The path chosen in the file dialog, "" when cancelled. A path handed over
// by kNextTraceFilePath is taken instead, once.
std::string MainWindow::AskTraceFilePath(bool save) {
    if (!nextTraceFilePath_.empty()) {
        std::string path;
        path.swap(nextTraceFilePath_);
        return path;
    }
    ::CreateDirectoryA(TraceStoragePath.c_str(), nullptr);
    char file[MAX_PATH] = {};
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = kTraceFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = TraceStoragePath.c_str();
    dialog.lpstrDefExt = "trc";
    dialog.lpstrTitle = save ? "Save the trace" : "Select a TraceFile to open";
    dialog.Flags = OFN_HIDEREADONLY | OFN_LONGNAMES | OFN_EXPLORER |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    BOOL chosen = save ? ::GetSaveFileNameA(&dialog) : ::GetOpenFileNameA(&dialog);
    return chosen ? std::string(file) : std::string();
}

void MainWindow::mnuTraceFileSave_Click() {
    std::string path = AskTraceFilePath(true);
    if (path.empty()) return;
    // What is shown: the opened file in trace-file mode, else the live trace
    // (which the writer may be appending to: the copy ends at the last whole
    // record).
    const std::string& source = settings_.Tree1Mode == kTraceFileMode ? settings_.OpenedTraceFile : DistilledTracePath;
    SaveResult saved = SaveTrace(source, path);
    if (!saved.ok)
        ::MessageBoxA(hwnd_, ("The trace could not be saved to " + path + ":\r\n" + ErrorText(saved.error)).c_str(),
                      kAppTitle, MB_OK | MB_ICONEXCLAMATION);
}

void MainWindow::mnuTraceFileOpen_Click() {
    std::string path = AskTraceFilePath(false);
    if (path.empty()) return;
    settings_.OpenedTraceFile = path;
    ShowTraceFile();
}

void MainWindow::ShowTraceFile() {
    if (!reader_ || !readerTexts_) return;
    const std::string path = settings_.OpenedTraceFile;
    SetTimer1(false);
    TraceFileCheck check = InspectTraceFile(path);
    TraceFileReading reading(check);
    readingTraceFile_ = true;
    ApplyRunStep(tracingRun_.BeginTraceFile());
    // Records starting in the cut record are left out, whatever the reader delivers.
    if (check.state == TraceFileState::Cut) traceView_.LimitToOffset(check.wholeLength);
    vx::unique_bstr bpath(vx::NewBstr(path));
    reader_->put_StaticTraceFilePath(bpath.get());
    reader_->put_Mode(kTracerModeStatic);
    settings_.Tree1Mode = kTraceFileMode;
    ApplyTree1Mode();

    long amount = 0;
    if (reading.ShouldRead()) reader_->GetRecordAmountInTraceFile(&amount);
    status_.BeginProgress(amount);
    PumpMessages();

    while (reading.ShouldRead() && !gate_.CloseRequested()) {
        HRESULT hr = batch_.Poll(reader_.get());
        traceView_.SetRealLastRecord(batch_.RealLastRecord);
        if (FAILED(hr)) batch_.RecAmNew = -1;
        if (!reading.TakeBatch(batch_.RecAmNew, tracingRun_.StopRequested())) break;
        TakeBatch();
        RunDeferredOption();
    }
    batch_.array.reset();
    ShowTraceProgress(true);
    ApplyRunStep(tracingRun_.EndTraceFile(reading.AddsFinalReport() && !gate_.CloseRequested()));
    status_.EndProgress();
    status_.SetText("Status", traceView_.LimitReached() ? traceView_.LimitText() : "Select event to view its details.");
    PumpMessages();
    readingTraceFile_ = false;
    if (gate_.CloseRequested()) return;  // the close follows once the command has ended
    std::string message = reading.Message(path);
    if (!message.empty()) ::MessageBoxA(hwnd_, message.c_str(), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace shell
