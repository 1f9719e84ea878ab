// Whole scans on a private HKEY_CLASSES_ROOT and a temporary folder: the list
// files as written, rescans, touched and imported files, and lists that
// cannot be opened.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine.h"
#include "indexrecord.h"
#include "privateroot.h"
#include "tempdir.h"
#include "testinstall.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kLibId[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E01}";
constexpr char kMyItf[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E02}";
constexpr char kPlainItf[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E03}";
constexpr char kOther[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E04}";
constexpr char kClassTyped[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E11}";
constexpr char kClassPlain[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E12}";
constexpr char kClassHooked[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E13}";
constexpr char kClassGone[] = "{6D1C4E10-7A55-4C4B-9D0E-0A1B2C3D4E14}";

int Slot() { return static_cast<int>(sizeof(void*)); }

std::string Numbers(int b, int g, int d, int min, int max, int r) {
    char t[96];
    std::snprintf(t, sizeof t, "; %d; %d, %d; %d, %d; %d;", b, g, d, min, max, r);
    return t;
}

// The test library's entry, derived by hand: IMyItf's own methods in slots
// 7 to 9 after IDispatch's seven, IPlainItf's in 3 and 4 after IUnknown's.
std::string LibraryEntry(const std::string& path) {
    return "[" + path + "]\r\n" + kMyItf + "\r\nIMyItf:IDispatch:IUnknown" + Numbers(0, 0, 0, 7 * Slot(), 9 * Slot(), 1) +
           "\r\n" + kPlainItf + "\r\nIPlainItf:IUnknown" + Numbers(1, 0, 0, 3 * Slot(), 4 * Slot(), 0);
}

std::string Copy(const std::string& from, const std::string& to) {
    ::CopyFileA(from.c_str(), to.c_str(), FALSE);
    return to;
}

class ScanEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.ok());
        engine.SetFolder(dir.path());
        tlb = Copy(vxinstall::WinePath(VX_SCANLIB_TLB), dir / "scanlib.tlb");
        plainDll = Copy(vxinstall::WinePath(VX_PLAIN_FILE), dir / "plain.dll");
    }
    // The standard library as every registry has it: loading a library that
    // imports it then finds it there instead of registering it on the way.
    std::string RegisterStandardLibrary() {
        char system[MAX_PATH];
        ::GetSystemDirectoryA(system, sizeof system);
        const std::string path = std::string(system) + "\\stdole2.tlb";
        for (const char* platform : {"win32", "win64"})
            root.SetString(std::string("TypeLib\\{00020430-0000-0000-C000-000000000046}\\2.0\\0\\") + platform, nullptr, path);
        return path;
    }
    void RegisterLibrary() {
        root.SetString(std::string("TypeLib\\") + kLibId + "\\1.0\\0\\win32", nullptr, tlb);
        root.SetString(std::string("Interface\\") + kMyItf, nullptr, "IMyItf");
        root.SetString(std::string("Interface\\") + kOther, nullptr, "IOther");
    }
    void RegisterClasses() {
        root.SetString(std::string("CLSID\\") + kClassTyped, nullptr, "Typed Class");
        root.SetString(std::string("CLSID\\") + kClassTyped + "\\InprocServer32", nullptr, tlb);
        root.SetString(std::string("CLSID\\") + kClassPlain + "\\InprocServer32", nullptr, plainDll);
        root.SetString(std::string("CLSID\\") + kClassHooked, nullptr, "Hooked Class");
        root.SetString(std::string("CLSID\\") + kClassHooked + "\\InprocServer32", nullptr, dir / "Zor#_01.dll");
        root.SetString(std::string("CLSID\\") + kClassHooked + "\\InprocServer32", "TypeLib", tlb);
        root.SetString(std::string("CLSID\\") + kClassGone + "\\InprocServer32", nullptr, dir / "missing.dll");
    }
    std::string Read(const char* name) { return ReadWhole(dir / name); }

    TempDir dir;
    PrivateClassesRoot root;
    pollux::ScanEngine engine;
    std::string tlb, plainDll;
};

}  // namespace

