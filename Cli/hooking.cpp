// hook, unhook, list and classes: what the main window's hook/unhook action
// does, for scripts.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "modulelist.h"
#include "stubname.h"

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
    bool mapBusy = false;
    long number = vx::FindFreeHookNumber(settings, [&] {
        std::vector<long> live;
        mapBusy = mapBusy || !session.LiveHookNumbers(&live);
        return live;
    });
    // A number a live traced process still holds must not be given out again.
    if (mapBusy) {
        Fail("the trace map stayed locked by a traced process, so the hook numbers in use could not be read: try again");
        return kHookNotWritten;
    }
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
    char stub[32];
    vx::FormatStubName(number, stub, sizeof stub);
    Print("\"" + dll + "\" hooked as number " + std::to_string(number) + " (" + stub + ")\n");
    return kOk;
}

int Unhook(Session& session, const std::string& name) {
    std::string dll = ExistingFile(name);
    if (dll.empty()) dll = name;  // a DLL deleted since it was hooked can still be unhooked
    std::string settings, error;
    bool listRead = vx::ReadTextFile(session.settingsPath(), &settings, &error);
    long number = listRead ? vx::HookNumberOfModule(settings, dll) : 0;
    // The registry is the hook: found there, it comes off even when the
    // module list lost its line.
    long registryNumber = 0;
    for (const Session::RegistryHook& hook : session.RegistryHooks())
        if (EqualNoCase(hook.realPath, dll)) registryNumber = hook.number;
    if (number == 0 && registryNumber == 0) {
        Fail("\"" + dll + "\" is not hooked");
        return kBadInput;
    }
    // A fresh reader has no hooks of its own: apply the hook again under its
    // number, then remove it, which re-registers the DLL.
    CallSetHook(session, dll, registryNumber ? registryNumber : number);
    vx::unique_bstr path(vx::NewBstr(dll));
    VARIANT_BOOL removed = VARIANT_FALSE;
    session.reader()->RemoveHook(path.get(), &removed);
    int code = kOk;
    if (!listRead) {
        Fail(error + ": the module list could not be updated");
        code = kHookNotWritten;
    } else if (number != 0 && !vx::CommentOutModuleLineInFile(session.settingsPath(), number, &error)) {
        Fail(error);
        code = kHookNotWritten;
    }
    // The DLL's own registration runs apart: wait until no class points at a
    // stub any more and the watcher has ended.
    DWORD start = ::GetTickCount();
    for (;;) {
        bool restored = removed != VARIANT_FALSE;
        for (const Session::ClassInfo& cls : session.ClassesOf(dll))
            if (!cls.realPath.empty() && vx::NamesStubCopy(cls.server.c_str())) restored = false;
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
    long freed = number ? number : registryNumber;
    Print("\"" + dll + "\" unhooked (number " + std::to_string(freed) + " freed)\n");
    return code;
}

namespace {

// A module line worth showing: a full path to a file with an extension, with
// no character a path cannot hold.
bool LooksLikeDllPath(const std::string& line) {
    bool rooted = (line.size() > 3 && std::isalpha(static_cast<unsigned char>(line[0])) && line[1] == ':' &&
                   line[2] == '\\') ||
                  line.rfind("\\\\", 0) == 0;
    if (!rooted) return false;
    for (char c : line)
        if (static_cast<unsigned char>(c) < 32 || std::strchr("<>\"|?*", c)) return false;
    std::string file = vx::FileNameOf(line);
    size_t dot = file.rfind('.');
    return dot != std::string::npos && dot > 0 && dot + 1 < file.size();
}

}  // namespace

int List(Session& session) {
    std::string settings, error;
    bool listRead = vx::ReadTextFile(session.settingsPath(), &settings, &error);
    bool hasList = listRead && settings.find("[List of modules with components to investigate]") != std::string::npos;
    std::vector<Session::RegistryHook> registry = session.RegistryHooks();
    auto inRegistry = [&](long number, const std::string& path) {
        for (const Session::RegistryHook& hook : registry)
            if (hook.number == number && EqualNoCase(hook.realPath, path)) return true;
        return false;
    };
    bool any = false;
    std::vector<bool> shown(registry.size(), false);
    if (hasList) {
        for (const vx::ModuleLine& line : vx::ModuleLines(settings)) {
            if (!line.active || !LooksLikeDllPath(line.path)) continue;
            bool hooked = inRegistry(line.number, line.path);
            for (size_t i = 0; i < registry.size(); ++i)
                if (registry[i].number == line.number && EqualNoCase(registry[i].realPath, line.path)) shown[i] = true;
            Print(std::to_string(line.number) + "\t" + line.path +
                  (hooked ? "" : "\t(not hooked in the registry: the DLL registered itself again; run or the main "
                                 "window hooks it again)") +
                  "\n");
            any = true;
        }
    } else {
        Fail(listRead ? "\"" + session.settingsPath() + "\" has no module list" : error);
    }
    for (size_t i = 0; i < registry.size(); ++i) {
        if (shown[i]) continue;
        Print(std::to_string(registry[i].number) + "\t" + registry[i].realPath +
              "\t(hooked in the registry only, not in the module list)\n");
        any = true;
    }
    if (!any) Print("no hooked component DLLs\n");
    return hasList ? kOk : kBadInput;
}

void ReapplyHooks(Session& session) {
    std::string settings, error;
    if (!vx::ReadTextFile(session.settingsPath(), &settings, &error)) return;
    for (const vx::ModuleLine& line : vx::ModuleLines(settings)) {
        if (!line.active || !LooksLikeDllPath(line.path)) continue;
        std::vector<Session::ClassInfo> classes = session.ClassesOf(line.path);
        bool unhooked = false;
        for (const Session::ClassInfo& cls : classes) unhooked = unhooked || !vx::NamesStubCopy(cls.server.c_str());
        if (!unhooked) continue;
        if (CallSetHook(session, line.path, line.number))
            Fail("\"" + line.path + "\" had registered itself again: hook " + std::to_string(line.number) +
                 " re-applied");
        else
            Fail("\"" + line.path + "\" had registered itself again and could not be hooked again");
    }
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
