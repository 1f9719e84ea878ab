// The COM server plumbing: registration scripts, the diagnostic switch and
// the connection point's firing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "connectionpoint.h"
#include "diagnostics.h"
#include "eventids.h"
#include "raii.h"
#include "registryscript.h"
#include "textconv.h"

namespace {

const wchar_t kScript[] =
    L"HKCU\n"
    L"{\n"
    L"    NoRemove Software\n"
    L"    {\n"
    L"        NoRemove VexiloComkitTest\n"
    L"        {\n"
    L"            My.Class.1 = s 'It''s a class'\n"
    L"            {\n"
    L"                CLSID = s '{00000000-1111-2222-3333-444444444444}'\n"
    L"            }\n"
    L"            ForceRemove {00000000-1111-2222-3333-444444444444} = s 'Class'\n"
    L"            {\n"
    L"                Programmable\n"
    L"                InprocServer32 = s '%MODULE%'\n"
    L"                {\n"
    L"                    val ThreadingModel = s 'Apartment'\n"
    L"                    val Count = d '42'\n"
    L"                }\n"
    L"            }\n"
    L"        }\n"
    L"    }\n"
    L"}\n";

const wchar_t kBase[] = L"Software\\VexiloComkitTest";

std::wstring ReadString(const std::wstring& key, const wchar_t* name) {
    wchar_t buffer[512];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return buffer;
}

bool KeyExists(const std::wstring& key) {
    vx::unique_hkey opened;
    return RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

// Quoted text, replacements, value types and both modifiers, as they land in
// the registry. The servers' end-to-end tests find their classes by ProgID,
// and the scan engine's finds its ProgID gone after unregistration, and a
// second unregistration succeed.
TEST(RegistryScript, InstallReplacesForcedKeysAndRemovalKeepsNoRemoveKeys) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    const std::wstring clsid = std::wstring(kBase) + L"\\{00000000-1111-2222-3333-444444444444}";
    // A stale value of an earlier registration disappears with ForceRemove.
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (clsid + L"\\Old").c_str(), nullptr, REG_SZ, L"", sizeof(wchar_t)),
              ERROR_SUCCESS);

    std::vector<vxs::ScriptRoot> roots;
    std::wstring error;
    ASSERT_TRUE(vxs::ParseRegistryScript(kScript, {{L"MODULE", L"C:\\it's\\x.dll"}}, &roots, &error))
        << vx::Narrow(error.c_str());
    ASSERT_EQ(vxs::ApplyRegistryScript(roots, true), S_OK);
    EXPECT_FALSE(KeyExists(clsid + L"\\Old"));
    EXPECT_TRUE(KeyExists(clsid + L"\\Programmable"));
    EXPECT_EQ(ReadString(clsid + L"\\Programmable", nullptr), L"<missing>") << "a key without a value has none";
    EXPECT_EQ(ReadString(clsid, nullptr), L"Class");
    EXPECT_EQ(ReadString(clsid + L"\\InprocServer32", nullptr), L"C:\\it's\\x.dll");
    EXPECT_EQ(ReadString(clsid + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    DWORD count = 0, size = sizeof count;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, (clsid + L"\\InprocServer32").c_str(), L"Count", RRF_RT_REG_DWORD, nullptr,
                           &count, &size), ERROR_SUCCESS);
    EXPECT_EQ(count, 42u);
    EXPECT_EQ(ReadString(std::wstring(kBase) + L"\\My.Class.1", nullptr), L"It's a class");

    ASSERT_EQ(vxs::ApplyRegistryScript(roots, false), S_OK);
    EXPECT_TRUE(KeyExists(kBase));
    EXPECT_FALSE(KeyExists(clsid));
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    RegDeleteKeyW(HKEY_CURRENT_USER, kBase);
}

// A Y or y right after the question or one space on, on any line, and an N,
// switch the scan engine's two logs in its end-to-end banner test.
TEST(DiagnosticLog, SwitchAndEntryText) {
    EXPECT_FALSE(vxs::DiagnosticsRequested("Print full diagnostic ? [Y/N]:  Y"));
    EXPECT_FALSE(vxs::DiagnosticsRequested("Print full diagnostic ? [Y/N]:"));
    EXPECT_FALSE(vxs::DiagnosticsRequested("Print diagnostic ? [Y/N]:Y"));
    EXPECT_EQ(vxs::DiagnosticEntry("Ledra", "text"), "\r\nLedra text");
    EXPECT_EQ(vxs::DiagnosticEntry("Ledra", "\r\n\r\ntext\r\n"), "\r\n\r\n\r\nLedra text\r\n");
}

