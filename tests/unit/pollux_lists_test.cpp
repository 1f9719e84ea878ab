// The scan lists in memory: index records byte for byte, signatures, the
// component list and the type-library list over first and later scans.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "complist.h"
#include "privateroot.h"
#include "signature.h"
#include "structurefile.h"
#include "tlblist.h"

namespace {

using pollux::ClassItem;
using pollux::CompList;
using pollux::IndexRecord;
using pollux::TlbList;

constexpr char kClass1[] = "{11111111-0000-0000-0000-000000000001}";
constexpr char kClass2[] = "{11111111-0000-0000-0000-000000000002}";
constexpr char kClass3[] = "{11111111-0000-0000-0000-000000000003}";

ClassItem Class(const char* clsid, const char* name) {
    ClassItem item;
    item.clsid = clsid;
    item.named = name != nullptr;
    item.name = name ? name : "";
    return item;
}

// Every record of an index points at the start of its entry.
void ExpectOffsetsAt(const std::string& text, const std::vector<IndexRecord>& index, const std::string& lead) {
    for (const IndexRecord& r : index) {
        if (pollux::IsSeparator(r) || r.offset == 0) continue;
        ASSERT_LT(static_cast<size_t>(r.offset), text.size());
        EXPECT_EQ(text.compare(static_cast<size_t>(r.offset), lead.size(), lead), 0)
            << "record at " << r.offset << " does not begin with " << lead;
    }
}

}  // namespace

// The layout is pinned where it is defined.
TEST(IndexRecordTest, ATrailingPartialRecordIsNoRecord) {
    std::string bytes = pollux::IndexBytes({pollux::MakeRecord(0x01020304, 0x1122334455667788ull),
                                            pollux::SeparatorRecord()});
    std::vector<IndexRecord> back = pollux::ParseIndex(bytes + "\x01\x02");
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].offset, 0x01020304);
    EXPECT_EQ(pollux::SignatureOf(back[0]), 0x1122334455667788ull);
    EXPECT_TRUE(pollux::IsSeparator(back[1]));
}

// A rebuilt file or a renamed entry looks changed to the next scan; no
// signature is 0, which stands for "no file".
TEST(SignatureTest, EachAttributeChangesItAndNoneIsZero) {
    const std::string path = "C:\\comp\\a.dll";  // longer than one 8-byte word
    const pollux::ScanSignature signature = pollux::AttributeSignature(path, WIN32_FILE_ATTRIBUTE_DATA{});
    WIN32_FILE_ATTRIBUTE_DATA changed[4] = {};
    ++changed[0].ftLastWriteTime.dwLowDateTime;
    ++changed[1].ftCreationTime.dwHighDateTime;
    ++changed[2].nFileSizeLow;
    ++changed[3].nFileSizeHigh;
    for (const WIN32_FILE_ATTRIBUTE_DATA& d : changed)
        EXPECT_NE(pollux::AttributeSignature(path, d), signature) << "attribute " << &d - changed;
    EXPECT_NE(pollux::AttributeSignature("C:\\comp\\b.dll", WIN32_FILE_ATTRIBUTE_DATA{}), signature);
    const std::string iid = "{AD602DDF-3CE0-4BFC-9717-76820C968DF2}";
    EXPECT_NE(pollux::EntrySignature(iid, "ITypes"), pollux::EntrySignature(iid, "ITypez"));
    EXPECT_EQ(pollux::EntrySignature("", ""), 1u);
    EXPECT_EQ(pollux::AttributeSignature("", WIN32_FILE_ATTRIBUTE_DATA{}), 1u);
}

