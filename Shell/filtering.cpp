// Reading a big trace: the filter and highlight rules (the dialog, the trace
// node's menu, Reset), the statistics window, and Nest by Arrival Order.
// Rule changes wait for the batch the tree is taking, as the view options do.
#include "commands.h"
#include "filterdialog.h"
#include "mainwindow.h"
#include "traceexchange.h"

namespace shell {

HFONT MainWindow::TreeFont() const {
    return reinterpret_cast<HFONT>(::SendMessageA(tracePane_.hwnd(), WM_GETFONT, 0, 0));
}

// Read from the call's text the first time a rule asks, then kept.
std::string MainWindow::InterfaceOf(int32_t num) {
    RecInfo* r = traceView_.Records().Record(num);
    if (!r || !readerTexts_) return {};
    if (!r->InterfaceKnown) {
        r->InterfaceName = vx::ParseRecord(RecordTextLines(r->Pointer, *readerTexts_)).interfaceName;
        r->InterfaceKnown = true;
    }
    return r->InterfaceName;
}

void MainWindow::LoadViewRules() {
    filter_ = TraceFilter::FromText(settings_.FilterRules);
    highlight_ = TraceFilter::FromText(settings_.HighlightRules);
    traceView_.Records().SetNestByArrival(settings_.NestByArrivalOrder);
    bar_.Check(mnuOptionsNestByArrival, settings_.NestByArrivalOrder);
}

void MainWindow::SetRules(TraceFilter* rules, std::string* kept, TraceFilter changed) {
    *rules = std::move(changed);
    *kept = rules->ToText();
    if (tracingRun_.RunOptionNow(OptionCommand::Refilter)) Refilter();
}

void MainWindow::Refilter() {
    bool tracing = settings_.Tree1Mode == kTracingMode || settings_.Tree1Mode == kTraceFileMode;
    if (tracing) {
        bool polling = timer1On_;
        SetTimer1(false);
        RebuildTraceTree();
        if (polling) SetTimer1(true);
    }
    status_.SetText("Status", filter_.Active() ? "Filter on: " + filter_.Describe() + " (Edit > Filter)"
                                               : std::string("Filter off: every event is shown."));
    ShowTraceProgress(true);
}

void MainWindow::mnuEditFilter_Click() {
    TraceFilter edited = filter_;
    if (EditRules(instance_, hwnd_, "Filter", &edited)) SetRules(&filter_, &settings_.FilterRules, edited);
}

void MainWindow::mnuEditHighlight_Click() {
    TraceFilter edited = highlight_;
    if (EditRules(instance_, hwnd_, "Highlight", &edited)) SetRules(&highlight_, &settings_.HighlightRules, edited);
}

void MainWindow::mnuEditResetFilter_Click() { SetRules(&filter_, &settings_.FilterRules, TraceFilter()); }

// The rule of a context menu item, from the node right-clicked (or selected).
void MainWindow::ContextRule(int command) {
    struct Item {
        int command;
        FilterField field;
        bool show;
    };
    static const Item kItems[] = {
        {mnuShowOnlyClass, FilterField::Class, true},    {mnuShowOnlyMethod, FilterField::Method, true},
        {mnuShowOnlyThread, FilterField::Thread, true},  {mnuShowOnlyProcess, FilterField::Process, true},
        {mnuHideClass, FilterField::Class, false},       {mnuHideMethod, FilterField::Method, false},
        {mnuShowFailedOnly, FilterField::Result, true},
    };
    int32_t num = contextNum_ ? contextNum_ : NumFromKey(tracePane_.Tree().SelectedKey());
    const RecInfo* r = traceView_.Records().Record(num);
    for (const Item& item : kItems) {
        if (item.command != command) continue;
        if (!r && item.field != FilterField::Result) return;
        std::string value = item.field == FilterField::Result ? "failed" : FieldValue(*r, item.field, {});
        if (value.empty()) return;
        // "Show only" replaces the show rules of its field; "Hide" adds one.
        std::vector<FilterRule> rules;
        for (const FilterRule& rule : filter_.Rules())
            if (!(item.show && rule.show && rule.field == item.field)) rules.push_back(rule);
        TraceFilter changed(std::move(rules));
        changed.Add({item.field, value, item.show});
        SetRules(&filter_, &settings_.FilterRules, changed);
    }
}

void MainWindow::mnuEditStatistics_Click() {
    std::vector<StatisticsRow> rows = TraceStatistics(traceView_.Records());
    std::vector<std::vector<std::string>> texts;
    long calls = 0, failed = 0, classes = 0;
    for (const StatisticsRow& r : rows) {
        auto count = [](long n) { return n < 0 ? std::string() : std::to_string(n); };
        std::string method = r.method.empty() ? "(all methods)" : r.method;
        texts.push_back({r.className, method, count(r.calls), count(r.failed), count(r.created), count(r.left)});
        if (r.method.empty()) calls += r.calls, failed += r.failed, ++classes;
    }
    std::string summary = std::to_string(calls) + " calls, " + std::to_string(failed) + " failed, in " +
                          std::to_string(classes) + (classes == 1 ? " class" : " classes") +
                          ". A double click shows only that class or method.";
    statistics_.Show(instance_, hwnd_, TreeFont(), "Statistics", summary, std::move(texts), [this, rows](size_t i) {
        TraceFilter only({{FilterField::Class, rows[i].className, true}});
        if (!rows[i].method.empty()) only.Add({FilterField::Method, rows[i].method, true});
        SetRules(&filter_, &settings_.FilterRules, only);
    });
}

void MainWindow::mnuOptionsNestByArrival_Click() {
    if (!tracingRun_.RunOptionNow(OptionCommand::Renest)) return;
    settings_.NestByArrivalOrder = !settings_.NestByArrivalOrder;
    bar_.Check(mnuOptionsNestByArrival, settings_.NestByArrivalOrder);
    traceView_.Records().SetNestByArrival(settings_.NestByArrivalOrder);
    if (settings_.Tree1Mode == kTracingMode || settings_.Tree1Mode == kTraceFileMode) {
        bool polling = timer1On_;
        SetTimer1(false);
        RebuildTraceTree();
        if (polling) SetTimer1(true);
    }
}

}  // namespace shell
