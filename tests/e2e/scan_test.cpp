// The scan engine under Wine, through COM: registration by regsvr32, the
// start banners at load, and scans of the prefix's registry checked against
// an independent walk with their events through the connection point. The
// kernel's reading of a scanned list is checked by the lists' and the
// interception tests.

#include <cstring>
#include <map>
#include <regex>

#include "VxSample.h"
#include "scansink.h"
#include "textconv.h"

namespace e2e {
namespace {

constexpr char kIPlain[] = "{B3A5848F-CEFF-4B33-8503-0D2FFFF8FA4E}";

std::string Text(const GUID& guid) { return vx::Narrow(vx::GuidText(guid).c_str()); }

// Every class with an in-process server, read here without the engine:
// CLSID -> its name ("" without one) and the path it is listed by (a hooked
// class's real path).
struct RegisteredClass {
    std::string name, path;
};
std::map<std::string, RegisteredClass> WalkClasses() {
    std::map<std::string, RegisteredClass> classes;
    vx::unique_hkey root;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, root.put()) != ERROR_SUCCESS) return classes;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        LSTATUS s = ::RegEnumKeyExA(root.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) break;
        if (s != ERROR_SUCCESS || name[0] != '{' || std::strlen(name) < 38 || name[37] != '}') continue;
        const std::string key = std::string("CLSID\\") + name;
        RegisteredClass c{RegString(key), RegString(key + "\\InprocServer32")};
        if (c.path == "<missing>" || c.path.empty()) continue;
        if (c.name == "<missing>") c.name.clear();
        const std::string real = RegString(key + "\\InprocServer32", "TypeLib");
        if (vx::FileNameOf(c.path).rfind("Zor#_", 0) == 0 && real != "<missing>") c.path = real;
        classes[name] = c;
    }
    return classes;
}

bool FileThere(const std::string& path) {
    char expanded[1024];
    ::ExpandEnvironmentStringsA(path.c_str(), expanded, sizeof expanded);
    if (::GetFileAttributesA(expanded) != INVALID_FILE_ATTRIBUTES) return true;
    // A resource index behind a module's path.
    std::string p = expanded;
    size_t slash = p.rfind('\\');
    return slash != std::string::npos && slash + 1 < p.size() && isdigit(static_cast<unsigned char>(p[slash + 1])) &&
           ::GetFileAttributesA(p.substr(0, slash).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The groups of a component list: path -> its bar and (CLSID, name) lines.
struct Group {
    char bar = 0;
    std::vector<std::pair<std::string, std::string>> classes;
};
std::map<std::string, Group> ParseCompList(const std::string& text, std::string* problem) {
    std::map<std::string, Group> groups;
    const std::regex lineBreak("\r\n");
    const std::vector<std::string> lines(std::sregex_token_iterator(text.begin(), text.end(), lineBreak, -1), {});
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != std::string(80, '+') && lines[i] != std::string(80, '-')) continue;
        Group& g = groups[lines[i + 1]];
        if (g.bar) *problem = "two groups for " + lines[i + 1];
        g.bar = lines[i][0];
        for (size_t j = i + 2; j + 1 < lines.size() && !lines[j].empty(); j += 2) g.classes.emplace_back(lines[j], lines[j + 1]);
    }
    return groups;
}

// The engine is registered once for the suite; each test has a fresh list
// folder and a scanner with the recording sink advised.
class ScanTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ProcessResult r = Regsvr32("/s", PolluxPath());
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        std::string error;
        registered = r.exitCode == 0 && vxinstall::RegisterComponent(PlainPath(), false, &error);
        EXPECT_EQ(error, "");
    }
    void SetUp() override {
        ASSERT_TRUE(registered);
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        std::string error;
        ASSERT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
        folder = "C:\\vxscan-" + ArchName() + "\\";
        for (const char* name : {"CompList.txt", "CompListInd.txt", "CompListChanges.txt", "TLBlist.txt", "TLBlistInd.txt",
                                 "TLBlistChanges.txt", "PolluxBanner.dll", "Zor#_01.dll", "Vexilo.dll", "Korbin.dll"})
            ::DeleteFileA((folder + name).c_str());
        ::CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER, IID_IScanner, scanner.put_void())));
        ASSERT_EQ(connection.advise(scanner.get(), DIID__IScannerEvents, &sink), S_OK);
        vx::unique_bstr path(vx::NewBstr(folder));
        ASSERT_EQ(scanner->put_InstallPath(path.get()), S_OK);
    }
    void TearDown() override {
        connection.reset();
        scanner.reset();
        std::string error;
        EXPECT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
        ::CoUninitialize();
    }
    std::string Read(const char* name) { return ReadFileText(folder + name); }

    static inline bool registered = false;
    std::string folder;
    vx::com_ptr<IScanner> scanner;
    RecordingSink sink;
    vx::advise_cookie connection;  // ends before the sink
};

}  // namespace