// A sink that records the DISPIDs it is called with, in a shared log.
class Sink final : public IDispatch {
public:
    Sink(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        log_->push_back(name_ + ":" + std::to_string(id) + ":" + std::to_string(lcid) + ":" +
                        std::to_string(flags) + ":" + std::to_string(params->cArgs) +
                        (IsEqualIID(riid, IID_NULL) ? "" : ":riid"));
        if (onInvoke) onInvoke();
        return E_FAIL;  // ignored by the source
    }
    ULONG refs = 1;
    std::function<void()> onInvoke;

private:
    std::vector<std::string>* log_;
    std::string name_;
};

// Counts the references the point passes to its container.
class Container final : public IConnectionPointContainer {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }
    ULONG refs = 1;
};

const IID kEvents = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(EventSource, FiresToTheSinksConnectedAtTheStartInConnectionOrder) {
    Container container;
    std::vector<std::string> log;
    Sink first(&log, "first"), second(&log, "second");
    {
        vxs::EventSource source(&container, kEvents);
        DWORD one = 0, two = 0;
        ASSERT_EQ(source.Advise(&first, &one), S_OK);
        ASSERT_EQ(source.Advise(&second, &two), S_OK);
        EXPECT_NE(one, two);
        // The first sink disconnects the second while the event runs: the
        // second still gets this event, not the next one.
        first.onInvoke = [&] { source.Unadvise(two); first.onInvoke = nullptr; };
        source.Fire(3);
        source.Fire(5);
        EXPECT_EQ(log, (std::vector<std::string>{"first:3:1024:1:0", "second:3:1024:1:0", "first:5:1024:1:0"}));
        EXPECT_EQ(source.Unadvise(two), CONNECT_E_NOCONNECTION);

        vx::com_ptr<IConnectionPoint> point;
        EXPECT_EQ(source.Find(IID_IDispatch, point.put()), CONNECT_E_NOCONNECTION);
        EXPECT_EQ(source.Find(kEvents, point.put()), S_OK);
        EXPECT_EQ(container.refs, 2u) << "the point holds its container's count";
        point.reset();
        EXPECT_EQ(container.refs, 1u);
        ASSERT_EQ(source.Unadvise(one), S_OK);
    }
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(second.refs, 1u);
}

}  // namespace

// Sources and sinks take the event ids from one header: each must be the id
// the server's type library gives the event's name. (The scan engine's
// progress and class events are told by name, from its registered library,
// by the end-to-end scan's sink.)
TEST(EventIds, AreTheIdsTheServersTypeLibrariesGive) {
    const struct {
        const char* library;
        const wchar_t* events;
        const wchar_t* name;
        DISPID id;
    } kEvents[] = {
        {VX_LEDRA_TLB, L"ITraceReaderEvents", L"StartOfProcess", vx::kStartOfProcess},
        {VX_LEDRA_TLB, L"ITraceReaderEvents", L"EndOfProcess", vx::kEndOfProcess},
        {VX_LEDRA_TLB, L"ITraceReaderEvents", L"TraceError", vx::kTraceError},
        {VX_LEDRA_TLB, L"ITraceReaderEvents", L"NoActiveProcess", vx::kNoActiveProcess},
        {VX_POLLUX_TLB, L"_IScannerEvents", L"InterfName", vx::kInterfName},
        {VX_POLLUX_TLB, L"_IScannerEvents", L"CompName", vx::kCompName},
    };
    for (const auto& e : kEvents) {
        SCOPED_TRACE(vx::Narrow(e.name));
        vx::com_ptr<ITypeLib> library;
        ASSERT_EQ(::LoadTypeLibEx(vx::Wide(e.library).c_str(), REGKIND_NONE, library.put()), S_OK) << e.library;
        vx::com_ptr<ITypeInfo> events;
        for (UINT i = 0; i < library->GetTypeInfoCount() && !events; ++i) {
            vx::unique_bstr name;
            if (SUCCEEDED(library->GetDocumentation(static_cast<INT>(i), name.put(), nullptr, nullptr, nullptr)) &&
                vx::Narrow(name.get()) == vx::Narrow(e.events))
                library->GetTypeInfo(i, events.put());
        }
        ASSERT_TRUE(events) << "no " << vx::Narrow(e.events);
        LPOLESTR name = const_cast<LPOLESTR>(e.name);
        MEMBERID id = MEMBERID_NIL;
        ASSERT_EQ(events->GetIDsOfNames(&name, 1, &id), S_OK);
        EXPECT_EQ(id, e.id);
    }
}
