// The scan engine under Wine, through COM: registration by regsvr32, scans of
// the prefix's registry checked against an independent walk, rescans, the
// samples' entries, hooked classes and imported libraries.
#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "Pollux.h"
#include "VxSample.h"
#include "e2e.h"
#include "raii.h"
#include "scansink.h"

namespace e2e {
namespace {

constexpr char kLibId[] = "{5E1F8221-1328-11D4-ABC2-B474AFE9904F}";
constexpr char kClsid[] = "{5E1F822E-1328-11D4-ABC2-B474AFE9904F}";
constexpr char kIPlain[] = "{B3A5848F-CEFF-4B33-8503-0D2FFFF8FA4E}";
const std::string kPlus(80, '+');
const std::string kMinus(80, '-');
const std::string kNoCompChanges = "\r\n--- New components ---\r\n\r\n--- Deleted components ---\r\n";
const std::string kNoTlbChanges =
    "\r\n--- New TypeLibs ---\r\n\r\n--- New Interfaces without TypeLibs ---"
    "\r\n\r\n--- Deleted TypeLibs ---\r\n\r\n--- Deleted Interfaces without TypeLibs ---";

std::string PolluxPath() { return vxinstall::WinePath(VX_STAGE_DIR) + "\\Pollux.dll"; }

ProcessResult Regsvr32(const std::string& options, const std::string& dll) {
    char system[MAX_PATH];
    ::GetSystemDirectoryA(system, sizeof system);  // this process's architecture's tool
    return RunProgram(Quoted(std::string(system) + "\\regsvr32.exe") + " " + options + " " + Quoted(dll));
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Every class with an in-process server, read here without the engine:
// CLSID -> the path it is listed by (a hooked class's real path).
struct RegisteredClass {
    std::string name;
    bool named = false;
    std::string path;
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
        std::string server = RegString(key + "\\InprocServer32");
        if (server == "<missing>" || server.empty()) {
            char text[1024];
            DWORD size = sizeof text;
            if (::RegGetValueA(HKEY_CLASSES_ROOT, (key + "\\InprocServer32").c_str(), nullptr, RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                               nullptr, text, &size) == ERROR_SUCCESS)
                server = text;
            else
                continue;
        }
        RegisteredClass c;
        c.name = RegString(key);
        c.named = c.name != "<missing>";
        if (!c.named) c.name.clear();
        c.path = server;
        if (Lower(server).find("zor#_") != std::string::npos) {
            std::string real = RegString(key + "\\InprocServer32", "TypeLib");
            if (real != "<missing>") c.path = real;
        }
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

// The groups of a component list: path -> its (CLSID, name) lines, and the bar.
struct Group {
    char bar = 0;
    std::vector<std::pair<std::string, std::string>> classes;
};
std::map<std::string, Group> ParseCompList(const std::string& text, std::string* problem) {
    std::map<std::string, Group> groups;
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != kPlus && lines[i] != kMinus) continue;
        if (i + 1 >= lines.size()) break;
        Group& g = groups[lines[i + 1]];
        if (g.bar) *problem = "two groups for " + lines[i + 1];
        g.bar = lines[i][0];
        for (size_t j = i + 2; j + 1 < lines.size() && !lines[j].empty(); j += 2) g.classes.emplace_back(lines[j], lines[j + 1]);
    }
    return groups;
}

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        ProcessResult r = Regsvr32("/s", PolluxPath());
        ASSERT_EQ(r.exitCode, 0u) << r.output;
        std::string error;
        ASSERT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
        ASSERT_TRUE(vxinstall::RegisterComponent(PlainPath(), false, &error)) << error;
        folder = "C:\\vxscan-" + ArchName() + "\\";
        for (const char* name : {"CompList.txt", "CompListInd.txt", "CompListChanges.txt", "TLBlist.txt", "TLBlistInd.txt",
                                 "TLBlistChanges.txt", "TLBdistilled\\VxSample.tlb", "Zor#_01.dll", "Vexilo.dll", "Korbin.dll"})
            ::DeleteFileA((folder + name).c_str());
        ::RemoveDirectoryA((folder + "TLBdistilled").c_str());
        ::CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER, IID_IScanner, scanner.put_void())));
        vx::com_ptr<IConnectionPointContainer> container;
        ASSERT_TRUE(SUCCEEDED(scanner->QueryInterface(IID_IConnectionPointContainer, container.put_void())));
        ASSERT_TRUE(SUCCEEDED(container->FindConnectionPoint(DIID__IScannerEvents, point.put())));
        ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
        vx::unique_bstr path(::SysAllocString(std::wstring(folder.begin(), folder.end()).c_str()));
        ASSERT_EQ(scanner->put_InstallPath(path.get()), S_OK);
    }
    void TearDown() override {
        if (point) point->Unadvise(cookie);
        point.reset();
        scanner.reset();
        std::string error;
        EXPECT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
        ::CoUninitialize();
    }
    std::string Read(const char* name) { return ReadFileText(folder + name); }

    std::string folder;
    vx::com_ptr<IScanner> scanner;
    vx::com_ptr<IConnectionPoint> point;
    DWORD cookie = 0;
    RecordingSink sink;
};

}  // namespace