// A first scan's text, an unchanged rescan's list and its empty change list,
// and the index that a touched DLL's rescan reads back are checked by the
// engine's whole scans; here the type-library loads they cannot see, and a
// rescan that finds a DLL gone.
TEST(CompListTest, RescansKeepUnchangedGroupsAndListChanges) {
    CompList first;
    int loadCalls = 0;
    const auto loads = [&loadCalls](const std::string& path) {
        ++loadCalls;
        return path.find("typed") != std::string::npos;
    };
    EXPECT_TRUE(first.Add(Class(kClass1, "One"), "C:\\typed.dll", 10, loads).newLoadingGroup);
    first.Add(Class(kClass2, nullptr), "C:\\plain.dll", 20, loads);
    EXPECT_FALSE(first.Add(Class(kClass3, "Three"), "C:\\typed.dll", 10, loads).newLoadingGroup);
    EXPECT_EQ(loadCalls, 2) << "one type-library load per new DLL";
    const std::string text = first.ListText();
    const std::vector<IndexRecord> index = first.Index();

    CompList same(text, index);
    EXPECT_TRUE(same.Add(Class(kClass1, "One"), "C:\\typed.dll", 10, loads).loadable) << "kept '+' group";
    same.Add(Class(kClass3, "Three"), "C:\\typed.dll", 10, loads);
    EXPECT_FALSE(same.Add(Class(kClass2, nullptr), "C:\\plain.dll", 20, loads).loadable) << "kept '-' group";
    EXPECT_EQ(loadCalls, 2) << "kept groups load nothing";

    // The typed DLL rebuilt: new signature. Its group moves to the new part
    // and its old text shows as deleted; the plain DLL is gone altogether.
    CompList touched(text, index);
    touched.Add(Class(kClass1, "One"), "C:\\typed.dll", 11, loads);
    const std::string newGroup = "\r\n" + kPlus + "\r\nC:\\typed.dll\r\n" + kClass1 + "\r\nOne\r\n";
    EXPECT_EQ(touched.ListText(), newGroup);
    EXPECT_EQ(touched.ChangesText(), "\r\n--- New components ---\r\n" + newGroup + "\r\n--- Deleted components ---\r\n" +
                                         "\r\n" + kPlus + "\r\nC:\\typed.dll\r\n" + kClass1 + "\r\nOne\r\n" + kClass3 +
                                         "\r\nThree\r\n" + kMinus + "\r\nC:\\plain.dll\r\n" + kClass2 + "\r\n<No class name>");
}

namespace {

constexpr char kIidOne[] = "{AAAAAAAA-0000-0000-0000-000000000001}";
constexpr char kIidTwo[] = "{AAAAAAAA-0000-0000-0000-000000000002}";
constexpr char kIidThree[] = "{AAAAAAAA-0000-0000-0000-000000000003}";
const std::string kLibOne = std::string("[C:\\one.tlb]\r\n") + kIidOne + "\r\nIOne:IUnknown; 0; 0, 0; 12, 16; 1;";
const std::string kLibTwo = std::string("[C:\\two.tlb]\r\n") + kIidThree + "\r\nIThree:IDispatch:IUnknown; 2; 0, 0; 28, 28; 0;";
const std::string kHeader = "\r\n\r\n[Interfaces from Registry without TypeLibs]";

// Libraries one (loads), a broken one, two; interfaces one (in library one,
// registered in lower case) and two (no library).
TlbList FirstScan() {
    TlbList list;
    list.AddLibrary(7, kLibOne);
    list.AddLibrary(8, "");
    list.AddLibrary(9, kLibTwo);
    list.AddInterface("{aaaaaaaa-0000-0000-0000-000000000001}", "IOne");
    list.AddInterface(kIidTwo, "ITwo");
    return list;
}

}  // namespace

TEST(TlbListTest, FirstScanListsLibrariesThenInterfacesWithoutLibraries) {
    TlbList list = FirstScan();
    const std::string text = list.ListText();
    EXPECT_EQ(text, "\r\n\r\n" + kLibOne + "\r\n\r\n" + kLibTwo + kHeader + "\r\n" + kIidTwo + "\r\nITwo\r\n");
    std::vector<IndexRecord> index = list.Index();
    ASSERT_EQ(index.size(), 5u);
    EXPECT_EQ(index[0].offset, 4);
    EXPECT_EQ(index[1].offset, 0) << "a library that does not load has no text";
    EXPECT_EQ(pollux::SignatureOf(index[1]), 8u);
    EXPECT_EQ(text.substr(static_cast<size_t>(index[2].offset), 13), "[C:\\two.tlb]\r");
    EXPECT_TRUE(pollux::IsSeparator(index[3]));
    EXPECT_EQ(text.substr(static_cast<size_t>(index[4].offset), 38), kIidTwo);
    EXPECT_EQ(pollux::SignatureOf(index[4]), pollux::EntrySignature(kIidTwo, "ITwo"));

    // The kernel's reader finds both kinds of entries in the written text.
    vx::StructureEntry e;
    ASSERT_TRUE(vx::FindStructureEntry(text, kIidThree, &e));
    EXPECT_EQ(e.section, "C:\\two.tlb");
    EXPECT_EQ(e.name, "IThree");
    ASSERT_TRUE(vx::FindStructureEntry(text, kIidTwo, &e));
    EXPECT_EQ(e.section, vx::kRegistryOnlySection);
    EXPECT_EQ(e.name, "ITwo");
}

