// Calls intercepted: a process ending in the middle of its calls, tables that
// outlive the hook, the switches of one run, decoded values, and interfaces
// named without a type library.
#include "describe.h"
#include "e2e.h"

using namespace e2e;

TEST_F(TraceTest, ProcessEndingMidCallKeepsClientAndTraceWhole) {
    DistilledOnly();
    for (int run = 0; run < Repeats(2, 10); ++run) {
        vxinstall::ClearTraceFiles(inst.folder);
        HeldMap map;
        ProcessResult result = RunProgram(ClientCommand("torture"));
        ASSERT_EQ(result.exitCode, 0u) << result.output;
        EXPECT_NE(result.output.find("torture: wrong results=0"), std::string::npos) << result.output;
        // A thread ended in the middle of writing leaves its record without
        // the end mark; every record before it is whole.
        std::string text = Distilled();
        bool cut = !text.empty() && text.back() != '\x01';
        std::vector<std::string> records = SplitRecords(cut ? text + '\x01' : text);
        ASSERT_GT(records.size(), 10u) << "run " << run << ", " << text.size() << " bytes: " << text.substr(0, 300)
                                       << "\nextra file: " << ReadFileText(inst.folder + "ExtraFile.txt").substr(0, 300)
                                       << "\nlive processes " << map->liveProcesses << ", records " << map->recordCounter;
        ExpectNumberedOneByOne(records);
        if (cut) records.pop_back();
        EXPECT_EQ(Count(RecordKinds(records), "?"), 0);
        EXPECT_GE(Count(RecordKinds(records), "CREATE"), 2) << "the shared object and the churning ones";
        // A component still loaded at the end: the final report closes the
        // trace, unless a thread was ended inside the kernel (then nothing
        // more is written, the report neither).
        std::vector<std::string> kinds = RecordKinds(records);
        const int reports = Count(kinds, "REPORT");
        EXPECT_LE(reports, 1);
        if (reports == 1 && !cut) { EXPECT_EQ(LastKinds(kinds, 2), "REPORT END "); }
    }
}

