// The sample component and its client without any hook: the values every
// traced run is compared against.
#include "describe.h"
#include "e2e.h"

using namespace e2e;

namespace {

std::string WithoutCarriageReturns(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out.push_back(c);
    return out;
}

}  // namespace

// The expected text was checked by hand (Add(2,3) is 5, Divide(1,0) fails with
// DISP_E_DIVBYZERO, ...); both architectures must print exactly it, which also
// shows that 64-bit argument passing gives the same results.
TEST(SampleComponent, ClientPrintsTheExpectedResults) {
    std::string error;
    ASSERT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
    ASSERT_TRUE(vxinstall::RegisterComponent(PlainPath(), false, &error)) << error;
    ProcessResult run = RunProgram(Quoted(ClientPath()) + " all");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(WithoutCarriageReturns(run.output), WithoutCarriageReturns(ReadFileText(VX_EXPECTED_ALL)));
}

TEST(SampleComponent, BadCommandLinesAndUnregisteredClassesFail) {
    EXPECT_EQ(RunProgram(Quoted(ClientPath())).exitCode, 2u);
    EXPECT_EQ(RunProgram(Quoted(ClientPath()) + " nosuch").exitCode, 2u);
    EXPECT_EQ(RunProgram(Quoted(ClientPath()) + " loop 0").exitCode, 2u);

    std::string error;
    ASSERT_TRUE(vxinstall::RegisterComponent(PlainPath(), true, &error)) << error;
    ProcessResult run = RunProgram(Quoted(ClientPath()) + " plain");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.output.find("hr=0x80040154 (class not registered)"), std::string::npos) << run.output;
    ASSERT_TRUE(vxinstall::RegisterComponent(PlainPath(), false, &error)) << error;
}

TEST(SampleComponent, RegistrationWritesTheTypeLibraryOfTheRightPlatform) {
    std::string error;
    ASSERT_TRUE(vxinstall::RegisterComponent(SamplePath(), false, &error)) << error;
    char value[MAX_PATH] = {};
    LONG size = sizeof value;
    std::string key = "TypeLib\\{3889D652-57D2-4707-97BB-167C677D198A}\\1.0\\0\\" +
                      std::string(sizeof(void*) == 8 ? "win64" : "win32");
    ASSERT_EQ(::RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size), ERROR_SUCCESS) << key;
    EXPECT_STRCASEEQ(value, SamplePath().c_str());
    size = sizeof value;
    ASSERT_EQ(::RegQueryValueA(HKEY_CLASSES_ROOT, "VxPlain.Plain\\CLSID", value, &size), ERROR_SUCCESS);
    EXPECT_STREQ(value, "{9745D68C-1400-4D1C-A75E-7636E9352688}");
    size = sizeof value;
    ASSERT_EQ(::RegQueryValueA(HKEY_CLASSES_ROOT, "Interface\\{B3A5848F-CEFF-4B33-8503-0D2FFFF8FA4E}\\NumMethods",
                               value, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, "7");
}

// In the end-to-end tests: it registers the sample, which the traced tests
// must not see happen under them.
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
    // An id nobody knows: nothing.
    const IID unknown = {0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_FALSE(korbin::DescribeInterface(unknown, nullptr, d));
    korbin::ForgetDescriptions();
}
