#include "e2e.h"

#include "window.h"

#include <algorithm>
#include <map>
#include <regex>
#include <cstring>

namespace e2e {

std::string ArchName() { return sizeof(void*) == 8 ? "x86_64" : "i686"; }

std::string SamplePath() { return vxinstall::WinePath(VX_SAMPLE_DLL); }
std::string PlainPath() { return vxinstall::WinePath(VX_PLAIN_DLL); }
std::string ClientPath() { return vxinstall::WinePath(VX_CLIENT_EXE); }
std::string StressPath() { return vxinstall::WinePath(VX_STRESS_EXE); }
std::string Quoted(const std::string& path) { return "\"" + path + "\""; }
std::string ScriptCommand(const std::string& script) {
    return "C:\\windows\\system32\\cscript.exe //nologo " +
           Quoted(vxinstall::WinePath(std::string(VX_SCRIPTS_DIR) + "/" + script));
}

std::vector<Call> Calls(const std::vector<std::string>& records) {
    static const std::regex pointer("ptr=[0-9a-f]+h");
    std::vector<Call> calls;
    for (const std::string& r : records) {
        std::string kind = RecordKind(r);
        if (kind.rfind("ENTER ", 0) != 0 && kind.rfind("EXIT ", 0) != 0) continue;
        size_t header = r.find("\r\n", 2);
        calls.push_back({kind, std::regex_replace(r.substr(header + 2), pointer, "ptr=#h")});
    }
    return calls;
}

std::string CallChecker::Enter(const std::string& enter, bool prefixOnly) {
    size_t i = next_;
    for (; i < calls_.size(); ++i) {
        const std::string& body = calls_[i].body;
        if (calls_[i].kind.rfind("ENTER ", 0) == 0 &&
            (prefixOnly ? body.compare(0, enter.size(), enter) == 0 : body == enter))
            break;
    }
    if (i + 1 >= calls_.size()) {
        ADD_FAILURE() << "no entry record and exit after call " << next_ << " reads\n" << enter;
        return "<none>";
    }
    EXPECT_EQ(calls_[i + 1].kind, "EXIT " + calls_[i].kind.substr(6)) << enter;
    next_ = i + 2;
    return calls_[i + 1].body;
}

HeldMap::HeldMap(const char* name)
    : handle_(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, korbin::kTraceMapSize, name)) {
    if (handle_) view_.reset(::MapViewOfFile(handle_.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
}

std::string HeldMap::Ring() const {
    uint32_t total = get()->ringTotal;
    if (total <= korbin::kRingCapacity) return std::string(reinterpret_cast<const char*>(get()->ring), total);
    return "<ring wrapped>";
}

TextWindow::TextWindow(std::function<void(const std::string&)> onText) : onText_(std::move(onText)) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = Proc;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.lpszClassName = "VxTestTextWindow";
    ::RegisterClassA(&cls);  // fails harmlessly once registered
    window_ = ::CreateWindowA(cls.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, cls.hInstance, this);
}

TextWindow::~TextWindow() {
    if (window_) ::DestroyWindow(window_);
}

LRESULT CALLBACK TextWindow::Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
    auto* self = reinterpret_cast<TextWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_SETTEXT && self) {
        self->texts.emplace_back(reinterpret_cast<const char*>(l));
        if (self->onText_) self->onText_(self->texts.back());
    }
    return ::DefWindowProcA(window, message, w, l);
}

