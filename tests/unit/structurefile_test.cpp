// The structure file's shared reader, on a text laid out as the scanner writes it.
#include <gtest/gtest.h>

#include "structurefile.h"

namespace {

constexpr std::string_view kText =
    "[C:\\Libs\\one.tlb]\r\n"
    "{11111111-2222-3333-4444-555555555555}\r\n"
    "// dual interface\r\n"
    "  indented, not a descriptor\r\n"
    "IFirst:IDispatch:IUnknown; 3; 0, 0; 28, 52; 1;\r\n"
    "{22222222-2222-3333-4444-555555555555}\r\n"
    "_ISecond; 999999; 0, 0; 0, 0; 0;\r\n"
    "[Interfaces from Registry without TypeLibs]\r\n"
    "{33333333-2222-3333-4444-555555555555}\r\n"
    "IThird";  // the last line of the file has no line break

}  // namespace

TEST(StructureFileTest, EntriesFindTheirSectionLineAndName) {
    vx::StructureEntry e;
    ASSERT_TRUE(vx::FindStructureEntry(kText, "{11111111-2222-3333-4444-555555555555}", &e));
    EXPECT_EQ(e.section, "C:\\Libs\\one.tlb");
    EXPECT_EQ(e.line, "IFirst:IDispatch:IUnknown; 3; 0, 0; 28, 52; 1;");
    EXPECT_EQ(e.name, "IFirst");
    int index = 0;
    ASSERT_TRUE(vx::DescriptorIndex(e.line, &index));
    EXPECT_EQ(index, 3);

    ASSERT_TRUE(vx::FindStructureEntry(kText, "{22222222-2222-3333-4444-555555555555}", &e));
    EXPECT_EQ(e.name, "_ISecond");
    ASSERT_TRUE(vx::DescriptorIndex(e.line, &index));
    EXPECT_EQ(index, vx::kNotFromIUnknown);

    ASSERT_TRUE(vx::FindStructureEntry(kText, "{33333333-2222-3333-4444-555555555555}", &e));
    EXPECT_EQ(e.section, vx::kRegistryOnlySection);
    EXPECT_EQ(e.name, "IThird");
    EXPECT_FALSE(vx::DescriptorIndex(e.line, &index)) << "no numeric part";
}

TEST(StructureFileTest, IdsMatchExactlyAndMissingOnesAreNotFound) {
    vx::StructureEntry e;
    EXPECT_FALSE(vx::FindStructureEntry(kText, "{11111111-2222-3333-4444-55555555555A}", &e));
    EXPECT_FALSE(vx::FindStructureEntry(kText, "{11111111-2222-3333-4444-555555555555", &e)) << "37 characters";
    EXPECT_FALSE(vx::FindStructureEntry("", "{11111111-2222-3333-4444-555555555555}", &e));
    EXPECT_EQ(vx::DescriptorLineAfter("{x}\r\n// only a comment\r\n", 0), "");
}

// Read back through the kernel's reader by the type-library list's tests.
TEST(StructureFileTest, EntriesAreWrittenAsTheScannerLaysThemOut) {
    std::string text;
    vx::AppendSectionHeader(text, "C:\\Libs\\two.tlb");
    vx::DescriptorNumbers n;
    n.index = 0;
    n.smallest = 28;
    n.largest = 36;
    n.registered = 1;
    vx::AppendInterfaceEntry(text, "{44444444-2222-3333-4444-555555555555}",
                             "IMyItf:IDispatch:IUnknown" + vx::DescriptorNumbersText(n));
    vx::AppendSectionHeader(text, vx::kRegistryOnlySection);
    vx::AppendInterfaceEntry(text, "{55555555-2222-3333-4444-555555555555}", "IPlainName");
    EXPECT_EQ(text,
              "\r\n\r\n[C:\\Libs\\two.tlb]\r\n{44444444-2222-3333-4444-555555555555}\r\n"
              "IMyItf:IDispatch:IUnknown; 0; 0, 0; 28, 36; 1;"
              "\r\n\r\n[Interfaces from Registry without TypeLibs]\r\n{55555555-2222-3333-4444-555555555555}\r\nIPlainName");
    EXPECT_EQ(text.substr(vx::kSectionLead, 1), "[");
    EXPECT_EQ(vx::DescriptorNumbersText(vx::DescriptorNumbers{}), "; 999999; 0, 0; 0, 0; 0;");
}
