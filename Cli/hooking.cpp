// hook, unhook, list and classes: what the main window's hook/unhook action
// does, for scripts.
#include <cstdio>

#include "commands.h"
#include "modulelist.h"

namespace vxtrace {
namespace {

constexpr char kNotLoadable[] = "The component DLL or its type library could not be loaded";
constexpr DWORD kRestoreWaitMs = 30000;

bool CallSetHook(Session& session, const std::string& dll, long number) {
    vx::unique_bstr path(vx::NewBstr(dll));
    VARIANT_BOOL ok = VARIANT_FALSE;
    return SUCCEEDED(session.reader()->SetHook(path.get(), number, &ok)) && ok;
}

// Both checks the main window makes before it hooks: the file is there and
// registered, and its type library loads.
int CheckHookable(Session& session, const std::string& dll) {
    if (session.ClassesOf(dll).empty()) {
        Fail("no class is registered with \"" + dll + "\" as its in-process server (register it first)");
        return kBadInput;
    }
    vx::unique_bstr path(vx::NewBstr(dll));
    VARIANT_BOOL loadable = VARIANT_FALSE;
    session.reader()->CheckComponent(path.get(), &loadable);
    if (!loadable) {
        Fail(std::string(kNotLoadable) + ": \"" + dll + "\"");
        return kBadInput;
    }
    return kOk;
}

}  // namespace

int Hook(Session& session, const std::string& name) {
    std::string dll = ExistingFile(name);
    if (dll.empty()) {
        Fail("DLL not found: \"" + name + "\"");
        return kBadInput;
    }
    if (int failed = CheckHookable(session, dll)) return failed;
    std::string settings, error;
    if (!vx::ReadTextFile(session.settingsPath(), &settings, &error)) {
        Fail(error + " (is Vexilo installed in \"" + session.installationPath() + "\"?)");
        return kHookNotWritten;
    }
    if (long existing = vx::HookNumberOfModule(settings, dll)) {
        if (!CallSetHook(session, dll, existing)) {
            Fail("the hook of \"" + dll + "\" could not be written to the registry");
            return kHookNotWritten;
        }
        Print("\"" + dll + "\" is hooked as number " + std::to_string(existing) + "\n");
        return kOk;
    }
    long number = vx::FindFreeHookNumber(settings, [&] { return session.LiveHookNumbers(); });
    if (!CallSetHook(session, dll, number)) {
        Fail("the hook of \"" + dll + "\" could not be written to the registry");
        return kHookNotWritten;
    }
    if (!vx::WriteModuleLineInFile(session.settingsPath(), dll, number, &error)) {
        Fail(error);
        vx::unique_bstr path(vx::NewBstr(dll));
        VARIANT_BOOL removed = VARIANT_FALSE;
        session.reader()->RemoveHook(path.get(), &removed);
        return kHookNotWritten;
    }
    char line[64];
    std::snprintf(line, sizeof line, "\" hooked as number %ld (Zor#_%.2ld.dll)\n", number, number);
    Print("\"" + dll + line);
    return kOk;
}

int Unhook(Session& session, const std::string& name) {
    std::string dll = ExistingFile(name);
    if (dll.empty()) dll = name;  // a DLL deleted since it was hooked can still be unhooked
    std::string settings, error;
    if (!vx::ReadTextFile(session.settingsPath(), &settings, &error)) {
        Fail(error);
        return kBadInput;
    }
    long number = vx::HookNumberOfModule(settings, dll);
    if (number == 0) {
        Fail("\"" + dll + "\" is not hooked");
        return kBadInput;
    }
    // A fresh reader has no hooks of its own: apply the hook again under its
    // number, then remove it, which re-registers the DLL.
    CallSetHook(session, dll, number);
    vx::unique_bstr path(vx::NewBstr(dll));
    VARIANT_BOOL removed = VARIANT_FALSE;
    session.reader()->RemoveHook(path.get(), &removed);
    if (!vx::CommentOutModuleLineInFile(session.settingsPath(), number, &error)) {
        Fail(error);
        return kHookNotWritten;
    }
    // The DLL's own registration runs apart: wait until no class points at a
    // stub any more and the watcher has ended.
    DWORD start = ::GetTickCount();
    for (;;) {
        bool restored = removed != VARIANT_FALSE;
        for (const Session::ClassInfo& cls : session.ClassesOf(dll))
            if (!cls.realPath.empty()) restored = false;
        VARIANT_BOOL ended = VARIANT_FALSE;
        session.reader()->IsTerminationCompleted(&ended);
        if (restored && ended) break;
        if (::GetTickCount() - start > kRestoreWaitMs) {
            Fail("\"" + dll + "\" was unhooked, but its own registration did not restore its classes within 30 s");
            return kNotRestored;
        }
        Session::Pump();
        ::Sleep(100);
    }
    Print("\"" + dll + "\" unhooked (number " + std::to_string(number) + " freed)\n");
    return kOk;
}

int List(Session& session) {
    std::string settings, error;
    if (!vx::ReadTextFile(session.settingsPath(), &settings, &error)) {
        Fail(error);
        return kBadInput;
    }
    bool any = false;
    for (const vx::ModuleLine& line : vx::ModuleLines(settings)) {
        if (!line.active) continue;
        Print(std::to_string(line.number) + "\t" + line.path + "\n");
        any = true;
    }
    if (!any) Print("no hooked component DLLs\n");
    return kOk;
}

int Classes(Session& session, const std::string& name) {
    std::string dll = ExistingFile(name);
    if (dll.empty()) dll = name;
    std::vector<Session::ClassInfo> classes = session.ClassesOf(dll);
    if (classes.empty()) {
        Fail("no class is registered with \"" + dll + "\" as its in-process server");
        return kBadInput;
    }
    for (const Session::ClassInfo& cls : classes)
        Print(cls.clsid + "\t" + cls.name + (cls.realPath.empty() ? "" : "\t(hooked: " + cls.server + ")") + "\n");
    return kOk;
}

}  // namespace vxtrace