TEST_F(ScanTest, RegistrationFollowsTheScriptAndTheTypeLibraryTheContract) {
    const std::string path = PolluxPath();
    EXPECT_EQ(RegString("Pollux.Scanner.1"), "Scanner Class");
    EXPECT_EQ(RegString("Pollux.Scanner.1\\CLSID"), kClsid);
    EXPECT_EQ(RegString("Pollux.Scanner"), "Scanner Class");
    EXPECT_EQ(RegString("Pollux.Scanner\\CLSID"), kClsid);
    EXPECT_EQ(RegString("Pollux.Scanner\\CurVer"), "Pollux.Scanner.1");
    const std::string key = std::string("CLSID\\") + kClsid;
    EXPECT_EQ(RegString(key), "Scanner Class");
    EXPECT_EQ(RegString(key + "\\ProgID"), "Pollux.Scanner.1");
    EXPECT_EQ(RegString(key + "\\VersionIndependentProgID"), "Pollux.Scanner");
    EXPECT_EQ(RegString(key + "\\Programmable"), "<missing>") << "a key without a value";
    EXPECT_EQ(Lower(RegString(key + "\\InprocServer32")), Lower(path));
    EXPECT_EQ(RegString(key + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(RegString(key + "\\TypeLib"), kLibId);
    const char* platform = sizeof(void*) == 8 ? "win64" : "win32";
    EXPECT_EQ(RegString(std::string("TypeLib\\") + kLibId + "\\1.0"), "Pollux 1.0 Type Library");
    EXPECT_EQ(Lower(RegString(std::string("TypeLib\\") + kLibId + "\\1.0\\409\\" + platform)), Lower(path));

    // The registered type library describes the dual interface and its events
    // (their numbers and texts are the IDL's own).
    vx::com_ptr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_POLLUXLib, 1, 0, 0x409, library.put()), S_OK);
    vx::com_ptr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IScanner, info.put()), S_OK);
    HREFTYPE ref = 0;
    EXPECT_EQ(info->GetRefTypeOfImplType(-1, &ref), S_OK) << "IScanner is dual";
    vx::com_ptr<ITypeInfo> events;
    EXPECT_EQ(library->GetTypeInfoOfGuid(DIID__IScannerEvents, events.put()), S_OK);

    vx::com_ptr<ISupportErrorInfo> errors;
    ASSERT_EQ(scanner->QueryInterface(IID_ISupportErrorInfo, errors.put_void()), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IScanner), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

    // Unregistration removes what registration wrote; a second one still succeeds.
    point->Unadvise(cookie);
    point.reset();
    scanner.reset();
    ::CoFreeUnusedLibraries();
    ProcessResult r = Regsvr32("/s /u", path);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(RegString(key), "<missing>");
    EXPECT_EQ(RegString("Pollux.Scanner"), "<missing>");
    EXPECT_EQ(RegString("Pollux.Scanner.1"), "<missing>");
    EXPECT_EQ(RegString(std::string("TypeLib\\") + kLibId + "\\1.0\\409\\" + platform), "<missing>");
    EXPECT_EQ(Regsvr32("/s /u", path).exitCode, 0u);
    EXPECT_EQ(Regsvr32("/s", path).exitCode, 0u);
}

