// The trace reader as its clients see it: registered in the prefix, created
// through COM, and driven by vxtrace, a real client of it.
#include <gtest/gtest.h>

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <thread>

#include "readertest.h"

namespace e2e {
namespace {

// A record of the trace file as vxtrace prints it.
std::string Printed(const std::string& record) { return RecordLines(record, "\n"); }

// The threads of this process.
int ThreadCount() {
    vx::unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    return count;
}

// Late bound, as a script calls it: each member by the id its name gives,
// the members added out of slot order among them. Then the type-library
// view, and no thread left behind by a reader without hooks. (Setup's test
// unregisters the reader, as its uninstall does, with regsvr32.)
TEST_F(ReaderTest, RegistrationLateBoundCallsAndTheLibraryView) {
    EXPECT_EQ(RegString("CLSID\\{45794C4E-2030-11D3-8BA2-00104B66DC5A}\\InprocServer32"), inst.folder + "Ledra.dll");

    Apartment apartment;
    const int threads = ThreadCount();
    {
        vx::com_ptr<IDispatch> reader;
        CLSID clsid;
        ASSERT_EQ(::CLSIDFromProgID(L"Ledra.TraceReader", &clsid), S_OK);
        ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reader.put_void()), S_OK);
        auto call = [&](const wchar_t* member, WORD flags, VARIANT* args, UINT count, VARIANT* result) {
            DISPID id = DISPID_UNKNOWN;
            LPOLESTR name = const_cast<LPOLESTR>(member);
            EXPECT_EQ(reader->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK) << vx::Narrow(member);
            DISPPARAMS params = {args, nullptr, count, 0};
            return reader->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
        };
        vx::unique_variant mode, hwnd, amount, viewed, missing;
        ASSERT_EQ(call(L"Mode", DISPATCH_PROPERTYGET, nullptr, 0, &mode), S_OK);
        EXPECT_EQ(mode.vt, VT_I4);
        EXPECT_EQ(mode.lVal, 3) << "not initialized";
        ASSERT_EQ(call(L"StatHWND", DISPATCH_PROPERTYGET, nullptr, 0, &hwnd), S_OK);
        EXPECT_EQ(hwnd.lVal, 0);
        ASSERT_EQ(call(L"GetRecordAmountInTraceFile", DISPATCH_METHOD, nullptr, 0, &amount), S_OK);
        EXPECT_EQ(amount.vt, VT_I4);
        EXPECT_EQ(amount.lVal, 0);
        ASSERT_EQ(call(L"EnableGettingRecordsUntillNewProcess", DISPATCH_METHOD, nullptr, 0, nullptr), S_OK);
        missing.vt = VT_BSTR;
        missing.bstrVal = ::SysAllocString(L"C:\\no\\such.dll");
        ASSERT_EQ(call(L"ViewComponent", DISPATCH_METHOD, &missing, 1, &viewed), S_OK);
        EXPECT_EQ(viewed.vt, VT_BOOL);
        EXPECT_EQ(viewed.boolVal, VARIANT_FALSE);

        vx::com_ptr<ITraceReader> typed;
        ASSERT_EQ(reader->QueryInterface(IID_ITraceReader, typed.put_void()), S_OK);
        vx::unique_variant hooked;
        ASSERT_EQ(typed->GetHookedDllList(&hooked), S_OK);
        EXPECT_EQ(hooked.vt, VT_EMPTY) << "nothing hooked";
        vx::unique_bstr path(vx::NewBstr(sample)), plainPath(vx::NewBstr(PlainPath()));
        VARIANT_BOOL answer = VARIANT_FALSE;
        ASSERT_EQ(typed->CheckComponent(path.get(), &answer), S_OK);
        EXPECT_EQ(answer, VARIANT_TRUE);
        ASSERT_EQ(typed->CheckComponent(plainPath.get(), &answer), S_OK);
        EXPECT_EQ(answer, VARIANT_FALSE) << "no type library";
        typed->SetHook(missing.bstrVal, 1, &answer);
        EXPECT_EQ(answer, VARIANT_FALSE);
        typed->put_Mode(2);
        NewRecords(typed.get());
        typed->IsTerminationCompleted(&answer);
        EXPECT_EQ(answer, VARIANT_TRUE) << "no watcher without hooks";

        // The view is modal: a second thread reads it and closes it.
        std::wstring title;
        LRESULT items = 0;
        std::vector<std::wstring> texts;
        std::thread closer([&] {
            HWND window = nullptr;
            for (int i = 0; i < 200 && !window; ++i, ::Sleep(50)) window = ::FindWindowW(L"VexiloTypeLibraryView", nullptr);
            if (!window) return;
            wchar_t text[512];
            ::GetWindowTextW(window, text, 512);
            title = text;
            HWND tree = ::FindWindowExW(window, nullptr, WC_TREEVIEWW, nullptr);
            Screenshot(window, "viewer-window.png");
            items = ::SendMessageW(tree, TVM_GETCOUNT, 0, 0);
            for (HTREEITEM item = TreeView_GetRoot(tree); item; item = TreeView_GetNextSibling(tree, item)) {
                TVITEMW tv = {};
                tv.mask = TVIF_TEXT;
                tv.hItem = item;
                tv.pszText = text;
                tv.cchTextMax = 512;
                ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
                texts.push_back(text);
            }
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        });
        ASSERT_EQ(typed->ViewComponent(path.get(), &answer), S_OK);
        closer.join();
        EXPECT_EQ(answer, VARIANT_TRUE);
        EXPECT_EQ(title.rfind(L"Type library: library VxSampleLib", 0), 0u) << vx::Narrow(title.c_str());
        EXPECT_GT(items, 40);
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::wstring& t) { return t.rfind(L"interface ICalc  {", 0) == 0; }))
            << "ICalc among the library's types";
    }
    EXPECT_EQ(ThreadCount(), threads);
}

