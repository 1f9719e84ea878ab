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
