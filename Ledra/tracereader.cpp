// ITraceReader: each member turns its arguments into the engine's terms and
// its results into automation types. Every member returns S_OK; results
// travel in the out-parameters.
#include "tracereader.h"

#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "comserver.h"
#include "diagnostics.h"
#include "eventids.h"
#include "guard.h"
#include "eventobject.h"
#include "hookpairs.h"
#include "hooks.h"
#include "intake.h"
#include "raii.h"
#include "recordtext.h"
#include "textconv.h"
#include "viewer.h"

// The clients read the busy answer through their one reader of hook pairs.
static_assert(vx::kTraceMapBusy == TRACE_MAP_BUSY);

namespace ledra {
namespace {

using vx::Narrow;

BSTR Bstr(const std::string& text) { return vx::NewBstr(text); }
BSTR Bstr(const std::optional<std::string>& text) { return text ? vx::NewBstr(*text) : nullptr; }

// A one-dimensional array with lower bound 0 in a VARIANT.
SAFEARRAY* MakeArray(VARTYPE type, ULONG count) {
    SAFEARRAYBOUND bound = {count, 0};
    return ::SafeArrayCreate(type, 1, &bound);
}

void PutStrings(const std::vector<std::string>& strings, VARIANT* out) {
    SAFEARRAY* array = MakeArray(VT_BSTR, static_cast<ULONG>(strings.size()));
    if (!array) return;
    for (LONG i = 0; i < static_cast<LONG>(strings.size()); ++i) {
        vx::unique_bstr text(Bstr(strings[static_cast<size_t>(i)]));
        ::SafeArrayPutElement(array, &i, text.get());
    }
    out->vt = VT_ARRAY | VT_BSTR;
    out->parray = array;
}

using vx::kEndOfProcess;
using vx::kNoActiveProcess;
using vx::kStartOfProcess;

// The trace copy of this reader object: one per reader, so that no reader
// deletes or appends to another's ("MyCopyOfTrace.<process>.<object>.txt").
std::string CopyFileName() {
    static volatile LONG objects = 0;
    char text[64];
    std::snprintf(text, sizeof text, "MyCopyOfTrace.%lu.%ld.txt", ::GetCurrentProcessId(),
                  static_cast<long>(::InterlockedIncrement(&objects)));
    return text;
}

class TraceReader final : public vxs::EventObject<ITraceReader, &IID_ITraceReader, &DIID_ITraceReaderEvents>,
                          private IntakeEvents {
public:
    TraceReader() : intake_(&text_, this), records_(&text_) {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    ~TraceReader() override {
        intake_.CloseMap();
        intake_.DeleteCopy();
    }

    // Record intake
    HRESULT STDMETHODCALLTYPE GetMapFileState(long* result) override {
        vx::unique_handle mapping(::OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, vx::kTraceMapName));
        *result = mapping ? 2 : 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Mode(long* value) override {
        *value = intake_.mode();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Mode(long value) override {
        records_.MarkWindowEmpty();
        intake_.SetMode(value);
        intake_.TakeWindowReset();
        UpdateSource();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_StatHWND(long* value) override {
        *value = intake_.statHwnd();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_StatHWND(long value) override {
        intake_.SetStatHwnd(value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNewRecords(VARIANT* records, long* realLastRecord, long* lockedOut,
                                            long* count) override {
        return vxs::Guarded([&]() -> HRESULT {
            NewRecords got = intake_.GetNewRecords();
            if (intake_.TakeWindowReset()) records_.MarkWindowEmpty();
            *count = got.count;
            *realLastRecord = got.realLastRecord;
            *lockedOut = got.lockedOut;
            if (got.arrayMade) {
                // An [out] VARIANT: written, not cleared.
                ULONG bytes = static_cast<ULONG>(got.descriptors.size() * sizeof(RecordDescriptor));
                SAFEARRAY* array = MakeArray(VT_UI1, bytes);
                if (array) {
                    vx::safearray_access<char> data(array);
                    if (data.data() && bytes) std::memcpy(data.data(), got.descriptors.data(), bytes);
                    records->vt = VT_ARRAY | VT_UI1;
                    records->parray = array;
                }
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetNumbersOfHookedAndLoadedDLLs(VARIANT* pairs, long* count) override {
        return vxs::Guarded([&]() -> HRESULT {
            *count = 0;
            std::vector<std::pair<long, long>> couples;
            if (!intake_.HookedAndLoaded(&couples)) {
                *count = TRACE_MAP_BUSY;
                return S_OK;
            }
            if (couples.empty()) return S_OK;
            SAFEARRAY* array = MakeArray(VT_I4, static_cast<ULONG>(couples.size() * 2));
            if (!array) return S_OK;
            if (vx::safearray_access<LONG> data(array); data.data()) {
                for (size_t i = 0; i < couples.size(); ++i) {
                    data.data()[2 * i] = couples[i].first;
                    data.data()[2 * i + 1] = couples[i].second;
                }
            }
            pairs->vt = VT_ARRAY | VT_I4;
            pairs->parray = array;
            *count = static_cast<long>(couples.size());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE DisableGettingRecordsUntillNewProcess() override {
        intake_.DisableUntilNewProcess();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableGettingRecordsUntillNewProcess() override {
        intake_.EnableUntilNewProcess();
        return S_OK;
    }

    // Record text
    HRESULT STDMETHODCALLTYPE get_StaticTraceFilePath(BSTR* path) override {
        return vxs::Guarded([&]() -> HRESULT {
            *path = ::SysAllocString(staticPath_.c_str());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_StaticTraceFilePath(BSTR path) override {
        return vxs::Guarded([&]() -> HRESULT {
            staticPath_ = path ? path : L"";
            intake_.SetStaticPath(Narrow(path));
            UpdateSource();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetRecordAmountInTraceFile(long* amount) override {
        return vxs::Guarded([&]() -> HRESULT {
            *amount = RecordText::RecordAmount(intake_.staticPath());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetFirstRecordString(long recPtr, BSTR* text) override {
        return vxs::Guarded([&]() -> HRESULT {
            *text = Bstr(records_.FirstLine(static_cast<uint32_t>(recPtr)));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetNextRecordString(BSTR* text) override {
        return vxs::Guarded([&]() -> HRESULT {
            *text = Bstr(records_.NextLine());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetMethodName(long recPtr, BSTR* name) override {
        return vxs::Guarded([&]() -> HRESULT {
            *name = Bstr(records_.MethodName(static_cast<uint32_t>(recPtr), intake_.readPosition()));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetClassName(long recPtr, long* instance, BSTR* name) override {
        return vxs::Guarded([&]() -> HRESULT {
            *name = Bstr(records_.ClassName(static_cast<uint32_t>(recPtr), intake_.readPosition(), instance));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetDllShortName(long recPtr, BSTR* name) override {
        return vxs::Guarded([&]() -> HRESULT {
            *name = Bstr(records_.DllShortName(static_cast<uint32_t>(recPtr), intake_.readPosition()));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetProcessCommandLine(long recPtr, BSTR* line) override {
        return vxs::Guarded([&]() -> HRESULT {
            *line = Bstr(records_.ProcessCommandLine(static_cast<uint32_t>(recPtr), intake_.readPosition()));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Diagn(BSTR) override { return S_OK; }

    // Hook management
    HRESULT STDMETHODCALLTYPE get_InstallationPath(BSTR* path) override {
        return vxs::Guarded([&]() -> HRESULT {
            *path = ::SysAllocString(installationPath_.c_str());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_InstallationPath(BSTR path) override {
        return vxs::Guarded([&]() -> HRESULT {
            installationPath_ = path ? path : L"";
            intake_.SetCopyPath(Narrow(path) + copyName_);
            UpdateSource();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE SetHook(BSTR path, long number, VARIANT_BOOL* result) override {
        return vxs::Guarded([&]() -> HRESULT {
            bool ok = HookManager::Instance().SetHook(static_cast<ITraceReader*>(this), Narrow(installationPath_.data()),
                                                      Narrow(path), number);
            *result = ok ? VARIANT_TRUE : VARIANT_FALSE;
            ModuleLog().Write(ok ? "SetHook: hooked" : "SetHook: nothing hooked");
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE RemoveHook(BSTR path, VARIANT_BOOL* result) override {
        return vxs::Guarded([&]() -> HRESULT {
            *result = HookManager::Instance().RemoveHook(Narrow(path)) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE IsTerminationCompleted(VARIANT_BOOL* flag) override {
        *flag = HookManager::Instance().IsTerminationCompleted() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ResetScanComp(long mode) override {
        cursor_.Reset(mode);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCompNext(VARIANT* result) override {
        return vxs::Guarded([&]() -> HRESULT {
            ::VariantInit(result);
            ClassEntry cls;
            if (!cursor_.Next(&cls)) return S_OK;
            std::string server = cls.hasServer ? TrimServerPath(cls.serverPath) : std::string();
            PutStrings({cls.clsid, cls.name, server, cls.hasServer ? vx::FileNameOf(server) : std::string(),
                        cls.hasRealPath ? cls.realPath : std::string()},
                       result);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetHookedDllList(VARIANT* result) override {
        return vxs::Guarded([&]() -> HRESULT {
            ::VariantInit(result);
            cursor_.Reset(1);
            std::vector<std::string> paths;
            ClassEntry cls;
            while (cursor_.Next(&cls))
                if (cls.hasRealPath && paths.size() < 100) paths.push_back(cls.realPath);
            if (!paths.empty()) PutStrings(paths, result);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE CheckComponent(BSTR path, VARIANT_BOOL* result) override {
        vx::com_ptr<ITypeLib> library;
        *result = path && SUCCEEDED(::LoadTypeLibEx(path, REGKIND_NONE, library.put())) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ViewComponent(BSTR path, VARIANT_BOOL* result) override {
        return vxs::Guarded([&] { return View(path, result); });
    }

private:
    HRESULT View(BSTR path, VARIANT_BOOL* result);
    void StartOfProcess() override { events_.Fire(kStartOfProcess); }
    void EndOfProcess() override { events_.Fire(kEndOfProcess); }
    void NoActiveProcess() override { events_.Fire(kNoActiveProcess); }

    void UpdateSource() {
        TextSource source;
        if (intake_.mode() == kModeDynamic) source = {intake_.copyPath(), true};
        else if (intake_.mode() == kModeStatic) source = {intake_.staticPath(), false};
        records_.SetSource(source);
    }

    TextBuffer text_;
    RecordIntake intake_;
    RecordText records_;
    const std::string copyName_ = CopyFileName();
    ClassScanCursor cursor_;
    std::wstring staticPath_;
    std::wstring installationPath_;
};

// The system's viewer class and its viewer interface.
const CLSID kSystemViewer = {0x57EFBF49, 0x4A8B, 0x11CE, {0x87, 0x0B, 0x08, 0x00, 0x36, 0x8D, 0x23, 0x02}};
const IID kSystemViewerInterface = {0xFC37E5BA, 0x4A8E, 0x11CE, {0x87, 0x0B, 0x08, 0x00, 0x36, 0x8D, 0x23, 0x02}};

struct SystemViewer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE View(HWND owner, REFIID riid, IUnknown* object) = 0;
};

HRESULT TraceReader::View(BSTR path, VARIANT_BOOL* result) {
    *result = VARIANT_FALSE;
    vx::com_ptr<ITypeLib> library;
    if (!path || FAILED(::LoadTypeLibEx(path, REGKIND_NONE, library.put()))) return S_OK;
    vx::com_ptr<SystemViewer> viewer;
    if (SUCCEEDED(::CoCreateInstance(kSystemViewer, nullptr, CLSCTX_INPROC_SERVER, kSystemViewerInterface,
                                     viewer.put_void()))) {
        *result = SUCCEEDED(viewer->View(::GetActiveWindow(), IID_ITypeLib, library.get())) ? VARIANT_TRUE
                                                                                            : VARIANT_FALSE;
        return S_OK;
    }
    // Without the system's viewer (not every system has it), our own.
    *result = ShowTypeLibrary(::GetActiveWindow(), library.get()) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace

vxs::DiagnosticLog& ModuleLog() {
    static vxs::DiagnosticLog log;
    return log;
}

HRESULT CreateTraceReader(REFIID riid, void** ppv) { return vxs::create_object<TraceReader>(riid, ppv); }

void ModuleDetach(bool processExit) {
    ReleaseOpenMaps(processExit);
    // At process exit the system takes back keys and events itself.
    if (!processExit) HookManager::Instance().Clear();
}

}  // namespace ledra
