// The command line's trace reader session.
#include "session.h"

#include <algorithm>
#include <cstdio>

#include "hookpairs.h"
#include "installfolder.h"
#include "stubname.h"

namespace vxtrace {

void Fail(const std::string& text) {
    std::fprintf(stderr, "vxtrace: %s\n", text.c_str());
    std::fflush(stderr);
}

void Print(const std::string& text) {
    // One write, with the line ends the runtime's text mode gives: the
    // runtime writes text-mode output in small pieces (on a console or NUL
    // one a character), and the traced program's own lines, on the same
    // output, landed between them.
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

std::string ExistingFile(const std::string& name) {
    std::string full = vx::FullPathOf(name);
    if (full.empty()) return {};
    DWORD attributes = vx::FileAttributes(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    return full;
}

bool Session::Open() {
    HRESULT hr = ::CoCreateInstance(CLSID_TraceReader, nullptr, CLSCTX_INPROC_SERVER, IID_ITraceReader,
                                    reader_.put_void());
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the trace reader Ledra.TraceReader cannot be created (error %08lx): is Vexilo installed?",
                      static_cast<unsigned long>(hr));
        Fail(text);
        return false;
    }
    // The installation this architecture's registry view names, else ours.
    char folder[MAX_PATH];
    if (vx::LookUpInstallFolder(folder, sizeof folder)) {
        installationPath_ = folder;
    } else {
        char self[MAX_PATH];
        DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
        installationPath_.assign(self, n);
        installationPath_.resize(installationPath_.rfind('\\') + 1);
    }
    vx::unique_bstr path(vx::NewBstr(installationPath_));
    reader_->put_InstallationPath(path.get());
    return true;
}

void Session::Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

std::vector<std::string> Session::RecordLines(long recPtr) {
    std::vector<std::string> lines;
    BSTR first = nullptr;
    reader_->GetFirstRecordString(recPtr, &first);
    vx::unique_bstr line(first);
    lines.push_back(Narrow(line.get()));
    // A record has no empty lines: an empty result ends it. The bound only
    // guards against a source that keeps answering.
    for (int i = 0; i < 1000000; ++i) {
        BSTR next = nullptr;
        reader_->GetNextRecordString(&next);
        line.reset(next);
        if (!next || ::SysStringLen(next) == 0) break;
        lines.push_back(Narrow(next));
    }
    return lines;
}

std::vector<Session::ClassInfo> Session::AllClasses() {
    std::vector<ClassInfo> classes;
    reader_->ResetScanComp(1);  // COMP_NAME
    for (;;) {
        vx::unique_variant entry;
        if (FAILED(reader_->GetCompNext(entry.put())) || entry.vt != (VT_ARRAY | VT_BSTR)) break;
        vx::safearray_access<BSTR> items(entry.parray);
        if (items.size() < 5) break;  // five strings a class
        const BSTR* item = items.data();
        classes.push_back({Narrow(item[0]), Narrow(item[1]), Narrow(item[2]), Narrow(item[4])});
    }
    return classes;
}

std::vector<Session::ClassInfo> Session::ClassesOf(const std::string& dll) {
    std::vector<ClassInfo> classes = AllClasses();
    std::erase_if(classes, [&](const ClassInfo& cls) { return !EqualNoCase(cls.server, dll) && !EqualNoCase(cls.realPath, dll); });
    return classes;
}

std::vector<Session::RegistryHook> Session::RegistryHooks() {
    std::vector<RegistryHook> hooks;
    for (const ClassInfo& cls : AllClasses()) {
        if (cls.realPath.empty() || !vx::NamesStubCopy(cls.server.c_str())) continue;
        // Another installation's stub copies are not ours to report.
        if (!EqualNoCase(cls.server.substr(0, installationPath_.size()), installationPath_)) continue;
        long number = vx::StubHookNumber(cls.server.c_str());
        bool known = false;
        for (const RegistryHook& hook : hooks) known = known || (hook.number == number && EqualNoCase(hook.realPath, cls.realPath));
        if (!known) hooks.push_back({number, cls.realPath});
    }
    return hooks;
}

bool Session::LiveHookNumbers(std::vector<long>* numbers) {
    numbers->clear();
    std::vector<vx::HookPair> pairs;
    if (vx::ReadHookPairs(reader_.get(), &pairs) != vx::HookPairsRead::kRead) return false;
    for (const vx::HookPair& pair : pairs) numbers->push_back(pair.hookNumber);
    return true;
}

}  // namespace vxtrace