TEST_F(ScanTest, Regsvr32RegistersWhatClientsFindAndRemovesItAgainAndLoadsWriteTheirBanners) {
    CLSID byProgId = {};
    EXPECT_EQ(::CLSIDFromProgID(L"Pollux.Scanner", &byProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(byProgId, CLSID_Scanner));
    const std::string key = "CLSID\\" + Text(CLSID_Scanner);
    EXPECT_TRUE(vx::EqualNoCase(RegString(key + "\\InprocServer32"), PolluxPath()));
    // The library registered under widl's id names every event of the scans
    // below: their sink loads it by that id.

    // Unregistration removes what registration wrote; a second one still succeeds.
    connection.reset();
    scanner.reset();
    ::CoFreeUnusedLibraries();
    ProcessResult r = Regsvr32("/s /u", PolluxPath());
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(::CLSIDFromProgID(L"Pollux.Scanner", &byProgId), S_OK);
    EXPECT_EQ(RegString(key), "<missing>");
    // This architecture's entry of the library is gone; the other's may stay
    // (one library key serves both, and the other build's tests register it).
    const char* platform = sizeof(void*) == 8 ? "win64" : "win32";
    EXPECT_EQ(RegString("TypeLib\\" + Text(LIBID_POLLUXLib) + "\\1.0\\0\\" + platform), "<missing>");
    EXPECT_EQ(Regsvr32("/s /u", PolluxPath()).exitCode, 0u);
    r = Regsvr32("/s", PolluxPath());
    registered = r.exitCode == 0;
    EXPECT_EQ(r.exitCode, 0u) << r.output;

    // The control file switches each start banner at load.
    const char* control = "C:\\ScanDiagCtrl.txt";
    const char* full = "C:\\ScanTraceFull.txt";
    const char* distilled = "C:\\ScanTraceDistilled.txt";
    for (const char* log : {full, distilled}) ::DeleteFileA(log);
    // A copy of the module, so that this process loads it anew each time.
    const std::string copy = folder + "PolluxBanner.dll";
    ASSERT_TRUE(::CopyFileA(PolluxPath().c_str(), copy.c_str(), FALSE));
    for (const char* answers : {"Print full diagnostic ? [Y/N]: y\r\nPrint distilled diagnostic ? [Y/N]:N\r\n",
                                "Print full diagnostic ? [Y/N]:n\r\nPrint distilled diagnostic ? [Y/N]:Y\r\n"}) {
        WriteFileText(control, answers);
        vx::unique_module module(::LoadLibraryA(copy.c_str()));
        EXPECT_TRUE(module);
    }
    ::DeleteFileA(control);
    // One banner each, with the time where it stands.
    const std::string time = "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}";
    const std::string fullText = ReadFileText(full), distilledText = ReadFileText(distilled);
    EXPECT_TRUE(std::regex_match(fullText, std::regex("Scan \r\n\r\n========= Start Scan at " + time + " =========\r\n")))
        << fullText;
    EXPECT_TRUE(std::regex_match(distilledText, std::regex("\r\n\r\n========= Start at " + time + " =========")))
        << distilledText;
    for (const char* log : {full, distilled}) ::DeleteFileA(log);
}

// The sample hooked as the trace reader hooks it: its classes stay listed
// under the real DLL, and their events name the hook's copy too. Rescans are
// checked by the engine's unit tests (an unchanged one with a hooked class).
TEST_F(ScanTest, ScansListWhatTheRegistryHolds) {
    std::string error;
    ASSERT_TRUE(vxinstall::CopyStage(vxinstall::WinePath(VX_STAGE_DIR), folder, &error)) << error;
    ASSERT_TRUE(vxinstall::HookComponent(folder, 1, SamplePath(), &error)) << error;
    LONG compClasses = 0, tLibs = 0, imported = 0, interfaces = 0;
    ASSERT_EQ(scanner->GetAmounts(&compClasses, &tLibs, &imported, &interfaces), S_OK);
    ASSERT_EQ(scanner->ScanTLBlist(), S_OK);
    ASSERT_EQ(scanner->ScanCompList(VARIANT_TRUE), S_OK);
    EXPECT_EQ(sink.wrongCall, "");

    // Each kind of progress ends with the count the amounts gave.
    std::map<std::string, std::string> last;
    for (const std::string& e : sink.events)
        if (e.rfind("Processed", 0) == 0) last[e.substr(0, e.find(' '))] = e.substr(e.find(' ') + 1);
    EXPECT_EQ(last, (std::map<std::string, std::string>{{"ProcessedTLibs", std::to_string(tLibs)},
                                                        {"ProcessedImportedTLibs", std::to_string(imported)},
                                                        {"ProcessedInterfaces", std::to_string(interfaces)},
                                                        {"ProcessedClasses", std::to_string(compClasses)}}));

    // Every listed class is registered with the group's path; every class
    // whose file is there is listed once, and reported once.
    std::string problem;
    const std::string compList = Read("CompList.txt");
    std::map<std::string, Group> groups = ParseCompList(compList, &problem);
    EXPECT_EQ(problem, "");
    std::map<std::string, RegisteredClass> registered = WalkClasses();
    std::map<std::string, int> listed, reported;
    for (const auto& [path, group] : groups)
        for (const auto& [clsid, name] : group.classes) {
            ++listed[clsid];
            ASSERT_TRUE(registered.count(clsid)) << clsid << " listed but not registered";
            EXPECT_EQ(registered[clsid].path, path) << clsid;
            EXPECT_EQ(registered[clsid].name.empty() ? "<No class name>" : registered[clsid].name, name) << clsid;
        }
    for (const ClassEvent& e : sink.classes) {
        ASSERT_EQ(e.info.size(), 5u);
        ++reported[e.info[0]];
    }
    for (const auto& [clsid, c] : registered) {
        EXPECT_EQ(reported[clsid], 1) << clsid << " OneMoreClass once per class";
        EXPECT_EQ(listed[clsid], FileThere(c.path) ? 1 : 0) << clsid << " at " << c.path;
    }
    LONG amount = 0;
    ASSERT_EQ(scanner->GetCompAmountInList(&amount), S_OK);
    EXPECT_EQ(amount, static_cast<LONG>(groups.size()));

    // The samples: VxSample's type library loads, VxPlain has none.
    EXPECT_EQ(groups[SamplePath()].bar, '+') << compList.substr(0, 2000);
    EXPECT_EQ(groups[SamplePath()].classes.size(), 5u);
    EXPECT_EQ(groups[PlainPath()].bar, '-');
    // A class event's five elements, a hooked class's real path the last.
    const std::string calc = Text(CLSID_Calc);
    int samples = 0;
    for (const ClassEvent& e : sink.classes) {
        if (e.info[0] != calc) continue;
        EXPECT_EQ(e.info, (std::vector<std::string>{calc, "VxSample Calc Class", folder + "Zor#_01.dll", "Zor#_01.dll",
                                                    SamplePath()}));
        EXPECT_TRUE(e.loadable);
        ++samples;
    }
    EXPECT_EQ(samples, 1);

    // The type-library list: the sample's and the engine's own libraries;
    // IPlain, which no library describes, in the registry-only section.
    const std::string tlbList = Read("TLBlist.txt");
    const size_t section = tlbList.find("\r\n\r\n[Interfaces from Registry without TypeLibs]\r\n");
    ASSERT_NE(section, std::string::npos);
    const size_t sample = tlbList.find("\r\n\r\n[" + SamplePath() + "]\r\n");
    EXPECT_LT(sample, section);
    EXPECT_LT(tlbList.find("\r\n" + Text(IID_ICalc) + "\r\nICalc:IDispatch:IUnknown; ", sample), section);
    EXPECT_LT(tlbList.find("\r\n\r\n[" + PolluxPath() + "]\r\n"), section) << "the engine's own library";
    EXPECT_NE(tlbList.find(std::string(kIPlain) + "\r\nIPlain\r\n", section), std::string::npos);
}

}  // namespace e2e