TEST_F(ScanTest, TheControlFileSwitchesEachStartBannerAtLoad) {
    const char* control = "C:\\ScanDiagCtrl.txt";
    for (const char* log : {"C:\\ScanTraceFull.txt", "C:\\ScanTraceDistilled.txt"}) ::DeleteFileA(log);
    auto write = [&](const std::string& text) {
        vx::unique_file f(::CreateFileA(control, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    };
    // A process that loads the module: regsvr32 does.
    write("Print full diagnostic ? [Y/N]: y\r\nPrint distilled diagnostic ? [Y/N]:N\r\n");
    EXPECT_EQ(Regsvr32("/s", PolluxPath()).exitCode, 0u);
    write("Print full diagnostic ? [Y/N]:n\r\nPrint distilled diagnostic ? [Y/N]:Y\r\n");
    EXPECT_EQ(Regsvr32("/s", PolluxPath()).exitCode, 0u);
    ::DeleteFileA(control);
    EXPECT_EQ(Regsvr32("/s", PolluxPath()).exitCode, 0u);

    // "Www Mmm dd hh:mm:ss yyyy" where the time stands.
    auto time = [](const std::string& text, size_t at) {
        return text.size() >= at + 24 && text[at + 3] == ' ' && text[at + 7] == ' ' && text[at + 10] == ' ' &&
               text[at + 13] == ':' && text[at + 16] == ':' && text[at + 19] == ' ';
    };
    const std::string full = ReadFileText("C:\\ScanTraceFull.txt");
    const std::string fullStart = "Scan \r\n\r\n========= Start Scan at ";
    ASSERT_EQ(full.size(), fullStart.size() + 24 + std::string(" =========\r\n").size()) << full;
    EXPECT_EQ(full.substr(0, fullStart.size()), fullStart);
    EXPECT_TRUE(time(full, fullStart.size())) << full;
    EXPECT_EQ(full.substr(fullStart.size() + 24), " =========\r\n");
    const std::string distilled = ReadFileText("C:\\ScanTraceDistilled.txt");
    const std::string distilledStart = "\r\n\r\n========= Start at ";
    ASSERT_EQ(distilled.size(), distilledStart.size() + 24 + std::string(" =========").size()) << distilled;
    EXPECT_EQ(distilled.substr(0, distilledStart.size()), distilledStart);
    EXPECT_TRUE(time(distilled, distilledStart.size())) << distilled;
    for (const char* log : {"C:\\ScanTraceFull.txt", "C:\\ScanTraceDistilled.txt"}) ::DeleteFileA(log);
}

TEST_F(ScanTest, FirstScansListWhatTheRegistryHolds) {
    LONG compClasses = 0, tLibs = 0, imported = -1, interfaces = 0;
    ASSERT_EQ(scanner->GetAmounts(&compClasses, &tLibs, &imported, &interfaces), S_OK);
    EXPECT_EQ(imported, 0) << "no TLBdistilled folder";
    ASSERT_EQ(scanner->ScanTLBlist(), S_OK);
    ASSERT_EQ(scanner->ScanCompList(VARIANT_TRUE), S_OK);
    EXPECT_EQ(sink.wrongCall, "");

    // Progress in order: libraries, imported libraries, interfaces, classes,
    // each ending with its registry count.
    std::vector<std::string> kinds;
    for (const std::string& e : sink.events) {
        std::string kind = e.substr(0, e.find(' '));
        if (kind.rfind("Processed", 0) == 0 && (kinds.empty() || kinds.back() != kind)) kinds.push_back(kind);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"ProcessedTLibs", "ProcessedImportedTLibs", "ProcessedInterfaces",
                                               "ProcessedClasses"}));
    auto last = [&](const std::string& kind) {
        std::string found;
        for (const std::string& e : sink.events)
            if (e.rfind(kind + " ", 0) == 0) found = e.substr(kind.size() + 1);
        return found;
    };
    EXPECT_EQ(last("ProcessedTLibs"), std::to_string(tLibs));
    EXPECT_EQ(last("ProcessedInterfaces"), std::to_string(interfaces));
    EXPECT_EQ(last("ProcessedClasses"), std::to_string(compClasses));

    // Every listed class is registered with the group's path; every class
    // whose file is there is listed once, and reported once.
    std::string problem;
    const std::string compList = Read("CompList.txt");
    std::map<std::string, Group> groups = ParseCompList(compList, &problem);
    EXPECT_EQ(problem, "");
    std::map<std::string, RegisteredClass> registered = WalkClasses();
    std::map<std::string, int> listed;
    for (const auto& [path, group] : groups)
        for (const auto& [clsid, name] : group.classes) {
            ++listed[clsid];
            ASSERT_TRUE(registered.count(clsid)) << clsid << " listed but not registered";
            EXPECT_EQ(registered[clsid].path, path) << clsid;
            EXPECT_EQ(registered[clsid].named ? registered[clsid].name : "<No class name>", name) << clsid;
        }
    std::map<std::string, int> reported;
    for (const ClassEvent& e : sink.classes) {
        ASSERT_EQ(e.info.size(), 5u);
        ++reported[e.info[0]];
    }
    for (const auto& [clsid, c] : registered) {
        EXPECT_EQ(reported[clsid], 1) << clsid << " OneMoreClass once per class";
        const int expected = FileThere(c.path) ? 1 : 0;
        EXPECT_EQ(listed[clsid], expected) << clsid << " at " << c.path;
    }
    LONG amount = 0;
    ASSERT_EQ(scanner->GetCompAmountInList(&amount), S_OK);
    EXPECT_EQ(amount, static_cast<LONG>(groups.size()));

    // The samples: VxSample's type library loads, VxPlain has none.
    ASSERT_TRUE(groups.count(SamplePath())) << compList.substr(0, 2000);
    EXPECT_EQ(groups[SamplePath()].bar, '+');
    EXPECT_EQ(groups[SamplePath()].classes.size(), 4u);
    ASSERT_TRUE(groups.count(PlainPath()));
    EXPECT_EQ(groups[PlainPath()].bar, '-');
    char calc[40];
    ::WideCharToMultiByte(CP_ACP, 0, [] { static wchar_t t[40]; ::StringFromGUID2(CLSID_Calc, t, 40); return t; }(),
                          -1, calc, sizeof calc, nullptr, nullptr);
    bool calcReported = false;
    for (const ClassEvent& e : sink.classes)
        if (e.info[0] == calc) {
            calcReported = true;
            EXPECT_EQ(e.info, (std::vector<std::string>{calc, "VxSample Calc Class", SamplePath(), "VxSample.dll", ""}));
            EXPECT_TRUE(e.loadable);
            EXPECT_EQ(e.type, VT_ARRAY | VT_BSTR);
        }
    EXPECT_TRUE(calcReported);

    // The type-library list: the sample's ICalc with its numbers, derived
    // from the library itself; IPlain in the registry-only section.
    const std::string tlbList = Read("TLBlist.txt");
    vx::com_ptr<ITypeLib> sampleLib;
    const std::string sample = SamplePath();
    ASSERT_EQ(::LoadTypeLibEx(std::wstring(sample.begin(), sample.end()).c_str(), REGKIND_NONE, sampleLib.put()), S_OK);
    vx::com_ptr<ITypeInfo> calcInfo;
    ASSERT_EQ(sampleLib->GetTypeInfoOfGuid(IID_ICalc, calcInfo.put()), S_OK);
    vx::com_ptr<ITypeLib> containing;
    UINT index = 0;
    calcInfo->GetContainingTypeLib(containing.put(), &index);
    const int slot = static_cast<int>(sizeof(void*));
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "; %u; 0, 0; %d, %d; 1;", index, 7 * slot, 14 * slot);
    EXPECT_NE(tlbList.find("\r\n\r\n[" + SamplePath() + "]\r\n"), std::string::npos);
    EXPECT_NE(tlbList.find("\r\n{FA6A229A-4FE3-4E66-AD36-662335B2DE3F}\r\nICalc:IDispatch:IUnknown" + std::string(numbers) + "\r\n"),
              std::string::npos)
        << numbers;
    const std::string header = "\r\n\r\n[Interfaces from Registry without TypeLibs]\r\n";
    size_t section = tlbList.find(header);
    ASSERT_NE(section, std::string::npos);
    EXPECT_EQ(tlbList.find(header, section + 1), std::string::npos) << "one section header";
    EXPECT_NE(tlbList.find(std::string(kIPlain) + "\r\nIPlain\r\n", section), std::string::npos);
    EXPECT_EQ(tlbList.find("{FA6A229A-4FE3-4E66-AD36-662335B2DE3F}", section), std::string::npos)
        << "an interface a listed library describes is not in the section";
    EXPECT_NE(tlbList.find("\r\n\r\n[" + PolluxPath() + "]\r\n"), std::string::npos) << "the engine's own library";
}

