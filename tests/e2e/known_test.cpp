// Standard interfaces that no library of the component describes, decoded
// from the kernel's own library of them: the sample's Widget and the
// platform's script engine.
#include "e2e.h"

using namespace e2e;

namespace {

const std::string T = "               ";  // a parameter line's indentation
const std::string kDone = T + "HRESULT = 0 (0h)\r\n";
const std::string kWidget = "Class: VxSample Widget Class (instance# 1)\r\n";
const std::string kPersist = kWidget + "Interface: IPersistStreamInit (custom)\r\n";
const std::string kSited = kWidget + "Interface: IObjectWithSite (custom)\r\n";
const std::string kEvents = kWidget + "Interface: IConnectionPointContainer (custom)\r\n";
const std::string kScript = "Class: VB Script Language (instance# 1)\r\nInterface: IActiveScript (custom)\r\n";

std::string Method(const std::string& name) { return "Method: VT_HRESULT " + name + " ("; }

// The sample hooked (as number 1) for the Widget.
class KnownTest : public TraceTest {};

}  // namespace

// The Widget's calls decoded, the client's output as unhooked; then, with a
// library of standard interfaces that is missing or damaged, the Widget's
// interfaces are named (the registry knows them) but not traced, the client
// runs as before, and the full trace's banner says why, once per process.
TEST_F(KnownTest, WidgetCallsAreDecodedAndTheClientSeesNoDifferenceWithTheLibraryOrWithout) {
    // IUnknown's calls (the connection point's AddRef inside FindConnectionPoint) stay out.
    inst.main.collectIUnknown = false;
    Rewrite();
    const ProcessResult unhooked = RunUnhooked(ClientCommand("known"));
    ASSERT_EQ(unhooked.exitCode, 0u) << unhooked.output;
    ProcessResult hooked = RunProgram(ClientCommand("known"));
    ASSERT_EQ(hooked.exitCode, 0u) << hooked.output;
    EXPECT_EQ(hooked.output, unhooked.output);
    std::vector<std::string> records = SplitRecords(Distilled());
    ExpectNumberedOneByOne(records);
    EXPECT_EQ(CheckCallPairing(records), "");

    // In the client's order; each entry's exit follows it at once.
    const std::string riid = T + "[in]  riid  ptr=#h  *ptr = ";
    const std::string pointPlace = T + "[out]  ppCP  (VT_POINTER* VT_USERDEFINED) );\r\n";
    const std::string stream = T + "[in]  pstm  ptr=#h  <IStream*>  (VT_POINTER VT_USERDEFINED)";
    const struct {
        std::string enter, exit;
    } calls[] = {
        // The event interface has no name: its id stands.
        {kEvents + Method("FindConnectionPoint") + "\r\n" + riid +
             "{0F3C7A1E-64B2-4E59-8D07-B1C2A9E4F536}  <guid*>  (VT_POINTER VT_USERDEFINED),\r\n" + pointPlace,
         T + "[out]  ppCP  ptr=#h  *ptr=#h  <IConnectionPoint**>  (VT_POINTER* VT_USERDEFINED)\r\n" + kDone},
        {kEvents + Method("FindConnectionPoint") + "\r\n" + riid + "{IDispatch}  <guid*>  (VT_POINTER VT_USERDEFINED),\r\n" +
             pointPlace,
         T + "[out]  ppCP=[undefined]  (VT_POINTER* VT_USERDEFINED)\r\n" + T + "HRESULT = -2147220992 (80040200h)\r\n"},
        {kPersist + Method("GetClassID") + "\r\n" + T + "[out]  pClassID  (VT_POINTER VT_USERDEFINED) );\r\n",
         T + "[out]  pClassID  ptr=#h  *ptr = {VxSample Widget Class}  <guid*>  (VT_POINTER VT_USERDEFINED)\r\n" +
             kDone},
        {kPersist + Method("IsDirty") + " );\r\n", T + "HRESULT = 1 (1h)\r\n"},
        {kPersist + Method("InitNew") + " );\r\n", kDone},
        {kPersist + Method("IsDirty") + " );\r\n", kDone},
        {kPersist + Method("GetSizeMax") + "\r\n" + T + "[out]  pcbSize  (VT_POINTER VT_USERDEFINED) );\r\n",
         T + "[out]  pcbSize  ptr=#h  <_ULARGE_INTEGER*>\r\n" + std::string(21, ' ') + "{ struct's members\r\n" +
             std::string(24, ' ') + "QuadPart=4 (4h)  (VT_UI8)\r\n" + std::string(21, ' ') +
             "}  (VT_POINTER VT_USERDEFINED)\r\n" + kDone},
        {kPersist + Method("Save") + "\r\n" + stream + ",\r\n" + T + "[in]  fClearDirty=1 (1h)  (VT_I4) );\r\n", kDone},
        {kPersist + Method("Load") + "\r\n" + stream + " );\r\n", kDone},
        {kPersist + Method("Load") + "\r\n" + stream + " );\r\n", T + "HRESULT = -2147287010 (8003001eh)\r\n"},
        {kSited + Method("GetSite") + "\r\n" + riid + "{IDispatch}  <guid*>  (VT_POINTER VT_USERDEFINED),\r\n" +
             T + "[out]  ppvSite  (VT_POINTER* VT_VOID) );\r\n",
         T + "[out]  ppvSite  ptr=#h  *ptr=#h  (VT_POINTER* VT_VOID)\r\n" + kDone},
        {kSited + Method("SetSite") + "\r\n" + T + "[in]  pUnkSite=0h  (VT_UNKNOWN) );\r\n", kDone},
        {kWidget + "Interface: IProvideClassInfo (custom)\r\n" + Method("GetClassInfo") + "\r\n" + T +
             "[out]  ppti  (VT_POINTER* VT_USERDEFINED) );\r\n",
         T + "[out]  ppti  ptr=#h  *ptr=#h  <ITypeInfo**>  (VT_POINTER* VT_USERDEFINED)\r\n" + kDone},
    };
    CallChecker checker(Calls(records));
    for (const auto& c : calls) checker.Expect(c.enter, c.exit);

    const std::string library = inst.folder + "VxKnown.tlb";
    const std::string whole = ReadFileText(library);
    ASSERT_GT(whole.size(), 4096u);
    const std::string notice = "Library of standard interfaces " + library + " is missing or damaged";
    const struct {
        const char* name;
        const char* bytes;  // nullptr: no file
        size_t size;
    } cases[] = {
        {"missing", nullptr, 0},
        {"not a type library", "this is not a type library, only text in its place", 51},
        // Its offsets point past its end: the platform's loader would fault on it.
        {"cut after its header", whole.data(), 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        vxinstall::ClearTraceFiles(inst.folder);
        ::DeleteFileA(library.c_str());
        if (c.bytes) WriteFileText(library, std::string(c.bytes, c.size));
        ProcessResult hooked = RunProgram(ClientCommand("known"));
        ASSERT_EQ(hooked.exitCode, 0u) << hooked.output;
        EXPECT_EQ(hooked.output, unhooked.output);
        const std::string text = Distilled();
        EXPECT_EQ(CheckCallPairing(SplitRecords(text)), "");
        EXPECT_EQ(text.find("Method: VT_HRESULT InitNew"), std::string::npos) << text;
        EXPECT_NE(text.find("          IPersistStreamInit  (Type library for interface was NOT found, it was NOT intercepted)"),
                  std::string::npos) << text;
        const std::string full = Full();
        const size_t at = full.find(notice);
        ASSERT_NE(at, std::string::npos) << full.substr(0, 600);
        EXPECT_EQ(full.find(notice, at + 1), std::string::npos) << "said twice";
    }
}

// The platform's VBScript engine, hooked while the platform's script host runs
// a script: the host's calls that run it are decoded from the known library.
TEST_F(KnownTest, ScriptEngineCallsOfTheScriptHostAreDecoded) {
    ProcessResult unhooked = RunProgram(ScriptCommand("known.vbs"));
    ASSERT_EQ(unhooked.exitCode, 0u) << unhooked.output;
    // Hooked as number 2 beside the sample for one run, registered as its own again after it.
    const std::string engine = "C:\\windows\\system32\\vbscript.dll";
    inst.main.modules = {sample, engine};
    Rewrite();
    std::string error;
    EXPECT_TRUE(vxinstall::HookComponent(inst.folder, 2, engine, &error)) << error;
    ProcessResult hooked = RunProgram(ScriptCommand("known.vbs"));
    EXPECT_TRUE(vxinstall::RegisterComponent(engine, false, &error)) << error;
    ASSERT_EQ(hooked.exitCode, 0u) << hooked.output;
    EXPECT_EQ(hooked.output, unhooked.output);
    EXPECT_NE(hooked.output.find("Hello from VBScript"), std::string::npos) << hooked.output;
    std::vector<std::string> records = SplitRecords(Distilled());
    EXPECT_EQ(CheckCallPairing(records), "");
    // The parser of the process's own pointer width, obtained through
    // QueryInterface and followed; the script's text as its first parameter.
    const std::string parse = "Class: VB Script Language (instance# 1)\r\nInterface: IActiveScriptParse" +
                              std::string(sizeof(void*) == 8 ? "64" : "32") + " (custom)\r\n";
    CallChecker checker(Calls(records));
    checker.Expect(kScript + Method("SetScriptSite") + "\r\n" + T +
                       "[in]  pass  ptr=#h  <IActiveScriptSite*>  (VT_POINTER VT_USERDEFINED) );\r\n",
                   kDone);
    const std::string parsed = checker.Enter(
        parse + Method("ParseScriptText") + "\r\n" + T +
            "[in]  pstrCode=\"WScript.Echo \"Hello from VBScript\"\x01\x02' Run with its engine h.....\"  (VT_LPWSTR),\r\n",
        true);
    EXPECT_NE(parsed.find(kDone), std::string::npos) << parsed;
    checker.Expect(kScript + Method("SetScriptState") + "\r\n" + T +
                       "[in]  ss=SCRIPTSTATE_STARTED=1 (1h)  (Enumeration <tagSCRIPTSTATE> of VT_I4)  (VT_USERDEFINED) );\r\n",
                   kDone);
    checker.Expect(kScript + Method("Close") + " );\r\n", kDone);
}