std::vector<std::string> SplitRecords(const std::string& fileText) {
    std::vector<std::string> records;
    if (fileText.empty() || fileText.back() != '\x01') return records;
    const std::string text = fileText.substr(0, fileText.size() - 1);
    // Where a record's text starts: the line break before its first line
    // (the final report begins with an empty line of its own).
    static const char* const kStarts[] = {"\r\n=========",         "\r\n--- CREATING THE INSTANCE ---",
                                          "\r\n--- DESTROYING OF THE INSTANCE ---", "\r\n*** Serial# of call: ",
                                          "\r\n   *** Serial# of exit: ", "\r\n\r\n<<<<<<<<<<<<  FINAL REPORT",
                                          "\r\n<<<<<<<<<<<<  End of report"};
    std::vector<size_t> starts;
    for (const char* marker : kStarts)
        for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1))
            starts.push_back(at);
    std::sort(starts.begin(), starts.end());
    // "\r\n\r\n<<<" also holds a "\r\n" start one byte on: keep the first.
    std::vector<size_t> kept;
    for (size_t at : starts)
        if (kept.empty() || at > kept.back() + 1) kept.push_back(at);
    for (size_t i = 0; i < kept.size(); ++i)
        records.push_back(text.substr(kept[i], i + 1 < kept.size() ? kept[i + 1] - kept[i] : std::string::npos));
    return records;
}

std::string RecordKind(const std::string& record) {
    auto has = [&](const char* text) { return record.find(text) != std::string::npos; };
    auto serial = [&](const char* text) {
        size_t at = record.find(text) + std::strlen(text);
        return record.substr(at, record.find(' ', at) - at);
    };
    if (has("========= LOAD DLL: ")) return "LOAD";
    if (has("========= UNLOAD DLL: ")) return "UNLOAD";
    if (has("--- CREATING THE INSTANCE ---")) return "CREATE";
    if (has("--- DESTROYING OF THE INSTANCE ---")) return "DESTROY";
    if (has("*** Serial# of exit: ")) return "EXIT " + serial("*** Serial# of exit: ");
    if (has("*** Serial# of call: ")) return "ENTER " + serial("*** Serial# of call: ");
    if (has("FINAL REPORT")) return "REPORT";
    if (has("End of report")) return "END";
    return "?";
}

std::vector<std::string> RecordKinds(const std::vector<std::string>& records) {
    std::vector<std::string> kinds;
    for (const std::string& r : records) kinds.push_back(RecordKind(r));
    return kinds;
}

std::string CheckCallPairing(const std::vector<std::string>& records) {
    std::map<std::string, std::vector<std::string>> open;  // per thread: serials entered, innermost last
    for (const std::string& r : records) {
        std::string kind = RecordKind(r);
        size_t tid = r.find(" TID=");
        if (tid == std::string::npos) continue;
        std::string thread = r.substr(tid + 5, r.find('h', tid) - tid - 5);
        if (kind.rfind("ENTER ", 0) == 0) {
            open[thread].push_back(kind.substr(6));
        } else if (kind.rfind("EXIT ", 0) == 0) {
            std::vector<std::string>& stack = open[thread];
            if (stack.empty() || stack.back() != kind.substr(5))
                return "exit " + kind.substr(5) + " on thread " + thread + " does not close " +
                       (stack.empty() ? std::string("any entry") : stack.back()) + ":\n" + r;
            stack.pop_back();
        }
    }
    for (const auto& [thread, stack] : open)
        if (!stack.empty()) return "entry " + stack.back() + " on thread " + thread + " never exited";
    return {};
}

void ExpectNumberedOneByOne(const std::vector<std::string>& records) {
    for (size_t i = 0; i < records.size(); ++i) {
        const size_t at = records[i].find("h [");
        const int number = at == std::string::npos ? -1 : std::atoi(records[i].c_str() + at + 3);
        ASSERT_EQ(number, static_cast<int>(i + 1)) << records[i];
    }
}

int Count(const std::vector<std::string>& kinds, const std::string& kind) {
    return static_cast<int>(std::count(kinds.begin(), kinds.end(), kind));
}

std::vector<std::string> DllRecords(const std::vector<std::string>& records) {
    std::vector<std::string> out;
    for (const std::string& r : records)
        if (r.find(" DLL: ") != std::string::npos && r.rfind("\r\n=========", 0) == 0) out.push_back(r);
    return out;
}