TEST_F(ReaderTest, VxtraceHooksRunsDumpsAndUnhooks) {
    ProcessResult hook = Vxtrace("hook " + Quoted(sample));
    ASSERT_EQ(hook.exitCode, 0u) << hook.output;
    EXPECT_EQ(hook.output, "\"" + sample + "\" hooked as number 1 (Zor#_01.dll)\n");
    EXPECT_EQ(Vxtrace("list").output, "1\t" + sample + "\n") << "the module list as the file holds it";
    // The reader's class list: each class by its id and name, on the stub that stands for the DLL.
    ProcessResult classes = Vxtrace("classes " + Quoted(sample));
    EXPECT_NE(classes.output.find("{80441EE8-5922-4360-A028-72C8C848D8F3}\tVxSample Calc Class\t(hooked: " + inst.folder +
                                  "Zor#_01.dll)\n"),
              std::string::npos) << classes.output;

    ProcessResult run = Vxtrace("run -- " + ClientCommand("basic"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("Calc.Add(2,3) hr=0x00000000 -> 5\n"), std::string::npos) << "the program's own output";
    // Every record of the trace file, whole and in order.
    std::vector<std::string> records = SplitRecords(Distilled());
    ASSERT_GT(records.size(), 10u);
    size_t at = 0;
    for (const std::string& record : records) {
        size_t found = run.output.find(Printed(record), at);
        ASSERT_NE(found, std::string::npos) << Printed(record) << "\n--- in ---\n" << run.output;
        at = found;
    }

    // The program's exit code comes back.
    ProcessResult direct = RunProgram(ClientCommand("no-such-scenario"));
    ASSERT_NE(direct.exitCode, 0u);
    EXPECT_EQ(Vxtrace("run -- " + ClientCommand("no-such-scenario")).exitCode, direct.exitCode);

    ProcessResult dump = Vxtrace("dump " + Quoted(inst.folder + "TraceDistilled.txt"));
    ASSERT_EQ(dump.exitCode, 0u) << dump.output;
    std::string all;
    for (const std::string& record : records) all += Printed(record) + "\n";
    EXPECT_EQ(dump.output, all);

    ProcessResult unhook = Vxtrace("unhook " + Quoted(sample));
    ASSERT_EQ(unhook.exitCode, 0u) << unhook.output;
    EXPECT_EQ(vx::ModulePathOfHook(Settings(), 1), sample);
    EXPECT_TRUE(vx::ReadModuleList(Settings()).empty());
    EXPECT_EQ(Vxtrace("list").output, "no hooked component DLLs\n");
    // Hooking again reuses the freed number.
    ASSERT_EQ(Vxtrace("hook " + Quoted(sample)).exitCode, 0u);
    EXPECT_EQ(vx::ReadModuleList(Settings()), std::vector<std::string>{sample});
    EXPECT_EQ(Vxtrace("unhook " + Quoted(sample)).exitCode, 0u);
}

TEST_F(ReaderTest, VxtraceRefusesBadInputWithAMessage) {
    // A control file answered with a lower-case y: one banner per load.
    WriteFileText("C:\\LedraDiagCtrl.txt", "Print full diagnostic ? [Y/N]: y\r\n");
    ASSERT_EQ(Vxtrace("list").exitCode, 0u);
    ::DeleteFileA("C:\\LedraDiagCtrl.txt");
    std::string log = ReadFileText("C:\\LedraFull.txt");
    EXPECT_EQ(log.find("\r\n\r\n========= Start Ledra at "), 0u) << log;
    EXPECT_EQ(log.find("========= Start", 10), std::string::npos) << "exactly one banner";
    ASSERT_EQ(Vxtrace("list").exitCode, 0u);
    EXPECT_FALSE(FileExists("C:\\LedraFull.txt")) << "without the control file the log is gone and stays so";

    struct Case {
        std::string arguments;
        DWORD code;
        std::string message;
    } cases[] = {
        {"hook C:\\no\\such.dll", 2, "vxtrace: DLL not found: \"C:\\no\\such.dll\"\n"},
        {"hook " + Quoted(PlainPath()), 2,
         "vxtrace: The component DLL or its type library could not be loaded: \"" + PlainPath() + "\"\n"},
        {"hook " + Quoted(inst.folder + "Korbin.dll"), 2,
         "vxtrace: no class is registered with \"" + inst.folder +
             "Korbin.dll\" as its in-process server (register it first)\n"},
        {"unhook " + Quoted(sample), 2, "vxtrace: \"" + sample + "\" is not hooked\n"},
        {"dump C:\\no\\trace.txt", 2, "vxtrace: cannot read trace file \"C:\\no\\trace.txt\"\n"},
        {"run", 1, ""},
        {"frobnicate", 1, ""},
    };
    for (const Case& c : cases) {
        ProcessResult result = Vxtrace(c.arguments);
        EXPECT_EQ(result.exitCode, c.code) << c.arguments << "\n" << result.output;
        if (!c.message.empty()) EXPECT_EQ(result.output, c.message) << c.arguments;
        else EXPECT_NE(result.output.find("usage: vxtrace"), std::string::npos) << c.arguments;
    }
    EXPECT_TRUE(vx::ReadModuleList(Settings()).empty()) << "nothing was hooked";
}

}  // namespace
}  // namespace e2e
