// Traces read back as data: every record kind and value family of the sample's
// traced run, the two export formats parsed back, comparisons of traces made
// to differ in one thing, and result names.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "resultnames.h"
#include "traceexport.h"
#include "tracediff.h"
#include "tracetext.h"

namespace {

using nlohmann::json;

// Records as the kernel wrote them for the sample client (its "basic" and
// "types" scenarios), thread 180, process 17c.
const char* const kRecords[] = {
    "========= LOAD DLL: VxSample.dll ========= TID=180h PID=17ch [1]\n"
    "Time: Wed Dec  9 00:06:35 2026\nDLL's path: C:\\s\\VxSample.dll\nHost process's command line: C:\\s\\vxclient.exe all",
    "--- CREATING THE INSTANCE --- TID=180h PID=17ch [2]\nClass: VxSample Calc Class (instance# 2)\n"
    "Total instances: 1\nSupported interfaces: ICalc\n                      ITypes",
    "*** Serial# of call: 14.9 ***  TID=180h PID=17ch [17]\nClass: VxSample Calc Class (instance# 2)\n"
    "Interface: ICalc (dual)\nMethod: VT_HRESULT Divide (\n               [in]  a=1.000000  (VT_R8),\n"
    "               [in]  b=0.000000  (VT_R8),\n               [out,retval]  quotient  (VT_POINTER VT_R8) );",
    "   *** Serial# of exit: 14.9 *** TID=180h PID=17ch [18]\n"
    "               [out,retval]  quotient=[undefined]  (VT_POINTER VT_R8)\n               HRESULT = -2147352558 (80020012h)",
    "*** Serial# of call: 40.20 ***  TID=180h PID=17ch [93]\nClass: VxSample Calc Class (instance# 3)\n"
    "Interface: ITypes (custom)\nMethod: VT_HRESULT PointSum (\n               [in]  pt  <VxPoint>\n"
    "                     { struct's members\n                        x=3 (3h)  (VT_I4)\n"
    "                        weight=0.500000  (VT_R8)\n                     }  (VT_USERDEFINED),\n"
    "               [out,retval]  total  (VT_POINTER VT_R8) );",
    "   *** Serial# of exit: 37.17 *** TID=180h PID=17ch [88]\n"
    "               [in,out]  items  ptr=21f9d0h  *ptr\n                     { elements  (VT_VARIANT)\n"
    "                        [0]=\"three\" (VT_BSTR)\n                     }  (VT_POINTER VT_SAFEARRAY)\n"
    "               HRESULT = 0 (0h)",
    "*** Serial# of call: 21.4 ***  TID=180h PID=17ch [40]\nClass: VxSample Calc Class (instance# 3)\n"
    "Interface: ITypes (custom)\nMethod: VT_HRESULT Indirect (\n"
    "               [in]  value  ptr=21f000h  *ptr=21f008h  **ptr=21 (15h)  (VT_POINTER* VT_I4),\n"
    "               [in]  other=NULL  (VT_POINTER VT_I4),\n               [in]  id = {IID_ICalc}  (VT_USERDEFINED) );",
    "   *** Serial# of exit: 7.2 *** TID=180h PID=17ch [6]\n               Return value = 0 (0h)  (VT_UI4)",
    "--- DESTROYING OF THE INSTANCE --- TID=180h PID=17ch [7]\nClass: VxSample Calc Class (instance# 1)\n"
    "Remaining instances: 0\nQueried interfaces:\n          ICalc\n"
    "          IPersist  (Type library for interface was NOT found, it was NOT intercepted)",
    "========= UNLOAD DLL: VxSample.dll ========= TID=180h PID=17ch [290]\nTime: Wed Dec  9 00:06:36 2026\n"
    "DLL's path: C:\\s\\VxSample.dll\nHost process's command line: C:\\s\\vxclient.exe all\n"
    "All interface pointers were released",
    "<<<<<<<<<<<<  FINAL REPORT  >>>>>>>>>>>> TID=180h PID=17ch [291]\n---- Class# 1: VxSample Calc Class ----\n"
    "Number of created instances: 5",
    "*** Serial# of call: 3.9 ***  TID=180h PID=17ch [60]\nClass: VxSample Calc Class (instance# 1)"
    "  It is already destroied !!!\nInterface: IOld\nMethod is beyond Vtable",
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

vx::TraceRecord Record(size_t i) { return vx::ParseRecord(Lines(kRecords[i])); }

// The records as a saved file writes them: lines led by CR LF, end marks.
std::string SavedText(const std::vector<std::string>& records) {
    std::string text;
    for (const std::string& record : records) {
        for (const std::string& line : Lines(record)) text += "\r\n" + line;
        text += "\r\n\x01";
    }
    return text;
}

// What `vxtrace run` prints: the program's lines between records.
std::string PrintedText(const std::vector<std::string>& records) {
    std::string text = "== basic\n";
    for (const std::string& record : records) text += record + "\n\nCalc.Add(2,3) hr=0x00000000 -> 5\n";
    return text;
}

// The kinds, the supported interfaces, the process, the first parameter, the
// method and the result of records 1 to 3 are read back by the JSON Lines
// export tests, here and end to end.
TEST(TraceRecordTest, EveryKindReadsItsParts) {
    vx::TraceRecord load = Record(0);
    EXPECT_EQ(load.kind, vx::RecordKind::Load);
    EXPECT_EQ(load.number, 1);
    EXPECT_EQ(load.thread, 0x180u);
    EXPECT_EQ(load.dll, "VxSample.dll");
    EXPECT_EQ(load.path, "C:\\s\\VxSample.dll");
    EXPECT_EQ(load.commandLine, "C:\\s\\vxclient.exe all");
    EXPECT_EQ(load.time, "Wed Dec  9 00:06:35 2026");

    vx::TraceRecord create = Record(1);
    EXPECT_EQ(create.className, "VxSample Calc Class");
    EXPECT_EQ(create.instance, 2);
    EXPECT_EQ(create.instances, 1);

    vx::TraceRecord enter = Record(2);
    EXPECT_EQ(enter.serial, "14.9");
    EXPECT_EQ(enter.interfaceName, "ICalc");
    EXPECT_EQ(enter.interfaceKind, "dual");
    EXPECT_EQ(enter.returnType, "VT_HRESULT");
    ASSERT_EQ(enter.parameters.size(), 3u);
    EXPECT_EQ(enter.parameters[2].direction, "out,retval");
    EXPECT_EQ(enter.parameters[2].type, "VT_POINTER VT_R8");
    EXPECT_EQ(enter.parameters[2].value, "");

    vx::TraceRecord exit = Record(3);
    EXPECT_EQ(exit.parameters.at(0).value, "[undefined]");

    vx::TraceRecord release = Record(7);
    EXPECT_EQ(release.returnValue, "0 (0h)");
    EXPECT_FALSE(release.result);

    vx::TraceRecord destroy = Record(8);
    EXPECT_EQ(destroy.kind, vx::RecordKind::Destroy);
    EXPECT_EQ(destroy.instances, 0);
    EXPECT_EQ(destroy.interfaces.at(1), "IPersist  (Type library for interface was NOT found, it was NOT intercepted)");

    EXPECT_EQ(Record(9).allReleased, true);
    EXPECT_EQ(Record(10).kind, vx::RecordKind::Report);

    vx::TraceRecord beyond = Record(11);
    EXPECT_TRUE(beyond.beyondTable);
    EXPECT_TRUE(beyond.alreadyDestroyed);
    EXPECT_EQ(beyond.interfaceName, "IOld");
    EXPECT_EQ(beyond.interfaceKind, "");
}

TEST(TraceRecordTest, ValuesKeepPointersApartFromWhatTheyPointTo) {
    struct Case {
        size_t record, parameter;
        std::vector<std::string> pointers;
        std::string value, type;
    } cases[] = {
        {4, 0, {}, "<VxPoint>\n{ struct's members\n   x=3 (3h)  (VT_I4)\n   weight=0.500000  (VT_R8)\n}", "VT_USERDEFINED"},
        {5, 0, {"21f9d0h"}, "{ elements  (VT_VARIANT)\n   [0]=\"three\" (VT_BSTR)\n}", "VT_POINTER VT_SAFEARRAY"},
        {6, 0, {"21f000h", "21f008h"}, "21 (15h)", "VT_POINTER* VT_I4"},
        {6, 1, {}, "NULL", "VT_POINTER VT_I4"},
        {6, 2, {}, "{IID_ICalc}", "VT_USERDEFINED"},
    };
    for (const Case& c : cases) {
        const vx::Parameter p = Record(c.record).parameters.at(c.parameter);
        EXPECT_EQ(p.pointers, c.pointers) << kRecords[c.record];
        EXPECT_EQ(p.value, c.value) << kRecords[c.record];
        EXPECT_EQ(p.type, c.type) << kRecords[c.record];
    }
}

TEST(TraceTextTest, SavedAndPrintedTracesGiveTheSameRecords) {
    std::vector<std::string> records(std::begin(kRecords), std::end(kRecords));
    for (const std::string& text : {SavedText(records), PrintedText(records)}) {
        for (size_t chunk : {size_t{1}, size_t{7}, text.size()}) {
            std::vector<std::vector<std::string>> got;
            vx::RecordSplitter splitter([&](std::vector<std::string>&& lines) { got.push_back(lines); });
            for (size_t at = 0; at < text.size(); at += chunk)
                ASSERT_TRUE(splitter.Feed(std::string_view(text).substr(at, chunk)));
            EXPECT_TRUE(splitter.Finish());
            ASSERT_EQ(got.size(), records.size()) << "chunks of " << chunk;
            for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(got[i], Lines(records[i])) << i;
        }
    }
    // A cut saved trace is told by the end-to-end tests' vxtrace dump and diff.
    vx::RecordSplitter binary([](std::vector<std::string>&&) {});
    EXPECT_FALSE(binary.Feed(std::string(100000, '\x7f'))) << "a line longer than any record line is no trace";
}

// Each exit naming its enter, with the method and the failed result's name,
// is read back from the sample's whole run by the end-to-end JSON Lines test.
TEST(ExportTest, JsonLinesParseBackFieldByField) {
    std::string out;
    auto exporter = vx::MakeExporter(vx::ExportFormat::JsonLines, [&](const std::string& s) { out += s; });
    for (size_t i : {size_t{1}, size_t{2}, size_t{3}, size_t{4}}) exporter->Take(Record(i));
    exporter->Finish();
    std::vector<json> objects;
    for (const std::string& line : Lines(out))
        if (!line.empty()) objects.push_back(json::parse(line));
    ASSERT_EQ(objects.size(), 4u);
    EXPECT_EQ(objects[0]["kind"], "create");
    EXPECT_EQ(objects[0]["interfaces"], json({"ICalc", "ITypes"}));
    EXPECT_EQ(objects[1]["pid"], 0x17c);
    EXPECT_EQ(objects[1]["params"][0], json({{"direction", "in"}, {"name", "a"}, {"type", "VT_R8"}, {"value", "1.000000"}}));
    EXPECT_EQ(objects[2]["hresultHex"], "0x80020012");
    EXPECT_TRUE(objects[3]["params"][0]["value"].get<std::string>().find("weight=0.500000") != std::string::npos);
}

TEST(ExportTest, CsvJoinsEachCallInEnterOrderAndQuotesAsRfc4180) {
    // Calls: 1 (Concat, its value quoted) encloses 2 (Add), which returns first.
    std::string outer = "*** Serial# of call: 5.8 ***  TID=1h PID=2h [1]\nClass: C, \"q\" (instance# 1)\nInterface: I\n"
                        "Method: VT_HRESULT Concat (\n               [in]  a=\"x,y\"  (VT_BSTR) );";
    std::string inner = "*** Serial# of call: 5.7 ***  TID=1h PID=2h [2]\nClass: C (instance# 1)\nInterface: I\n"
                        "Method: VT_HRESULT Add (\n               [in]  a=2 (2h)  (VT_I4) );";
    std::string out;
    auto csv = vx::MakeExporter(vx::ExportFormat::Csv, [&](const std::string& s) { out += s; });
    csv->Take(vx::ParseRecord(Lines(outer)));
    csv->Take(vx::ParseRecord(Lines(inner)));
    csv->Take(vx::ParseRecord(Lines("   *** Serial# of exit: 5.7 *** TID=1h PID=2h [3]\n               HRESULT = 0 (0h)")));
    EXPECT_EQ(Lines(out).size(), 2u) << "the outer call is still waiting:\n" << out;
    csv->Take(vx::ParseRecord(Lines("   *** Serial# of exit: 5.8 *** TID=1h PID=2h [4]\n               HRESULT = -2147024809 (80070057h)")));
    csv->Finish();
    std::vector<std::string> rows = Lines(out);
    ASSERT_EQ(rows.size(), 4u) << out;
    EXPECT_EQ(rows[1], "1,call,2,1,\"C, \"\"q\"\"\",1,I,Concat,\"a=\"\"x,y\"\"\",,0x80070057,E_INVALIDARG,,4,");
    EXPECT_EQ(rows[2], "2,call,2,1,C,1,I,Add,a=2 (2h),,0x00000000,S_OK,,3,");
}

// A trace of two calls on one thread, with what may change between runs
// (ids, record numbers, pointers, instance numbers) and what may not.
std::vector<vx::TraceRecord> TwoCalls(uint32_t pid, long instance, const std::string& b, const std::string& hr,
                                 bool extraCall) {
    std::string header = " TID=" + std::to_string(pid + 1) + "h PID=" + std::to_string(pid) + "h [";
    std::string object = "Class: Calc (instance# " + std::to_string(instance) + ")\nInterface: ICalc (dual)\n";
    std::vector<std::string> texts = {
        "*** Serial# of call: 12.7 *** " + header + "3]\n" + object + "Method: VT_HRESULT Add (\n" +
            "               [in]  a=2 (2h)  (VT_I4),\n               [in]  b=" + b + "  (VT_I4),\n" +
            "               [in]  sink=" + std::to_string(pid * 16) + "h  (VT_DISPATCH) );",
        "   *** Serial# of exit: 12.7 ***" + header + "4]\n               [out,retval]  total  ptr=" +
            std::to_string(pid) + "fah  *ptr=5 (5h)  (VT_POINTER VT_I4)\n               HRESULT = " + hr,
    };
    if (extraCall) {
        texts.push_back("*** Serial# of call: 7.2 *** " + header + "5]\n" + object + "Method: VT_UI4 Release ( );");
        texts.push_back("   *** Serial# of exit: 7.2 ***" + header + "6]\n               Return value = 0 (0h)  (VT_UI4)");
    }
    std::vector<vx::TraceRecord> records;
    for (const std::string& text : texts) records.push_back(vx::ParseRecord(Lines(text)));
    return records;
}

vx::Comparison CompareRuns(const std::vector<vx::TraceRecord>& a, const std::vector<vx::TraceRecord>& b,
                           vx::ComparableTrace* ta, vx::ComparableTrace* tb) {
    for (const auto& r : a) ta->Take(r);
    for (const auto& r : b) tb->Take(r);
    ta->Finish();
    tb->Finish();
    return vx::Compare(*ta, *tb);
}

// One changed parameter is the end-to-end golden check's.
TEST(CompareTest, RunsDifferingInOneThingAreReportedAtThatCall) {
    const auto base = TwoCalls(0x100, 1, "3 (3h)", "0 (0h)", true);
    struct Case {
        const char* what;
        std::vector<vx::TraceRecord> other;
        std::string ignore;
        size_t onlyA, onlyB, outcome;
        std::string shown;  // in the report
    } cases[] = {
        {"another run: ids, pointers, instance numbers", TwoCalls(0x200, 7, "3 (3h)", "0 (0h)", true), "", 0, 0, 0,
         "the traces match: 2 calls and 0 other events"},
        {"one result", TwoCalls(0x100, 1, "3 (3h)", "-2147024809 (80070057h)", true), "", 0, 0, 1,
         "E_INVALIDARG (0x80070057)"},
        {"one result, results ignored", TwoCalls(0x100, 1, "3 (3h)", "-2147024809 (80070057h)", true), "results", 0, 0, 0,
         "the traces match"},
        {"one call less", TwoCalls(0x100, 1, "3 (3h)", "0 (0h)", false), "", 1, 0, 0, "- A [5] Calc(1) ICalc::Release()"},
        {"one call less, Release ignored", TwoCalls(0x100, 1, "3 (3h)", "0 (0h)", false), "IUnknown::Release,Release", 0,
         0, 0, "the traces match: 1 call"},
    };
    for (const Case& c : cases) {
        vx::CompareOptions options;
        std::string error;
        if (!c.ignore.empty()) {
            ASSERT_TRUE(vx::AddIgnored(c.ignore, &options, &error)) << error;
        }
        vx::ComparableTrace a(options), b(options);
        vx::Comparison result = CompareRuns(base, c.other, &a, &b);
        EXPECT_EQ(result.equal, c.onlyA + c.onlyB + c.outcome == 0) << c.what;
        EXPECT_EQ(result.onlyInA, c.onlyA) << c.what;
        EXPECT_EQ(result.onlyInB, c.onlyB) << c.what;
        EXPECT_EQ(result.otherOutcome, c.outcome) << c.what;
        std::string report = vx::ComparisonReport(result);
        EXPECT_NE(report.find(c.shown), std::string::npos) << c.what << "\n" << report;
    }
    vx::CompareOptions options;
    std::string error;
    EXPECT_FALSE(vx::AddIgnored("out,,in", &options, &error));
    EXPECT_NE(error.find("--ignore"), std::string::npos);
}

TEST(CompareTest, ThreadsAreComparedApartWhateverTheirInterleaving) {
    // Thread 1 adds, thread 2 releases; the second run interleaves them the other way.
    auto a = TwoCalls(0x100, 1, "3 (3h)", "0 (0h)", true);
    std::vector<vx::TraceRecord> b = {a[2], a[3], a[0], a[1]};
    for (size_t i = 0; i < 2; ++i) a[2 + i].thread = b[i].thread = 0x999;
    vx::ComparableTrace ta({}), tb({});
    EXPECT_TRUE(CompareRuns(a, b, &ta, &tb).equal);
    ASSERT_EQ(ta.streams().size(), 2u);
    EXPECT_EQ(ta.streams()[1].thread, 2u);
}

// S_OK and E_INVALIDARG are named by the CSV case above, DISP_E_DIVBYZERO and
// E_NOINTERFACE among the end-to-end JSON Lines run's failed calls.
TEST(ResultNamesTest, FamiliesAreNamedByValue) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0x00000001, "S_FALSE"},
        {0x80040154, "REGDB_E_CLASSNOTREG"},
        {0x80040110, "CLASS_E_NOAGGREGATION"},
        {0x800401F0, "CO_E_NOTINITIALIZED"},
        {0x80030002, "STG_E_FILENOTFOUND"},
        {0x8001010E, "RPC_E_WRONG_THREAD"},
        {0x80040200, "CONNECT_E_NOCONNECTION"},
        {0x80070002, "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"},
        {0x800705B4, "HRESULT_FROM_WIN32(ERROR_TIMEOUT)"},
        {0x80041234, ""},
    };
    for (auto [hr, name] : cases) EXPECT_EQ(vx::ResultName(static_cast<int32_t>(hr)), name) << std::hex << hr;
    EXPECT_EQ(vx::FacilityName(vx::ResultFacility(static_cast<int32_t>(0x80020012))), "FACILITY_DISPATCH");
    EXPECT_EQ(vx::ResultCode(static_cast<int32_t>(0x80020012)), 0x12u);
    EXPECT_EQ(vx::FacilityName(0x55), "85");
}

}  // namespace