TEST_F(TraceTest, TablesHoldTheirOwnMethodsWhenTheComponentOutlivesTheHook) {
    ProcessResult run = RunProgram(ClientCommand("keep"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_NE(run.output.find("table patched while in use: yes"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("table as before after COM let go: yes"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("direct Calc.Add(1,2) hr=0x00000000 -> 3"), std::string::npos) << run.output;
    // The object made directly, after COM let go, is not traced.
    std::vector<std::string> kinds = RecordKinds(SplitRecords(Distilled()));
    EXPECT_EQ(Count(kinds, "CREATE"), 1);
    EXPECT_EQ(Count(kinds, "DESTROY"), 1);
}

// Four switches of one run: the hidden IUnknown calls, the report's counters,
// and every supported interface the structure file lists found and hooked.
TEST_F(TraceTest, HiddenIUnknownCallsCountersAndInterfacesFoundFromTheStructureFile) {
    inst.main.collectIUnknown = false;
    inst.advanced.specificInfo = true;
    inst.advanced.findAllInterfaces = true;
    inst.advanced.hookAllInterfaces = true;
    Rewrite();
    // Two interfaces the class has and one it lacks, as the scanner lists them.
    WriteFileText(inst.folder + "TLBlist.txt", "[" + sample + "]\r\n"
                                               "{FA6A229A-4FE3-4E66-AD36-662335B2DE3F}\r\n// dual\r\nICalc;\r\n"
                                               "{AD602DDF-3CE0-4BFC-9717-76820C968DF2}\r\nITypes: IUnknown\r\n"
                                               "{B3A5848F-CEFF-4B33-8503-0D2FFFF8FA4E}\r\nIPlain;\r\n");
    HeldMap map;
    ProcessResult run = RunProgram(ClientCommand("create"));
    ::DeleteFileA((inst.folder + "TLBlist.txt").c_str());
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::vector<std::string> records = SplitRecords(Distilled());
    std::vector<std::string> kinds = RecordKinds(records);
    // Release (slot 2) is left out of the distilled trace, and not counted.
    ASSERT_EQ(kinds.size(), 8u) << Distilled();
    for (const std::string& k : kinds) EXPECT_EQ(k.find(".2"), std::string::npos) << k;
    EXPECT_EQ(map->recordCounter, 8);
    const std::string full = Full();
    EXPECT_NE(full.find("Method: VT_UI4 Release ( );"), std::string::npos);
    EXPECT_NE(full.find("Return value = 0 (0h)  (VT_UI4)"), std::string::npos);
    EXPECT_NE(records[1].find("Total instances: 1\r\nSupported interfaces: ICalc\r\n                      ITypes\r\n"),
              std::string::npos) << records[1];
    // ITypes was hooked at creation although the client never asked for it.
    EXPECT_NE(records[4].find("Queried interfaces:\r\n          ICalc\r\n          ITypes\r\n"), std::string::npos)
        << records[4];
    // The counters of a run that went well: nothing diverted, no file missed.
    EXPECT_NE(records.back().find("]\r\n\r\n=== Specific info ===\r\nNestedWhenLocked="), std::string::npos)
        << records.back();
    EXPECT_NE(records.back().find("WritesToExtraFile=0 MaxRecordsInExtraFile=0 CntFailedToOpenTraceFile=0\r\n"),
              std::string::npos) << records.back();
}

TEST_F(TraceTest, DecodedValuesOfTheTypesScenario) {
    ProcessResult run = RunProgram(ClientCommand("types"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    std::string text = Distilled();
    // Entry values and out-values through the caller's pointers (dates, by
    // value and through them, and strings through them are the values scenario's).
    for (const char* expected : {
             "               [in]  a=-300 (fffffed4h)  (VT_I2),\r\n",
             "               [in]  b=65535 (ffffh)  (VT_UI2),\r\n",
             "               [in]  a=-3000000000 (ffffffff4d2fa200h)  (VT_I8),\r\n",
             "               [in]  a=2.500000  (VT_R4),\r\n               [in]  b=-4.250000  (VT_R8),\r\n",
             "               [in]  price=123456 (1e240h)  (VT_CY),\r\n",
             "               [in]  a=VARIANT_TRUE (ffffffffh)  (VT_BOOL),\r\n",
             "               [in]  text=\"wide text\"  (VT_LPWSTR),\r\n",
             "               [in]  v=1.500000 (VT_R8)  (VT_VARIANT),\r\n",
             "*ptr=\"abab\" (VT_BSTR)  (VT_POINTER VT_VARIANT)\r\n",
             "                     { elements  (VT_I4)\r\n                        [0]=10 (ah)\r\n",
             "                        [2]=\"three\" (VT_BSTR)\r\n",
             "  <VxPoint*>\r\n                     { struct's members\r\n                        x=13 (dh)  (VT_I4)\r\n",
             "               [in]  current=VxBlue=4 (4h)  (Enumeration <VxColor> of VT_I4)  (VT_USERDEFINED),\r\n",
             "*ptr = {ICalc}  (VT_POINTER VT_USERDEFINED)\r\n",
             "               [in]  n=21 (15h)  <VxCount>  (VT_USERDEFINED),\r\n",
             "*ptr=1234 (4d2h)  (VT_POINTER VT_I4)\r\n",
             // The C array arrives as a pointer to its elements: [3,-6,9,-12] after the call.
             "                        [3]=-12 (fffffff4h)\r\n",
         })
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    // The unreadable pointer ends its entry record early; the call and the next record go on.
    std::vector<std::string> records = SplitRecords(text);
    size_t bad = 0;
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].find("[in]  num  ptr=10h") != std::string::npos) bad = i;
    ASSERT_NE(bad, 0u) << text;
    EXPECT_EQ(records[bad].find(" );"), std::string::npos) << records[bad];
    EXPECT_NE(records[bad + 1].find("HRESULT = -2147024809 (80070057h)"), std::string::npos) << records[bad + 1];
    EXPECT_EQ(CheckCallPairing(records), "");
}

// The component without a type library: only IUnknown's three slots are
// patched, its own methods run untraced, and its interface is named from the
// registry, or, once the registry lost it, from the scanner's list.
TEST_F(TraceTest, ComponentWithoutTypeLibraryIsNamedFromTheRegistryOrTheStructureFile) {
    std::string error;
    const std::string plain = PlainPath();
    inst.main.modules = {sample, plain};
    Rewrite();
    for (const char* name : {"IPlain", "IPlainFromList"}) {
        SCOPED_TRACE(name);
        vxinstall::ClearTraceFiles(inst.folder);
        ASSERT_TRUE(vxinstall::HookComponent(inst.folder, 2, plain, &error)) << error;
        if (std::string(name) == "IPlainFromList") {
            ASSERT_EQ(::RegDeleteTreeA(HKEY_CLASSES_ROOT, "Interface\\{B3A5848F-CEFF-4B33-8503-0D2FFFF8FA4E}"),
                      ERROR_SUCCESS);
            WriteFileText(inst.folder + "TLBlist.txt", "[Interfaces from Registry without TypeLibs]\r\n"
                                                       "{B3A5848F-CEFF-4B33-8503-0D2FFFF8FA4E}\r\nIPlainFromList\r\n");
        }
        ProcessResult run = RunProgram(ClientCommand("plain"));
        ::DeleteFileA((inst.folder + "TLBlist.txt").c_str());
        EXPECT_TRUE(vxinstall::RegisterComponent(plain, false, &error)) << error;
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const std::string text = Distilled();
        EXPECT_NE(text.find("Interface: " + std::string(name) + " (custom)\r\nMethod: VT_UI4 Release ( );"),
                  std::string::npos) << text;
        EXPECT_EQ(text.find("Multiply"), std::string::npos) << text;
        EXPECT_NE(text.find("\r\n          " + std::string(name) +
                            "  (Type library for interface was NOT found, it was NOT intercepted)\r\n"),
                  std::string::npos) << text;
    }
}

// An interface no loaded library describes: the registry names it and its
// TypeLib key leads to the library that does.
TEST(DescribeInterfaceTest, RegistryTypeLibraryDescribesTheInterface) {
    std::string error;
    ASSERT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
    const IID typesIid = {0xAD602DDF, 0x3CE0, 0x4BFC, {0x97, 0x17, 0x76, 0x82, 0x0C, 0x96, 0x8D, 0xF2}};
    korbin::InterfaceDescription d;
    ASSERT_TRUE(korbin::DescribeInterface(typesIid, nullptr, d));
    EXPECT_STREQ(d.name, "ITypes");
    EXPECT_TRUE(d.described);
    EXPECT_EQ(d.kind, korbin::TableKind::Custom);
    EXPECT_GT(d.methodCount, 30u);
    const IID unknown = {0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_FALSE(korbin::DescribeInterface(unknown, nullptr, d));
    korbin::ForgetDescriptions();
}