TEST(TlbListTest, DeletingTheLastLibraryKeepsOneHeaderOutOfTheChanges) {
    TlbList first = FirstScan();
    const std::string text = first.ListText();
    TlbList next(text, first.Index());
    next.Keep(7);
    next.Keep(8);
    const std::string libNew = std::string("[C:\\new.tlb]\r\n") + kIidThree + "\r\nIThree; 999999; 0, 0; 0, 0; 0;";
    next.AddLibrary(10, libNew);
    next.AddInterface(kIidTwo, "ITwo");
    next.AddInterface("{AAAAAAAA-0000-0000-0000-000000000004}", "IFour");
    const std::string second = next.ListText();
    EXPECT_EQ(second, "\r\n\r\n" + libNew + "\r\n\r\n" + kLibOne + kHeader +
                          "\r\n{AAAAAAAA-0000-0000-0000-000000000004}\r\nIFour\r\n" + kIidTwo + "\r\nITwo\r\n");
    EXPECT_EQ(next.ChangesText(), "\r\n--- New TypeLibs ---\r\n\r\n" + libNew +
                                      "\r\n\r\n--- New Interfaces without TypeLibs ---"
                                      "\r\n\r\n{AAAAAAAA-0000-0000-0000-000000000004}\r\nIFour"
                                      "\r\n\r\n--- Deleted TypeLibs ---\r\n\r\n" + kLibTwo +
                                      "\r\n\r\n--- Deleted Interfaces without TypeLibs ---");
    ExpectOffsetsAt(second, next.Index(), "");

    // A third scan drops the library that preceded the header again.
    TlbList third(second, next.Index());
    third.Keep(10);
    third.AddInterface(kIidTwo, "ITwo");
    EXPECT_EQ(third.ListText(), "\r\n\r\n" + libNew + kHeader + "\r\n" + kIidTwo + "\r\nITwo\r\n") << "one header";
    const std::string changes = third.ChangesText();
    EXPECT_EQ(changes.find("Interfaces from Registry without TypeLibs]"), std::string::npos) << changes;
    EXPECT_NE(changes.find("--- Deleted TypeLibs ---\r\n\r\n" + kLibOne + "\r\n\r\n--- Deleted Interfaces without TypeLibs ---\r\n\r\n{AAAAAAAA-0000-0000-0000-000000000004}\r\nIFour"),
              std::string::npos)
        << changes;
}

// An unchanged rescan is checked by the engine's whole-scan test.
TEST(TlbListTest, AFileReachedTwiceStaysListedTwice) {
    TlbList list;
    list.AddLibrary(7, kLibOne);
    list.AddLibrary(7, kLibOne);
    const std::string text = list.ListText();
    TlbList again(text, list.Index());
    EXPECT_TRUE(again.Keep(7));
    EXPECT_TRUE(again.Keep(7));
    EXPECT_FALSE(again.Keep(7)) << "each old record answers once";
    EXPECT_EQ(again.ListText(), text);
    EXPECT_EQ(again.ChangesText(), kNoTlbChanges);
}

// No record limit per scan: each of many new entries has a record of its own
// at its start, and an unchanged rescan keeps them all.
TEST(ListsTest, MoreThanFiveThousandNewEntriesAreAllListed) {
    constexpr int kEntries = 5600;
    auto check = [](auto list, auto add, const std::string& lead) {
        for (int i = 0; i < kEntries; ++i) add(list, i);
        const std::string text = list.ListText();
        const std::vector<IndexRecord> index = list.Index();
        std::set<int32_t> offsets;
        for (const IndexRecord& r : index)
            if (!pollux::IsSeparator(r)) offsets.insert(r.offset);
        EXPECT_EQ(offsets.size(), static_cast<size_t>(kEntries)) << lead;
        ExpectOffsetsAt(text, index, lead);
        decltype(list) again(text, index);
        for (int i = 0; i < kEntries; ++i) add(again, i);
        EXPECT_EQ(again.ListText(), text);
        EXPECT_EQ(again.ChangesText().find(lead), std::string::npos);
    };
    check(CompList(), [](CompList& list, int i) {
        list.Add(Class(kClass1, "One"), "C:\\dll" + std::to_string(i) + ".dll", 1000 + i,
                 [](const std::string&) { return false; });
    }, kMinus + "\r\nC:\\dll");
    check(TlbList(), [](TlbList& list, int i) {
        char iid[40];
        std::snprintf(iid, sizeof iid, "{BBBBBBBB-0000-0000-0000-%012d}", i);
        list.AddInterface(iid, "I" + std::to_string(i));
    }, "{BBBBBBBB-");
}
