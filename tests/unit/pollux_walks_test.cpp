// The three registry walks over a private HKEY_CLASSES_ROOT: what they yield,
// what they pass over, their progress events, and values that do not fit.
#include <gtest/gtest.h>

#include <cstdio>

#include "privateroot.h"
#include "walks.h"

namespace {

using Lines = std::vector<std::string>;

std::string Guid(unsigned group, unsigned n) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-1111-2222-3333-%012u}", group, n);
    return text;
}

std::string Text(const pollux::ClassItem& c) {
    return c.clsid + " " + (c.named ? c.name : "-") + " [" + c.serverPath + "] [" + c.realPath + "]";
}
std::string Text(const pollux::TypeLibItem& t) { return t.libid + " " + t.version + " " + t.path; }
std::string Text(const pollux::InterfaceItem& i) { return i.iid + " " + i.name; }

// Each item a walk yields, as one line.
template <typename Cursor, typename Item>
Lines Walk(RecordedEvents& events) {
    Cursor cursor(events);
    Item item;
    Lines yielded;
    while (cursor.Next(&item)) yielded.push_back(Text(item));
    return yielded;
}
const auto Classes = Walk<pollux::ClassCursor, pollux::ClassItem>;
const auto TypeLibs = Walk<pollux::TypeLibCursor, pollux::TypeLibItem>;
const auto Interfaces = Walk<pollux::InterfaceCursor, pollux::InterfaceItem>;

class WalkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(root.ok()); }
    PrivateClassesRoot root;
    RecordedEvents events;
};

}  // namespace

TEST_F(WalkTest, ClassesWithServersReportProgressOnceAtTheEnd) {
    for (unsigned i = 0; i < 120; ++i)
        ASSERT_TRUE(root.SetString("CLSID\\" + Guid(1, i) + "\\InprocServer32", nullptr, "C:\\x" + std::to_string(i) + ".dll"));
    EXPECT_EQ(Classes(events).size(), 120u);
    EXPECT_EQ(events.log, Lines{"ProcessedClasses 120"});

    // Keys without a server report every 50th key.
    for (unsigned i = 0; i < 100; ++i) ASSERT_TRUE(root.Set("CLSID\\" + Guid(2, i)));
    RecordedEvents more;
    EXPECT_EQ(Classes(more).size(), 120u);
    EXPECT_EQ(more.log, (Lines{"ProcessedClasses 150", "ProcessedClasses 200", "ProcessedClasses 220"}));
}

TEST_F(WalkTest, ClassesYieldNamesServersAndHookedRealPaths) {
    const std::string named = "CLSID\\" + Guid(3, 1), hooked = "CLSID\\" + Guid(3, 2), unnamed = "CLSID\\" + Guid(3, 3);
    root.SetString(named, nullptr, "Named Class");
    root.SetString(named + "\\InprocServer32", nullptr, "%SystemRoot%\\system32\\x.dll", REG_EXPAND_SZ);
    root.SetString(hooked, nullptr, "Hooked Class");
    root.SetString(hooked + "\\INPROCSERVER32", nullptr, "C:\\Vexilo\\zOr#_03.dll");
    root.SetString(hooked + "\\INPROCSERVER32", "TypeLib", "C:\\real\\comp.dll");
    root.Set(unnamed + "\\InprocServer32");
    root.SetString("CLSID\\{not-a-class}\\InprocServer32", nullptr, "C:\\bad.dll");
    root.SetString("CLSID\\" + Guid(3, 4) + "\\LocalServer32", nullptr, "C:\\exe.exe");

    EXPECT_EQ(Classes(events), (Lines{Guid(3, 1) + " Named Class [%SystemRoot%\\system32\\x.dll] []",  // not expanded
                                      Guid(3, 2) + " Hooked Class [C:\\Vexilo\\zOr#_03.dll] [C:\\real\\comp.dll]",
                                      Guid(3, 3) + " - [] []"}));
    EXPECT_EQ(events.log, Lines{"ProcessedClasses 5"});
}

TEST_F(WalkTest, ClassValuesLongerThanTheBuffersAreRefused) {
    const std::string key = "CLSID\\" + Guid(4, 1);
    root.SetString(key, nullptr, std::string(299, 'n'));  // 299 characters and the terminator fit
    root.SetString(key + "\\InprocServer32", nullptr, "C:\\" + std::string(400, 'p') + ".dll");
    root.SetString("CLSID\\" + Guid(4, 2), nullptr, std::string(300, 'm'));
    root.SetString("CLSID\\" + Guid(4, 2) + "\\InprocServer32", nullptr, "C:\\ok.dll");
    // A 400-character path is not cut into another path; a 300-character
    // name does not fit with its terminator.
    EXPECT_EQ(Classes(events), (Lines{Guid(4, 1) + " " + std::string(299, 'n') + " [] []", Guid(4, 2) + " - [C:\\ok.dll] []"}));
}