TEST_F(ScanTest, RescansListOnlyWhatChanged) {
    ASSERT_EQ(scanner->ScanTLBlist(), S_OK);
    ASSERT_EQ(scanner->ScanCompList(VARIANT_FALSE), S_OK);
    const std::string firstComp = Read("CompList.txt");

    // Nothing changed: only the headers.
    ASSERT_EQ(scanner->ScanTLBlist(), S_OK);
    ASSERT_EQ(scanner->ScanCompList(VARIANT_FALSE), S_OK);
    EXPECT_EQ(Read("CompListChanges.txt"), kNoCompChanges);
    EXPECT_EQ(Read("TLBlistChanges.txt"), kNoTlbChanges);
    EXPECT_TRUE(sink.classes.empty()) << "OneMoreClass only when asked";

    // A class hooked by the trace reader stays listed under its real DLL.
    std::string error;
    ASSERT_TRUE(vxinstall::CopyStage(vxinstall::WinePath(VX_STAGE_DIR), folder, &error)) << error;
    ASSERT_TRUE(vxinstall::HookComponent(folder, 1, SamplePath(), &error)) << error;
    ASSERT_EQ(scanner->ScanCompList(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Read("CompListChanges.txt"), kNoCompChanges);
    EXPECT_EQ(Read("CompList.txt").find("Zor#_01.dll"), std::string::npos);
    bool hookedReported = false;
    for (const ClassEvent& e : sink.classes)
        if (e.info.size() == 5 && e.info[4] == SamplePath()) {
            hookedReported = true;
            EXPECT_EQ(e.info[2], folder + "Zor#_01.dll");
            EXPECT_EQ(e.info[3], "Zor#_01.dll");
            EXPECT_TRUE(e.loadable);
        }
    EXPECT_TRUE(hookedReported);
    ASSERT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;

    // The sample rebuilt (a new last-write time): its group moves and its old
    // text is listed as deleted.
    std::string problem;
    std::map<std::string, Group> before = ParseCompList(firstComp, &problem);
    {
        vx::unique_file f(::CreateFileA(SamplePath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(f);
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        ::SetFileTime(f.get(), nullptr, nullptr, &now);
    }
    ASSERT_EQ(scanner->ScanCompList(VARIANT_FALSE), S_OK);
    const std::string changes = Read("CompListChanges.txt");
    std::string oldGroup = kPlus + "\r\n" + SamplePath() + "\r\n";
    for (const auto& [clsid, name] : before[SamplePath()].classes) oldGroup += clsid + "\r\n" + name + "\r\n";
    size_t deleted = changes.find("\r\n--- Deleted components ---\r\n");
    ASSERT_NE(deleted, std::string::npos);
    EXPECT_EQ(changes.substr(0, deleted), "\r\n--- New components ---\r\n\r\n" + oldGroup) << "the same classes, new signature";
    EXPECT_EQ(changes.substr(deleted), "\r\n--- Deleted components ---\r\n\r\n" + oldGroup.substr(0, oldGroup.size() - 2));

    // A library put into TLBdistilled\ is new at the next scan.
    ::CreateDirectoryA((folder + "TLBdistilled").c_str(), nullptr);
    const std::string imported = folder + "TLBdistilled\\VxSample.tlb";
    ASSERT_TRUE(::CopyFileA(vxinstall::WinePath(VX_SAMPLE_TLB).c_str(), imported.c_str(), FALSE));
    LONG compClasses = 0, tLibs = 0, importedCount = 0, interfaces = 0;
    ASSERT_EQ(scanner->GetAmounts(&compClasses, &tLibs, &importedCount, &interfaces), S_OK);
    EXPECT_EQ(importedCount, 1);
    ASSERT_EQ(scanner->ScanTLBlist(), S_OK);
    const std::string tlbChanges = Read("TLBlistChanges.txt");
    // The rebuilt sample's own library is new too (its signature changed).
    const size_t newInterfaces = tlbChanges.find("\r\n\r\n--- New Interfaces without TypeLibs ---");
    ASSERT_NE(newInterfaces, std::string::npos);
    EXPECT_EQ(tlbChanges.rfind("\r\n--- New TypeLibs ---\r\n\r\n[", 0), 0u);
    EXPECT_LT(tlbChanges.find("\r\n\r\n[" + imported + "]\r\n{"), newInterfaces) << tlbChanges.substr(0, 400);
    EXPECT_LT(tlbChanges.find("\r\n\r\n[" + SamplePath() + "]\r\n{"), newInterfaces);
    const size_t deletedLibraries = tlbChanges.find("\r\n\r\n--- Deleted TypeLibs ---\r\n\r\n[" + SamplePath() + "]\r\n");
    EXPECT_NE(deletedLibraries, std::string::npos) << "the old entry of the rebuilt sample";
    EXPECT_EQ(tlbChanges.find("Interfaces from Registry without TypeLibs]"), std::string::npos);
}

// The kernel reads the scanner's list: an interface the registry no longer
// knows is named from the registry-only section the scan wrote.
TEST_F(TraceTest, AScannedListNamesAnInterfaceTheRegistryNoLongerHas) {
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    ASSERT_EQ(Regsvr32("/s", PolluxPath()).exitCode, 0u);
    std::string error;
    const std::string plain = PlainPath();
    inst.main.modules = {sample, plain};
    Rewrite();
    ASSERT_TRUE(vxinstall::HookComponent(inst.folder, 2, plain, &error)) << error;
    {
        vx::com_ptr<IScanner> scanner;
        ASSERT_EQ(::CoCreateInstance(CLSID_Scanner, nullptr, CLSCTX_INPROC_SERVER, IID_IScanner, scanner.put_void()), S_OK);
        vx::unique_bstr path(::SysAllocString(std::wstring(inst.folder.begin(), inst.folder.end()).c_str()));
        ASSERT_EQ(scanner->put_InstallPath(path.get()), S_OK);
        ::DeleteFileA((inst.folder + "TLBlist.txt").c_str());
        ::DeleteFileA((inst.folder + "TLBlistInd.txt").c_str());
        ASSERT_EQ(scanner->ScanTLBlist(), S_OK);
    }
    ::CoUninitialize();
    ASSERT_EQ(::RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("Interface\\") + kIPlain).c_str()), ERROR_SUCCESS);

    ProcessResult run = RunProgram(ClientCommand("plain"));
    EXPECT_TRUE(vxinstall::RegisterComponent(plain, false, &error)) << error;
    // Other traced tests run without a structure file.
    ::DeleteFileA((inst.folder + "TLBlist.txt").c_str());
    ::DeleteFileA((inst.folder + "TLBlistInd.txt").c_str());
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const std::string text = Distilled();
    EXPECT_NE(text.find("Interface: IPlain (custom)\r\nMethod: VT_UI4 Release ( );"), std::string::npos) << text;
}

}  // namespace e2e