std::string DllKinds(const std::vector<std::string>& records, const std::string& process) {
    std::string kinds;
    for (const std::string& r : DllRecords(records))
        if (r.find(process) != std::string::npos) kinds += RecordKind(r) + " ";
    return kinds;
}

std::string LastKinds(const std::vector<std::string>& kinds, size_t count) {
    std::string text;
    for (size_t i = kinds.size() - std::min(count, kinds.size()); i < kinds.size(); ++i) text += kinds[i] + " ";
    return text;
}

std::string WithoutTime(const std::string& record) {
    // The time text's own form is the ring unit tests' matter: here its place and width.
    const size_t at = record.find("\r\nTime: "), end = at + 8 + 24;
    if (at == std::string::npos || end + 2 > record.size() || record.compare(end, 2, "\r\n") != 0) return record;
    return record.substr(0, at + 8) + "<time>" + record.substr(end);
}

std::string DllRecord(const char* kind, const std::string& dllPath, DWORD threadId, DWORD processId, int number,
                      const std::string& commandLine, const char* unloadLine) {
    std::string name = dllPath.substr(dllPath.find_last_of('\\') + 1);
    std::string text = "\r\n========= " + std::string(kind) + " DLL: " + name + " ========= TID=" + Hex(threadId) +
                       "h PID=" + Hex(processId) + "h [" + std::to_string(number) + "]\r\nTime: <time>\r\nDLL's path: " +
                       dllPath + "\r\nHost process's command line: " + commandLine + "\r\n";
    if (unloadLine) text += std::string(unloadLine) + "\r\n";
    return text;
}

std::string RegString(const std::string& key, const char* name) {
    char value[1024];
    DWORD size = sizeof value;
    if (::RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                       value, &size) != ERROR_SUCCESS)
        return "<missing>";
    return value;
}

int Repeats(int normal, int soak) {
    char value[8];
    return ::GetEnvironmentVariableA("VX_SOAK", value, sizeof value) > 0 ? soak : normal;
}

bool Screenshot(HWND window, const std::string& name) {
    if (!std::getenv("VX_TEST_SHOTS")) return true;
    ::Sleep(300);
    return vxremote::SavePng(window, vxinstall::WinePath(VX_OTHER_BUILD) + "\\..\\" + ArchName() + "\\" + name);
}

void TraceTest::SetUp() {
    sample = SamplePath();
    inst.folder = "C:\\vxe2e-" + ArchName() + "\\";
    inst.main.modules = {sample};
    inst.advanced.fullTrace = true;
    std::string error;
    ASSERT_TRUE(vxinstall::CopyStage(vxinstall::WinePath(VX_STAGE_DIR), inst.folder, &error)) << error;
    ASSERT_TRUE(vxinstall::WriteSettings(inst, &error)) << error;
    ASSERT_TRUE(vxinstall::WriteAppPath(inst.folder, &error)) << error;
    vxinstall::ClearTraceFiles(inst.folder);
    // The "all" scenario also uses the component without a type library, unhooked.
    ASSERT_TRUE(vxinstall::RegisterComponent(PlainPath(), false, &error)) << error;
    ASSERT_TRUE(vxinstall::HookComponent(inst.folder, 1, sample, &error)) << error;
}

void TraceTest::TearDown() {
    std::string error;
    EXPECT_TRUE(vxinstall::RegisterComponent(sample, false, &error)) << error;
}

ProcessResult TraceTest::RunUnhooked(const std::string& command) {
    std::string error;
    EXPECT_TRUE(vxinstall::RegisterComponent(sample, false, &error)) << error;
    ProcessResult run = RunProgram(command);
    EXPECT_TRUE(vxinstall::HookComponent(inst.folder, 1, sample, &error)) << error;
    return run;
}

void TraceTest::Rewrite() {
    std::string error;
    ASSERT_TRUE(vxinstall::WriteSettings(inst, &error)) << error;
}

}  // namespace e2e