TEST_F(WalkTest, OneTypeLibraryPathPerVersionFromItsFirstLocaleWithAPlatform) {
    const std::string a = "TypeLib\\" + Guid(5, 1), b = "TypeLib\\" + Guid(5, 2);
    root.SetString(a + "\\1.0\\409a\\win32", nullptr, "C:\\a-409a.tlb");
    root.SetString(a + "\\1.0\\9\\win32", nullptr, "C:\\a-9.tlb");
    root.SetString(a + "\\2.0\\0\\WIN32", nullptr, "%SystemRoot%\\a2.tlb", REG_EXPAND_SZ);
    root.SetString(a + "\\2.0\\409\\win32", nullptr, "C:\\a2-second-locale.tlb");
    root.SetString(b + "\\1.0\\0\\win32", nullptr, "C:\\b32.tlb");
    root.SetString(b + "\\1.0\\0\\win64", nullptr, "C:\\b64.tlb");
    root.SetString(b + "\\1.1\\0\\win16", nullptr, "C:\\b16.tlb");
    root.SetString(b + "\\1.2\\0\\win32", nullptr, "C:\\" + std::string(300, 'l') + ".tlb");

    char windows[MAX_PATH];
    ::GetEnvironmentVariableA("SystemRoot", windows, sizeof windows);
    // A 64-bit process reads the win64 path first.
    const std::string bPath = sizeof(void*) == 8 ? "C:\\b64.tlb" : "C:\\b32.tlb";
    EXPECT_EQ(TypeLibs(events), (Lines{Guid(5, 1) + " 1.0 C:\\a-9.tlb", Guid(5, 1) + " 2.0 " + windows + "\\a2.tlb",
                                       Guid(5, 2) + " 1.0 " + bPath}));
    EXPECT_EQ(events.log, (Lines{"CompName C:\\a-9.tlb", std::string("CompName ") + windows + "\\a2.tlb",
                                 "CompName " + bPath, "ProcessedTLibs 2"}));
}

// A CompName per library is the one-path-per-version case's.
TEST_F(WalkTest, TypeLibrariesReportProgressEveryFifthLibrary) {
    for (unsigned i = 0; i < 12; ++i) root.SetString("TypeLib\\" + Guid(6, i) + "\\1.0\\0\\win32", nullptr, "C:\\t.tlb");
    TypeLibs(events);
    EXPECT_EQ(events.Only("ProcessedTLibs"), (Lines{"ProcessedTLibs 5", "ProcessedTLibs 10", "ProcessedTLibs 12"}));
}

TEST_F(WalkTest, NamedIdShapedInterfaceKeysOnlyWithProgress) {
    root.SetString("Interface\\" + Guid(7, 1), nullptr, "IGood");
    root.SetString("Interface\\" + Guid(7, 2) + "x", nullptr, "ILonger");
    root.SetString("Interface\\" + Guid(7, 3), nullptr, "");
    root.SetString("Interface\\" + Guid(7, 4), nullptr, std::string(199, 'i'));
    root.SetString("Interface\\" + Guid(7, 5), nullptr, std::string(200, 'j'));
    root.SetString("Interface\\{7-1111-2222-3333-000000000006}", nullptr, "IBadShape");
    for (unsigned i = 0; i < 44; ++i) root.Set("Interface\\" + Guid(8, i));

    EXPECT_EQ(Interfaces(events), (Lines{Guid(7, 1) + " IGood", Guid(7, 2) + " ILonger", Guid(7, 4) + " " + std::string(199, 'i')}));
    EXPECT_EQ(events.Only("ProcessedInterfaces"), (Lines{"ProcessedInterfaces 50", "ProcessedInterfaces 50"})) << "the 50th key, then the end";
    EXPECT_EQ(events.Only("InterfName").size(), 3u);

    // A registered interface and one that is not are told apart in the
    // engine's type-library scan, whose registry names its keys in capitals.
    std::string lower = Guid(7, 1);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(pollux::IsInterfaceRegistered(lower)) << "ids compare without regard to case";
}