TEST_F(ScanEngineTest, TypeLibraryListFirstScanRescanAndImportedLibrary) {
    const std::string standard = RegisterStandardLibrary();
    RegisterLibrary();
    RecordedEvents events;
    ASSERT_EQ(engine.ScanTLBlist(events), S_OK);
    const std::string first = Read("TLBlist.txt");
    // The standard library's entry first (its key sorts first), then ours.
    const std::string ours = "\r\n\r\n" + LibraryEntry(tlb) + "\r\n\r\n[Interfaces from Registry without TypeLibs]\r\n" +
                             kOther + "\r\nIOther\r\n";
    ASSERT_GT(first.size(), ours.size());
    EXPECT_EQ(first.substr(0, standard.size() + 6), "\r\n\r\n[" + standard + "]");
    EXPECT_EQ(first.substr(first.size() - ours.size()), ours);
    EXPECT_EQ(first.find("{00020400-0000-0000-C000-000000000046}\r\nIDispatch:IUnknown; "),
              first.find("{00020400-0000-0000-C000-000000000046}"))
        << "IDispatch described by the standard library";
    EXPECT_EQ(events.log, (Lines{"CompName " + standard, "CompName " + tlb, "ProcessedTLibs 2", "ProcessedImportedTLibs 0",
                                 "InterfName IMyItf", "InterfName IOther", "ProcessedInterfaces 2"}));
    EXPECT_EQ(Read("TLBlistInd.txt").size(), 4 * sizeof(pollux::IndexRecord));
    EXPECT_FALSE(FileExists(dir / "TLBlistChanges.txt")) << "a first scan writes no change list";

    RecordedEvents again;
    ASSERT_EQ(engine.ScanTLBlist(again), S_OK);
    EXPECT_EQ(Read("TLBlist.txt"), first);
    EXPECT_EQ(Read("TLBlistChanges.txt"), kNoTlbChanges);
    EXPECT_FALSE(FileExists(dir / "TLBlistTmp.txt"));

    // A library put into TLBdistilled\ is new at the next scan.
    ::CreateDirectoryA((dir / "TLBdistilled").c_str(), nullptr);
    EXPECT_EQ(engine.GetAmounts().importedTLibs, 0);
    const std::string imported = Copy(tlb, dir / "TLBdistilled\\imported.tlb");
    EXPECT_EQ(engine.GetAmounts().importedTLibs, 1);
    RecordedEvents third;
    ASSERT_EQ(engine.ScanTLBlist(third), S_OK);
    EXPECT_EQ(Read("TLBlistChanges.txt"), "\r\n--- New TypeLibs ---\r\n\r\n" + LibraryEntry(imported) +
                                              kNoTlbChanges.substr(std::string("\r\n--- New TypeLibs ---").size()));
    EXPECT_EQ(third.Only("ProcessedImportedTLibs"), Lines{"ProcessedImportedTLibs 1"});
    EXPECT_EQ(Read("TLBlist.txt"), "\r\n\r\n" + LibraryEntry(imported) + first);
}

TEST_F(ScanEngineTest, ComponentListFirstScanRescanAndTouchedDll) {
    RegisterStandardLibrary();
    RegisterClasses();
    RecordedEvents events;
    ASSERT_EQ(engine.ScanCompList(true, events), S_OK);
    const std::string typedGroup = "\r\n" + kPlus + "\r\n" + tlb + "\r\n" + kClassTyped + "\r\nTyped Class\r\n" +
                                   kClassHooked + "\r\nHooked Class\r\n";
    const std::string plainGroup = "\r\n" + kMinus + "\r\n" + plainDll + "\r\n" + kClassPlain + "\r\n<No class name>\r\n";
    const std::string first = Read("CompList.txt");
    EXPECT_EQ(first, typedGroup + plainGroup);
    EXPECT_EQ(engine.GetCompAmountInList(), 2);
    EXPECT_EQ(events.log,
              (Lines{"CompName " + tlb, "OneMoreClass " + std::string(kClassTyped) + " Typed Class | " + tlb + " |  loadable",
                     "OneMoreClass " + std::string(kClassPlain) + "  | " + plainDll + " |  not loadable",
                     "OneMoreClass " + std::string(kClassHooked) + " Hooked Class | " + (dir / "Zor#_01.dll") + " | " +
                         tlb + " loadable",
                     "OneMoreClass " + std::string(kClassGone) + "  | " + (dir / "missing.dll") + " |  not loadable",
                     "ProcessedClasses 4"}));

    RecordedEvents quiet;
    ASSERT_EQ(engine.ScanCompList(false, quiet), S_OK);
    EXPECT_EQ(quiet.log, Lines{"ProcessedClasses 4"}) << "no OneMoreClass, and no CompName after a first scan";
    EXPECT_EQ(Read("CompList.txt"), first);
    EXPECT_EQ(Read("CompListChanges.txt"), "\r\n--- New components ---\r\n\r\n--- Deleted components ---\r\n");

    // A new last-write time: the DLL's group moves to the new part and its
    // old text is listed as deleted.
    HANDLE f = ::CreateFileA(plainDll.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME later = {0x12345678, 0x01D00000};
    ::SetFileTime(f, nullptr, nullptr, &later);
    ::CloseHandle(f);
    RecordedEvents touched;
    ASSERT_EQ(engine.ScanCompList(false, touched), S_OK);
    EXPECT_EQ(Read("CompListChanges.txt"), "\r\n--- New components ---\r\n" + plainGroup +
                                               "\r\n--- Deleted components ---\r\n" +
                                               plainGroup.substr(0, plainGroup.size() - 2));
    EXPECT_EQ(Read("CompList.txt"), plainGroup + typedGroup);
    EXPECT_EQ(engine.GetCompAmountInList(), 2);
}

TEST_F(ScanEngineTest, ListsThatCannotBeOpenedFailTheScan) {
    ::CreateDirectoryA((dir / "CompListInd.txt").c_str(), nullptr);
    ::CreateDirectoryA((dir / "TLBlist.txt").c_str(), nullptr);
    RecordedEvents events;
    EXPECT_EQ(engine.ScanCompList(true, events), pollux::kScanFailed);
    EXPECT_EQ(engine.ScanTLBlist(events), pollux::kScanFailed);
    EXPECT_TRUE(events.log.empty());
    ::RemoveDirectoryA((dir / "CompListInd.txt").c_str());
    ::RemoveDirectoryA((dir / "TLBlist.txt").c_str());
    EXPECT_EQ(engine.GetCompAmountInList(), 0);
}
