// Save Trace, Open TraceFile, Export and Compare With: the file dialogs, the
// copy of the distilled trace, the reading of a saved trace into the trace
// tree, and the trace shown as data.
#include "commands.h"
#include "mainwindow.h"
#include "resultnames.h"
#include "textconv.h"
#include "traceexchange.h"

#include <commdlg.h>

namespace shell {
namespace {

constexpr long kTracerModeStatic = 1;
constexpr char kTraceFilter[] = "Trace files (*.trc)\0*.trc\0All files (*.*)\0*.*\0";
constexpr char kExportFilter[] = "JSON Lines (*.jsonl)\0*.jsonl\0CSV, one row a call (*.csv)\0*.csv\0";

// The file's name without its folder.
std::string NameOf(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

// A file dialog's answer, "" when cancelled; the type chosen in `type`.
std::string AskFile(HWND owner, const std::string& folder, const char* filter, const char* extension, const char* title,
                    bool save, DWORD* type = nullptr) {
    char file[MAX_PATH] = {};
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = folder.c_str();
    dialog.lpstrDefExt = extension;
    dialog.lpstrTitle = title;
    dialog.Flags = OFN_HIDEREADONLY | OFN_LONGNAMES | OFN_EXPLORER |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    BOOL chosen = save ? ::GetSaveFileNameA(&dialog) : ::GetOpenFileNameA(&dialog);
    if (type) *type = dialog.nFilterIndex;
    return chosen ? std::string(file) : std::string();
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
    return AskFile(hwnd_, TraceStoragePath, kTraceFilter, "trc", save ? "Save the trace" : "Select a TraceFile to open",
                   save);
}

// The export's path, its format by its extension; a handed path is taken
// as for the trace files.
std::string MainWindow::AskExportPath() {
    if (!nextTraceFilePath_.empty()) return AskTraceFilePath(true);
    DWORD type = 1;
    std::string path = AskFile(hwnd_, TraceStoragePath, kExportFilter, "jsonl", "Export the events shown", true, &type);
    // The type chosen in the dialog decides when the name has no extension of its own.
    if (!path.empty() && type == 2 && ExportFormatOf(path) != vx::ExportFormat::Csv) path += ".csv";
    return path;
}

void MainWindow::mnuTraceFileExport_Click() {
    if (!readerTexts_) return;
    std::string path = AskExportPath();
    if (path.empty()) return;
    ExportOutcome exported = ExportShownRecords(traceView_.Records(), *readerTexts_, path);
    if (!exported.error.empty()) {
        ::MessageBoxA(hwnd_, ("The events could not be exported to " + path + ":\r\n" + exported.error).c_str(),
                      kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    status_.SetText("Status", std::to_string(exported.records) + " records exported to " + path);
}

void MainWindow::mnuTraceFileCompare_Click() {
    if (!readerTexts_) return;
    std::string path = AskTraceFilePath(false);
    if (path.empty()) return;
    std::unique_ptr<ViewComparison> c = CompareViewWith(traceView_.Records(), *readerTexts_, path);
    if (!c->error.empty()) {
        ::MessageBoxA(hwnd_, ("Nothing was compared: " + c->error).c_str(), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    std::string name = NameOf(path);
    std::vector<CompareRow> rows = CompareRows(c->result);
    std::vector<std::vector<std::string>> texts;
    for (const CompareRow& row : rows)
        texts.push_back({row.mark, row.viewNum ? std::to_string(row.viewNum) : "", row.viewText,
                         row.fileRecord ? std::to_string(row.fileRecord) : "", row.fileText});
    compare_.Show(instance_, hwnd_, TreeFont(), "Compare With " + name, CompareSummary(c->result, name),
                  std::move(texts), [this, rows](size_t row) {
                      if (rows[row].viewNum) tracePane_.Tree().Select(NodeKey(rows[row].viewNum));
                  });
    compare_.SetColumnTitle(4, name);
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
        ::MessageBoxA(hwnd_, ("The trace could not be saved to " + path + ":\r\n" + vx::ErrorText(saved.error)).c_str(),
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

    FileResults results(path);
    traceView_.Records().SetResultFile(&results);
    vx::scope_exit fromReader([&] { traceView_.Records().SetResultFile(nullptr); });
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
    if (rebuildAfterFile_ && !gate_.CloseRequested()) RebuildTraceTree();
    rebuildAfterFile_ = false;
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
